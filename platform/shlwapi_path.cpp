// SHLWAPI paths: PathRemoveFileSpecA, PathAppendA, PathAddBackslashA, with Windows' results
// for Windows paths; '/' is a separator as well as '\', and a join uses the separator the path
// already has ('\' when it has none), so Linux paths stay Linux paths.
// PathAppendA removes "." and ".." elements as PathCanonicalizeA does for ordinary paths.
// Not supported: multibyte code pages (every byte is one character).
#include "platform/win32.h"

#include <cstring>

namespace {

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

char separatorOf(const char *path)
{
    for (const char *p = path; *p; ++p)
        if (isSeparator(*p))
            return *p;
    return '\\';
}

bool isUnc(const char *path)
{
    return isSeparator(path[0]) && isSeparator(path[1]);
}

bool hasDrive(const char *path)
{
    char letter = char(path[0] & ~0x20);
    return letter >= 'A' && letter <= 'Z' && path[1] == ':';
}

// Drops "." elements and folds ".." into the element before it, never above the root.
void canonicalize(char *path)
{
    char *root = path;
    if (hasDrive(root))
        root += 2;
    else if (isUnc(root))
        root += 2;
    if (isSeparator(*root))
        ++root;
    char *out = root;
    for (const char *in = root; *in;) {
        const char *end = in;
        while (*end && !isSeparator(*end))
            ++end;
        size_t length = size_t(end - in);
        bool trailing = !*end;
        if (length == 1 && in[0] == '.') {
            // nothing
        } else if (length == 2 && in[0] == '.' && in[1] == '.') {
            if (out > root) {
                --out; // the separator after the previous element
                while (out > root && !isSeparator(out[-1]))
                    --out;
            }
        } else {
            std::memmove(out, in, length);
            out += length;
            if (!trailing)
                *out++ = *end;
        }
        in = trailing ? end : end + 1;
    }
    *out = 0;
}

} // namespace

BOOL PathRemoveFileSpecA(LPSTR path)
{
    if (!path)
        return FALSE;
    char *p = path;
    char *fileSpec = path;
    // A leading "\" or "\\" (a UNC prefix) is kept.
    if (isSeparator(*p))
        fileSpec = ++p;
    if (isSeparator(*p))
        fileSpec = ++p;
    for (; *p; ++p) {
        if (isSeparator(*p)) {
            fileSpec = p;
        } else if (*p == ':') {
            // "X:\" is a root: the separator after the colon stays.
            fileSpec = p + 1;
            if (isSeparator(p[1]))
                fileSpec = ++p + 1;
        }
    }
    if (!*fileSpec)
        return FALSE;
    *fileSpec = 0;
    return TRUE;
}

BOOL PathAppendA(LPSTR path, LPCSTR more)
{
    if (!path || !more)
        return FALSE;
    if (!isUnc(more))
        while (isSeparator(*more))
            ++more;
    char joined[MAX_PATH * 2 + 2];
    if (hasDrive(more) || isUnc(more) || !*path) {
        if (std::strlen(more) >= sizeof joined)
            return FALSE;
        std::strcpy(joined, more);
    } else {
        size_t length = std::strlen(path);
        if (length + std::strlen(more) + 2 > sizeof joined)
            return FALSE;
        std::memcpy(joined, path, length);
        if (*more && !isSeparator(path[length - 1]))
            joined[length++] = separatorOf(path);
        std::strcpy(joined + length, more);
    }
    canonicalize(joined);
    if (std::strlen(joined) >= MAX_PATH) {
        path[0] = 0;
        return FALSE;
    }
    std::strcpy(path, joined);
    return TRUE;
}

LPSTR PathAddBackslashA(LPSTR path)
{
    if (!path)
        return nullptr;
    size_t length = std::strlen(path);
    if (length == 0)
        return path;
    if (isSeparator(path[length - 1]))
        return path + length;
    if (length + 2 > MAX_PATH)
        return nullptr;
    path[length] = separatorOf(path);
    path[length + 1] = 0;
    return path + length + 1;
}

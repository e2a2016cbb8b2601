#include "tests/fuzz/fuzz_support.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string scratch;

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

void removeTree(const std::string &path)
{
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void removeScratch()
{
    if (!scratch.empty())
        removeTree(scratch);
}

} // namespace

const std::string &scratchFolder()
{
    if (scratch.empty()) {
        struct stat info;
        const char *tmp = std::getenv("TMPDIR");
        std::string base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm"
                           : tmp && *tmp                                        ? tmp
                                                                                : "/tmp";
        std::string name = base + "/tallowlamp-fuzz-XXXXXX";
        if (!mkdtemp(name.data())) {
            std::perror("fuzz: scratch folder");
            std::abort();
        }
        scratch = name;
        std::atexit(removeScratch);
    }
    return scratch;
}

bool writeFile(const std::string &path, std::string_view bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool whole = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    return whole;
}

std::string readFile(const std::string &path)
{
    std::string bytes;
    if (FILE *file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

std::vector<std::string> split(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        size_t end = text.find(separator, at);
        parts.emplace_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos)
            return parts;
        at = end + 1;
    }
}

void emptyFolder(const std::string &path)
{
    removeTree(path);
    mkdir(path.c_str(), 0700);
}

void fuzzFailure(const char *format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::fputs("fuzz: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    va_end(arguments);
    removeScratch();
    std::abort();
}

std::string printable(std::string_view bytes)
{
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out + "\"";
}

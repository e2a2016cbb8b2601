// Run-time libraries: LoadLibraryA, GetProcAddress and FreeLibrary on dlopen and dlsym.
//
// Supports: DLL names mapped to shared objects ("inpout32.dll" in any case, or "foo" without
// extension, becomes "libinpout32.so", "libfoo.so"; a name ending in ".so" stays). A name with
// a folder ('/' or '\') is loaded from that folder; a bare name from the executable's folder,
// then the system library path (never the current directory, unlike Windows' default
// search). Loads are counted as Windows counts them; handles the layer did not hand out are
// refused.
// Not supported (asserts in debug builds): GetProcAddress by ordinal.
#include "platform/win32.h"

#include <cassert>
#include <cctype>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct LoadedLibrary {
    void *handle;
    int loads;
};

std::vector<LoadedLibrary> &loadedLibraries()
{
    static std::vector<LoadedLibrary> libraries;
    return libraries;
}

LoadedLibrary *findLoaded(const void *handle)
{
    for (LoadedLibrary &library : loadedLibraries())
        if (library.handle == handle)
            return &library;
    return nullptr;
}

std::string lowered(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string &text, const char *tail)
{
    std::string end(tail);
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The shared object standing for a DLL's file name.
std::string sharedObjectName(const std::string &file)
{
    std::string lower = lowered(file);
    if (endsWith(lower, ".so") || lower.find(".so.") != std::string::npos)
        return file;
    std::string stem = lower;
    if (endsWith(lower, ".dll"))
        stem = lower.substr(0, lower.size() - 4);
    else if (endsWith(lower, "."))
        stem = lower.substr(0, lower.size() - 1); // Windows: a trailing dot means no extension
    else if (lower.find('.') != std::string::npos)
        return file;
    return "lib" + stem + ".so";
}

std::string executableFolder()
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::string();
    std::string text(path, size_t(length));
    return text.substr(0, text.rfind('/') + 1);
}

} // namespace

HMODULE LoadLibraryA(LPCSTR fileName)
{
    if (!fileName || !*fileName) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string name(fileName);
    size_t separator = name.find_last_of("/\\");
    std::string soname = sharedObjectName(separator == std::string::npos ? name : name.substr(separator + 1));
    void *handle = nullptr;
    if (separator != std::string::npos) {
        std::string folder = name.substr(0, separator + 1);
        for (char &c : folder)
            if (c == '\\')
                c = '/';
        handle = dlopen((folder + soname).c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        std::string besideExecutable = executableFolder();
        if (!besideExecutable.empty())
            handle = dlopen((besideExecutable + soname).c_str(), RTLD_NOW | RTLD_LOCAL);
        // A bare name makes dlopen search the system's library path only.
        if (!handle)
            handle = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (LoadedLibrary *loaded = findLoaded(handle))
        ++loaded->loads;
    else
        loadedLibraries().push_back({handle, 1});
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    assert(!IS_INTRESOURCE(procName) && "GetProcAddress by ordinal is not supported");
    if (!findLoaded(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!procName || IS_INTRESOURCE(procName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void *symbol = dlsym(module, procName);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    LoadedLibrary *loaded = findLoaded(module);
    if (!loaded) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dlclose(module);
    if (--loaded->loads == 0) {
        std::vector<LoadedLibrary> &libraries = loadedLibraries();
        libraries.erase(libraries.begin() + (loaded - libraries.data()));
    }
    return TRUE;
}

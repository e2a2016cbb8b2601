// A stand-in for the parallel port library ("inpout32.dll", libinpout32.so on Linux) that
// records instead of driving a port: each Out32 to the data register 0x378 appends the value's
// low byte to the file named by TALLOWLAMP_OUT32_LOG. Other ports are not recorded, so a
// write to the wrong address shows as a missing byte.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#define OUT32_EXPORT extern "C" __declspec(dllexport)
#define OUT32_CALL __stdcall
#else
#define OUT32_EXPORT extern "C" __attribute__((visibility("default")))
#define OUT32_CALL
#endif

namespace {

// Read at every call: a test points it at a fresh file whenever it likes.
bool logPath(char *path, size_t size)
{
#ifdef _WIN32
    DWORD length = GetEnvironmentVariableA("TALLOWLAMP_OUT32_LOG", path, DWORD(size));
    return length > 0 && length < size;
#else
    const char *value = std::getenv("TALLOWLAMP_OUT32_LOG");
    if (!value || !*value)
        return false;
    std::snprintf(path, size, "%s", value);
    return true;
#endif
}

} // namespace

OUT32_EXPORT void OUT32_CALL Out32(short port, short value)
{
    char path[1024];
    if (static_cast<unsigned short>(port) != 0x378 || !logPath(path, sizeof path))
        return;
    if (std::FILE *log = std::fopen(path, "ab")) {
        std::fputc(static_cast<unsigned char>(value), log);
        std::fclose(log);
    }
}

OUT32_EXPORT short OUT32_CALL Inp32(short)
{
    return 0;
}

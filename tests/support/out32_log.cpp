#include "tests/support/out32_log.h"

#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string besideExecutable(const char *name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecA(path) || !PathAppendA(path, name))
        return std::string();
    return path;
}

std::string logPath()
{
    return besideExecutable("out32_recorder.log");
}

} // namespace

void startOut32Log()
{
    std::string path = logPath();
    if (std::FILE *log = std::fopen(path.c_str(), "wb"))
        std::fclose(log);
    // The recorder reads the variable at each call, through the process environment.
#ifdef _WIN32
    SetEnvironmentVariableA("TALLOWLAMP_OUT32_LOG", path.c_str());
#else
    setenv("TALLOWLAMP_OUT32_LOG", path.c_str(), 1);
#endif
}

std::string readOut32Log()
{
    std::string bytes;
    if (std::FILE *log = std::fopen(logPath().c_str(), "rb")) {
        for (int c; (c = std::fgetc(log)) != EOF;)
            bytes.push_back(char(c));
        std::fclose(log);
    }
    return bytes;
}

std::string out32LibraryPath()
{
#ifdef _WIN32
    return besideExecutable("inpout32.dll");
#else
    return besideExecutable("libinpout32.so");
#endif
}

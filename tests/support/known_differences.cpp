#include "tests/support/known_differences.h"

#include "platform/win32.h"

bool runningOnWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

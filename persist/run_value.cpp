#include "persist/run_value.h"

#include <cstdio>

// The value that starts the program at log-on, with the start-up switch, for this user only.
void setStartWithOs(BOOL enable)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (enable) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        // A path cut short at the limit would register some other file.
        if (length > 0 && length < MAX_PATH) {
            char command[MAX_PATH + 16];
            int size = std::snprintf(command, sizeof command, "\"%s\" %s", path, "/STARTUP");
            RegSetValueExA(key, "TallowLAMP", 0, REG_SZ, reinterpret_cast<const BYTE *>(command), DWORD(size + 1));
        }
    } else {
        RegDeleteValueA(key, "TallowLAMP");
    }
    RegCloseKey(key);
}

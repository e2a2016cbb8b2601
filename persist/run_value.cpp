#include "persist/run_value.h"

#include <cstdio>

// The value that starts the program at log-on, with the start-up switch, for this user only.
LSTATUS setStartWithOs(BOOL enable)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                     nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if (enable) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        // A path cut short at the limit would register some other file.
        if (length == 0 || length >= MAX_PATH) {
            status = ERROR_INSUFFICIENT_BUFFER;
        } else {
            char command[MAX_PATH + 16];
            int size = std::snprintf(command, sizeof command, "\"%s\" %s", path, "/STARTUP");
            status = RegSetValueExA(key, "TallowLAMP", 0, REG_SZ, reinterpret_cast<const BYTE *>(command),
                                    DWORD(size + 1));
        }
    } else {
        status = RegDeleteValueA(key, "TallowLAMP");
        // No value to remove is what removing it wanted.
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return status;
}

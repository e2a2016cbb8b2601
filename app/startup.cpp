#include "app/startup.h"

#include "res/resource.h"
#include "units/discovery.h"

#include <cstring>

BOOL LaunchedAtStartup = FALSE;

void noteStartupSwitch(char *commandTail)
{
    _strlwr(commandTail);
    if (std::strstr(commandTail, "/startup") || std::strstr(commandTail, "-startup"))
        LaunchedAtStartup = TRUE;
}

int dialogBootstrap(HWND dialog, WPARAM, LPARAM, Unit **cursor)
{
    discoverUnits(cursor);
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(dialog, GWLP_HINSTANCE);
    SetClassLongPtrA(dialog, GCLP_HICON, (LONG_PTR)LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP)));
    // Posted, so it runs after the settings are loaded and the controls filled.
    PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
    return 1;
}

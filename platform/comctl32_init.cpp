// COMCTL32 InitCommonControlsEx: every class the layer has is always there, so this only
// checks the structure, as Windows does.
#include "platform/win32.h"

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX *init)
{
    return init && init->dwSize == sizeof *init;
}

// The recorder's hooks on Linux: the test executables are linked with --wrap for the layer's
// MessageBoxA and ShellExecuteA (their C++ names), so every call of them arrives here first.
#include "tests/support/call_hooks/record.h"

extern "C" {

int __real__Z11MessageBoxAP6HWND__PKcS2_j(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HINSTANCE __real__Z13ShellExecuteAP6HWND__PKcS2_S2_S2_i(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                                        LPCSTR directory, INT show);

int __wrap__Z11MessageBoxAP6HWND__PKcS2_j(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (CallRecorder *recorder = activeCallRecorder())
        return recordMessageBox(recorder, owner, text, caption, type);
    return __real__Z11MessageBoxAP6HWND__PKcS2_j(owner, text, caption, type);
}

HINSTANCE __wrap__Z13ShellExecuteAP6HWND__PKcS2_S2_S2_i(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                                        LPCSTR directory, INT show)
{
    if (CallRecorder *recorder = activeCallRecorder())
        return recordLaunch(recorder, owner, verb, file, parameters, directory, show);
    return __real__Z13ShellExecuteAP6HWND__PKcS2_S2_S2_i(owner, verb, file, parameters, directory, show);
}

} // extern "C"

void installCallHooks() {}

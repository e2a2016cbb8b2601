// What both hooks do with a call while a recorder is active.
#pragma once

#include "tests/support/call_recorder.h"

inline int recordMessageBox(CallRecorder *recorder, HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    recorder->messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

inline HINSTANCE recordLaunch(CallRecorder *recorder, HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                              LPCSTR directory, INT show)
{
    recorder->launches.push_back({owner, verb ? verb : "", file ? file : "", parameters != nullptr,
                                  directory != nullptr, show});
    return (HINSTANCE)(INT_PTR)42; // above 32: success
}

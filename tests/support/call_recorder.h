// Message boxes and shell launches the program makes, recorded instead of shown, so a test
// can check them and no window waits for an answer nor any browser starts. The calls are
// caught on their way to the system (the import table on Windows, the linker's --wrap on
// Linux); the program itself is not changed for it.
#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct ShellExecuteCall {
    HWND owner;
    std::string verb;
    std::string file;
    bool parameters; // any were given
    bool directory;  // one was given
    INT show;
};

// While one is active, the calls go into it and are answered at once (a box with IDOK, a
// launch with success); otherwise they reach the system as usual.
class CallRecorder {
public:
    CallRecorder();
    ~CallRecorder();
    CallRecorder(const CallRecorder &) = delete;
    CallRecorder &operator=(const CallRecorder &) = delete;

    std::vector<MessageBoxCall> messageBoxes;
    std::vector<ShellExecuteCall> launches;
};

// For the hooks (call_hooks/): the active recorder, or null.
CallRecorder *activeCallRecorder();
void installCallHooks();

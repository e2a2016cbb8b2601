#include "tests/support/call_recorder.h"

namespace {

CallRecorder *active;

} // namespace

CallRecorder::CallRecorder()
{
    installCallHooks();
    active = this;
}

CallRecorder::~CallRecorder()
{
    active = nullptr;
}

CallRecorder *activeCallRecorder()
{
    return active;
}

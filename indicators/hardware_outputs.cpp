// Drive activity on hardware: data lines of the first parallel port, and a lock key's LED.
#include "indicators/hardware_outputs.h"

PortState portState;
KeyboardLedState keyboardLedState;

namespace {

constexpr short kPortAddress = 0x378; // data register of the first parallel port
constexpr BYTE kScanCode = 0x45;
constexpr char kPortLibrary[] = "inpout32.dll";

// The port library from the program's folder, else from the system's. Never by the usual
// search, which on Windows includes the current directory: a library planted there would run
// in the user's session at every log-on.
HMODULE loadPortLibrary()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH && PathRemoveFileSpecA(path) && PathAppendA(path, kPortLibrary)) {
        if (HMODULE library = LoadLibraryA(path))
            return library;
    }
    UINT systemLength = GetSystemDirectoryA(path, MAX_PATH);
    if (systemLength > 0 && systemLength < MAX_PATH && PathAppendA(path, kPortLibrary))
        return LoadLibraryA(path);
    return nullptr;
}

} // namespace

int writePortActivity(const Unit *unit)
{
    if (!portState.portLibrary) {
        portState.portLibrary = loadPortLibrary();
        if (!portState.portLibrary)
            return -1;
        FARPROC entry = GetProcAddress(portState.portLibrary, "Out32");
        portState.portOut = reinterpret_cast<Out32Function>(reinterpret_cast<void (*)()>(entry));
    }
    if (!portState.portOut)
        return 0;

    switch (unit->activity) {
    case ACT_WRITE:
        portState.portWriteBits |= unit->portWriteMask;
        break;
    case ACT_READ:
        portState.portReadBits |= unit->portReadMask;
        break;
    case ACT_READ_WRITE:
        portState.portWriteBits |= unit->portWriteMask;
        portState.portReadBits |= unit->portReadMask;
        break;
    default:
        portState.portReadBits &= uint8_t(~unit->portReadMask);
        portState.portWriteBits &= uint8_t(~unit->portWriteMask);
        break;
    }
    uint8_t out = portState.portReadBits | portState.portWriteBits;
    if (out != portState.portLastOutput) {
        portState.portLastOutput = out;
        portState.portOut(kPortAddress, short(out));
    }
    return 0;
}

void setKeyboardLed(int virtualKey, int wanted)
{
    // Only the toggle bit: while the user holds the key the sign bit is set too, and comparing
    // the whole value would flip the key again at every call.
    int lit = GetKeyState(virtualKey) & 1;
    if (lit == (wanted ? 1 : 0))
        return;
    keybd_event(BYTE(virtualKey), kScanCode, KEYEVENTF_EXTENDEDKEY, 0);
    keybd_event(BYTE(virtualKey), kScanCode, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
    keyboardLedState.litByProgram = wanted ? 1 : 0;
}

void putOutKeyboardLed(int virtualKey)
{
    if (keyboardLedState.litByProgram)
        setKeyboardLed(virtualKey, 0);
    keyboardLedState.litByProgram = 0;
}

// The recorder's hooks on Windows: the executable's own import table is pointed at these
// stand-ins, so the program's calls, which go through that table, arrive here first.
#include "tests/support/call_hooks/record.h"

#include <cstring>

namespace {

using MessageBoxFunction = int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT);
using ShellExecuteFunction = HINSTANCE(WINAPI *)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

MessageBoxFunction realMessageBox;
ShellExecuteFunction realShellExecute;

int WINAPI messageBoxHook(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (CallRecorder *recorder = activeCallRecorder())
        return recordMessageBox(recorder, owner, text, caption, type);
    return realMessageBox(owner, text, caption, type);
}

HINSTANCE WINAPI shellExecuteHook(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    if (CallRecorder *recorder = activeCallRecorder())
        return recordLaunch(recorder, owner, verb, file, parameters, directory, show);
    return realShellExecute(owner, verb, file, parameters, directory, show);
}

// The import address slot of a function taken from a DLL, or null.
void **importSlot(const char *dll, const char *function)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + entry->Name), dll) != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk));
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

template <typename Function> void redirect(const char *dll, const char *name, Function hook, Function *real)
{
    void **slot = importSlot(dll, name);
    if (!slot || *slot == reinterpret_cast<void *>(hook))
        return;
    *real = reinterpret_cast<Function>(*slot);
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = reinterpret_cast<void *>(hook);
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

} // namespace

void installCallHooks()
{
    redirect("user32.dll", "MessageBoxA", messageBoxHook, &realMessageBox);
    redirect("shell32.dll", "ShellExecuteA", shellExecuteHook, &realShellExecute);
}

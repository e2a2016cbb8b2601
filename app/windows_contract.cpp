// What the Windows program rests on, checked by the compiler (this file is built for Windows
// only): the calling convention of the two functions called across the system's boundary,
// the dialog procedure and the port library's Out32, and the layouts of the records shared
// with the system. The 32-bit program is the product; the 64-bit test build has a single
// calling convention and wider pointers, so there the conventions coincide and the
// pointer-holding records have sizes of their own.
#include "app/main_dialog.h"
#include "indicators/hardware_outputs.h"

#include <type_traits>

namespace {

constexpr bool k32Bit = sizeof(void *) == 4;

using StdcallOut32 = void(__stdcall *)(short, short);
using CdeclOut32 = void(__cdecl *)(short, short);
using StdcallDialogProc = INT_PTR(__stdcall *)(HWND, UINT, WPARAM, LPARAM);
using CdeclDialogProc = INT_PTR(__cdecl *)(HWND, UINT, WPARAM, LPARAM);

// The two conventions must differ where they matter, or the checks below would prove nothing.
static_assert(!k32Bit || !std::is_same_v<StdcallOut32, CdeclOut32>, "stdcall and cdecl are one on i386");
static_assert(std::is_same_v<Out32Function, StdcallOut32>, "inpout32's Out32 is a stdcall function");
static_assert(!k32Bit || !std::is_same_v<Out32Function, CdeclOut32>, "Out32 must not be called as cdecl");
static_assert(std::is_same_v<decltype(&mainDialogProc), DLGPROC>, "the dialog procedure is a DLGPROC");
static_assert(std::is_same_v<DLGPROC, StdcallDialogProc>, "Windows calls dialog procedures as stdcall");
static_assert(!k32Bit || !std::is_same_v<decltype(&mainDialogProc), CdeclDialogProc>,
              "the dialog procedure must not be cdecl");

static_assert(sizeof(NOTIFYICONDATAA) == (k32Bit ? 504 : 520), "NOTIFYICONDATAA of Windows XP");
static_assert(sizeof(DISK_PERFORMANCE) == 88, "DISK_PERFORMANCE");
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX");
static_assert(sizeof(WINDOWPLACEMENT) == 44, "WINDOWPLACEMENT, whose length the placement code sets");

} // namespace

// Kernel object handles of the layer: a plain file descriptor, spelled as Windows spells its
// handles (a non-zero multiple of 4), so that no open costs an allocation and a handle never
// equals NULL or INVALID_HANDLE_VALUE. CloseHandle (kernel32_system.cpp) closes the descriptor.
#pragma once

#include "platform/win32.h"

inline HANDLE handleFromFd(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(fd + 1) * 4);
}

// The descriptor a handle stands for, or -1 when the value is no handle of ours.
inline int fdFromHandle(HANDLE handle)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > 0x7fffffff)
        return -1;
    return static_cast<int>(value / 4 - 1);
}

// CloseHandle on a drive's kept counter file (kernel32_device.cpp): 1 when the handle was open
// and now is closed (the descriptor stays for the next poll), -1 when it was closed already,
// 0 when the descriptor is no kept one.
int layerReleaseDevice(int fd);

// KERNEL32 devices: CreateFileA on "\\.\PHYSICALDRIVEn" and "\\.\X:", DeviceIoControl with
// IOCTL_DISK_PERFORMANCE, GetDriveTypeA.
// A drive's handle is its sysfs stat file, opened anew each time (it exists exactly while
// the device does); a drive without a block device (a network letter) opens its mount point
// and has no counters. Of DISK_PERFORMANCE are filled: BytesRead, BytesWritten, ReadTime,
// WriteTime, ReadCount, WriteCount, QueueDepth, QueryTime; the rest is 0.
// Not supported (assert in debug builds): CreateFileA on any other path or with another
// creation disposition, any other control code, overlapped I/O.
#include "platform/kernel32_handle.h"
#include "platform/sysroot.h"
#include "platform/win32.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool hasPrefix(const char *text, const char *prefix)
{
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// The physical drive number of "\\.\PHYSICALDRIVEn", or -1.
long physicalDriveNumber(const char *path)
{
    if (!hasPrefix(path, "\\\\.\\PHYSICALDRIVE"))
        return -1;
    const char *digits = path + std::strlen("\\\\.\\PHYSICALDRIVE");
    if (*digits < '0' || *digits > '9')
        return -1;
    long number = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits)
        if ((number = number * 10 + (*digits - '0')) > 1000000)
            return -1;
    return *digits ? -1 : number;
}

HANDLE openDescriptor(const char *path, int flags)
{
    int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handleFromFd(fd);
}

// Windows counts time in 100 ns steps since 1601.
LONGLONG systemTimeNow()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (now.tv_sec + 11644473600LL) * 10000000LL + now.tv_nsec / 100;
}

} // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    (void)desiredAccess, (void)shareMode, (void)attributes, (void)flagsAndAttributes, (void)templateFile;
    (void)creationDisposition;
    assert(creationDisposition == OPEN_EXISTING && "CreateFileA: only OPEN_EXISTING on devices");
    if (!fileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const Machine &machine = currentMachine();
    long number = physicalDriveNumber(fileName);
    if (number >= 0) {
        if (size_t(number) >= machine.disks.size()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        return openDescriptor(machine.disks[number].statPath.c_str(), O_RDONLY);
    }
    char letter = hasPrefix(fileName, "\\\\.\\") ? driveLetterOf(fileName + 4) : 0;
    assert((letter && !fileName[6]) && "CreateFileA: only \\\\.\\PHYSICALDRIVEn and \\\\.\\X: are supported");
    if (!letter || fileName[6] || !machine.letters[letter - 'A'].present) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const MachineLetter &drive = machine.letters[letter - 'A'];
    if (drive.statPath.empty())
        return openDescriptor(drive.mountPoint.c_str(), O_PATH | O_DIRECTORY);
    return openDescriptor(drive.statPath.c_str(), O_RDONLY);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped)
{
    (void)inBuffer, (void)inSize;
    assert(ioControlCode == IOCTL_DISK_PERFORMANCE && "DeviceIoControl: only IOCTL_DISK_PERFORMANCE");
    assert(!overlapped && "DeviceIoControl: no overlapped I/O");
    (void)overlapped;
    int fd = fdFromHandle(device);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ioControlCode != IOCTL_DISK_PERFORMANCE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!outBuffer || outSize < sizeof(DISK_PERFORMANCE)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }

    // reads, merged reads, sectors read, ms reading, writes, merged writes, sectors written,
    // ms writing, in flight, ... (Documentation/block/stat.rst)
    char text[512];
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    unsigned long long field[9] = {};
    int count = 0;
    if (got > 0) {
        text[got] = 0;
        char *p = text;
        while (count < 9) {
            char *end;
            errno = 0;
            unsigned long long value = std::strtoull(p, &end, 10);
            if (end == p || errno)
                break;
            field[count++] = value;
            p = end;
        }
    }
    if (count < 8) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }

    DISK_PERFORMANCE performance = {};
    performance.BytesRead.QuadPart = LONGLONG(field[2] * 512);
    performance.BytesWritten.QuadPart = LONGLONG(field[6] * 512);
    performance.ReadTime.QuadPart = LONGLONG(field[3] * 10000);
    performance.WriteTime.QuadPart = LONGLONG(field[7] * 10000);
    performance.ReadCount = DWORD(field[0]);
    performance.WriteCount = DWORD(field[4]);
    performance.QueueDepth = DWORD(field[8]);
    performance.QueryTime.QuadPart = systemTimeNow();
    std::memcpy(outBuffer, &performance, sizeof performance);
    if (bytesReturned)
        *bytesReturned = sizeof performance;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

UINT GetDriveTypeA(LPCSTR rootPathName)
{
    char letter = driveLetterOf(rootPathName);
    if (!letter)
        return DRIVE_NO_ROOT_DIR;
    const MachineLetter &drive = currentMachine().letters[letter - 'A'];
    if (!drive.present)
        return DRIVE_NO_ROOT_DIR;
    if (drive.network)
        return DRIVE_REMOTE;
    if (drive.cdrom)
        return DRIVE_CDROM;
    return drive.removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

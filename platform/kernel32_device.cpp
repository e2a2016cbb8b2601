// KERNEL32 devices: CreateFileA on "\\.\PHYSICALDRIVEn" and "\\.\X:", DeviceIoControl with
// IOCTL_DISK_PERFORMANCE, GetDriveTypeA.
// A drive's handle is its sysfs stat file, kept open from one poll to the next: CreateFileA
// hands out the kept descriptor and CloseHandle leaves it open. CreateFileA reads the file at
// once, so a device that has gone (its sysfs file then fails the read) or a file that was
// replaced or removed (a machine in a folder) is opened again by path, which fails while the
// device is away and finds it again when it is back. A second handle on a device while the
// first is open is an ordinary descriptor. A drive without a block device (a network letter)
// opens its mount point and has no counters. Of DISK_PERFORMANCE are filled: BytesRead,
// BytesWritten, ReadTime, WriteTime, ReadCount, WriteCount, QueueDepth, QueryTime; the rest
// is 0.
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
#include <linux/magic.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

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

// A drive's counter file, open from one poll to the next.
struct KeptCounters {
    std::string path;
    int fd = -1;
    bool kernelFile = false; // sysfs: a read fails once the device has gone
    bool handedOut = false;  // between CreateFileA and CloseHandle
    ssize_t length = -1;     // of text, read by CreateFileA for DeviceIoControl; -1: none
    char text[512];
};

// Letters A to Z, then the physical drives; the slot of each kept descriptor, or -1.
std::vector<KeptCounters> kept;
std::vector<int> keptSlotOfFd;

KeptCounters *keptCounters(int fd)
{
    if (fd < 0 || size_t(fd) >= keptSlotOfFd.size() || keptSlotOfFd[fd] < 0)
        return nullptr;
    return &kept[keptSlotOfFd[fd]];
}

void forget(KeptCounters &counters)
{
    keptSlotOfFd[counters.fd] = -1;
    close(counters.fd);
    counters.fd = -1;
    counters.length = -1;
}

// False when the file no longer stands for the device.
bool readKept(KeptCounters &counters)
{
    struct stat file;
    if (!counters.kernelFile && (fstat(counters.fd, &file) != 0 || file.st_nlink == 0))
        return false;
    counters.length = pread(counters.fd, counters.text, sizeof counters.text - 1, 0);
    if (counters.length <= 0)
        return false;
    counters.text[counters.length] = 0;
    return true;
}

HANDLE openCounters(size_t slot, const std::string &path)
{
    if (kept.size() <= slot)
        kept.resize(slot + 1);
    KeptCounters &counters = kept[slot];
    if (counters.handedOut)
        return openDescriptor(path.c_str(), O_RDONLY);
    if (counters.fd >= 0 && (counters.path != path || !readKept(counters)))
        forget(counters);
    if (counters.fd < 0) {
        HANDLE handle = openDescriptor(path.c_str(), O_RDONLY);
        if (handle == INVALID_HANDLE_VALUE)
            return handle;
        counters.fd = fdFromHandle(handle);
        counters.path = path;
        struct statfs fs;
        counters.kernelFile = fstatfs(counters.fd, &fs) == 0 && fs.f_type == SYSFS_MAGIC;
        if (keptSlotOfFd.size() <= size_t(counters.fd))
            keptSlotOfFd.resize(counters.fd + 1, -1);
        keptSlotOfFd[counters.fd] = int(slot);
    }
    counters.handedOut = true;
    SetLastError(ERROR_SUCCESS);
    return handleFromFd(counters.fd);
}

// Windows counts time in 100 ns steps since 1601.
LONGLONG systemTimeNow()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (now.tv_sec + 11644473600LL) * 10000000LL + now.tv_nsec / 100;
}

} // namespace

int layerReleaseDevice(int fd)
{
    KeptCounters *counters = keptCounters(fd);
    if (!counters)
        return 0;
    if (!counters->handedOut)
        return -1;
    counters->handedOut = false;
    counters->length = -1;
    return 1;
}

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
        return openCounters(26 + number, machine.disks[number].statPath);
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
    return openCounters(letter - 'A', drive.statPath);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                     DWORD outSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped)
{
    (void)inBuffer, (void)inSize;
    assert(ioControlCode == IOCTL_DISK_PERFORMANCE && "DeviceIoControl: only IOCTL_DISK_PERFORMANCE");
    assert(!overlapped && "DeviceIoControl: no overlapped I/O");
    (void)overlapped;
    int fd = fdFromHandle(device);
    KeptCounters *counters = keptCounters(fd);
    if (fd < 0 || (counters && !counters->handedOut)) {
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
    // The text CreateFileA has just read, or a new reading.
    char reading[sizeof counters->text];
    char *text = reading;
    ssize_t got;
    if (counters && counters->length > 0) {
        text = counters->text;
        got = counters->length;
        counters->length = -1;
    } else {
        got = pread(fd, reading, sizeof reading - 1, 0);
    }
    unsigned long long field[9] = {};
    int count = 0;
    if (got > 0) {
        text[got] = 0;
        for (const char *p = text; count < 9; ++count) {
            while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
                ++p;
            if (*p < '0' || *p > '9')
                break;
            unsigned long long value = 0;
            for (; *p >= '0' && *p <= '9'; ++p) {
                if (value > (~0ull - (*p - '0')) / 10)
                    break; // more than 64 bits: no counter of the kernel's
                value = value * 10 + (*p - '0');
            }
            if (*p >= '0' && *p <= '9')
                break;
            field[count] = value;
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

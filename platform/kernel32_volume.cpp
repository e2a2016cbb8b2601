// KERNEL32 volumes: GetVolumeInformationA and GetDiskFreeSpaceExA for drive letters.
// The label comes from dev/disk/by-label, the file-system name from the mount table; sizes
// from statvfs of the mount point, which fails once the volume is unmounted (ERROR_NOT_READY).
// Root paths: "X:\" (GetVolumeInformationA, as Windows requires the backslash), "X:", "X:\"
// or "\\.\X:\" (GetDiskFreeSpaceExA).
// Not supported (assert in debug builds): folders other than a drive's root, volume GUID
// paths. The serial number is 0, the maximum component length 255.
#include "platform/sysroot.h"
#include "platform/win32.h"

#include <cassert>
#include <cstring>
#include <strings.h>
#include <sys/statvfs.h>

namespace {

// Copies text with its terminator; false when size cannot hold it.
bool copyText(LPSTR buffer, DWORD size, const std::string &text)
{
    if (!buffer)
        return true;
    if (text.size() + 1 > size)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

BOOL GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                           LPSTR fileSystemNameBuffer, DWORD fileSystemNameSize)
{
    char letter = driveLetterOf(rootPathName);
    assert(letter && "GetVolumeInformationA: only drive roots");
    if (!letter || !rootPathName[2]) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    const MachineLetter &drive = currentMachine().letters[letter - 'A'];
    if (!drive.present) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!copyText(volumeNameBuffer, volumeNameSize, drive.label) ||
        !copyText(fileSystemNameBuffer, fileSystemNameSize, drive.fileSystem)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (volumeSerialNumber)
        *volumeSerialNumber = 0;
    if (maximumComponentLength)
        *maximumComponentLength = 255;
    if (fileSystemFlags)
        *fileSystemFlags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                         PULARGE_INTEGER totalNumberOfBytes, PULARGE_INTEGER totalNumberOfFreeBytes)
{
    const char *root = directoryName;
    if (root && std::strncmp(root, "\\\\.\\", 4) == 0)
        root += 4;
    char letter = driveLetterOf(root);
    assert((letter || (root && strncasecmp(root, "PHYSICALDRIVE", 13) == 0)) &&
           "GetDiskFreeSpaceExA: only drive roots");
    const MachineLetter *drive = letter ? &currentMachine().letters[letter - 'A'] : nullptr;
    if (!drive || !drive->present) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    // Another file system at the mount point: the volume was unmounted since discovery, and
    // this is the folder underneath.
    struct statvfs sizes;
    if (statvfs(drive->mountPoint.c_str(), &sizes) != 0 ||
        (drive->fileSystemIdKnown && sizes.f_fsid != drive->fileSystemId)) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    if (freeBytesAvailableToCaller)
        freeBytesAvailableToCaller->QuadPart = ULONGLONG(sizes.f_bavail) * sizes.f_frsize;
    if (totalNumberOfBytes)
        totalNumberOfBytes->QuadPart = ULONGLONG(sizes.f_blocks) * sizes.f_frsize;
    if (totalNumberOfFreeBytes)
        totalNumberOfFreeBytes->QuadPart = ULONGLONG(sizes.f_bfree) * sizes.f_frsize;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

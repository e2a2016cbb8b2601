// KERNEL32 process services: last error and its text (FormatMessageA from the system's
// table, without inserts, for the errors the layer sets), the named mutex, CloseHandle, process affinity,
// command line, module handle and file name, system folder, Sleep, GetTickCount, memory
// status; and the C runtime's _strlwr.
// The named mutex is a per-user flock on a file in $XDG_RUNTIME_DIR, else in a folder of the
// user's own in $TMPDIR or /tmp, "tallowlamp-<uid>", mode 0700: the kernel frees it when its
// holder dies, even by a crash. A folder or lock file that another user owns or may write to
// is not trusted (ERROR_ACCESS_DENIED): it could answer "already running" for us, or hold no
// lock at all. Only single-threaded use: initialOwner is ignored, and an unnamed mutex is not
// supported.
// GetModuleHandleA answers for the program itself only (NULL or its own file name).
// GlobalMemoryStatusEx reads proc/meminfo under TALLOWLAMP_SYSROOT; the virtual address space
// members are those of a 32-bit process (2 GiB, all of it counted as available).
#include "platform/kernel32_handle.h"
#include "platform/layer_qt.h"
#include "platform/sysroot.h"
#include "platform/win32.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <linux/magic.h>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// As Windows' executables load: the value survives being kept in 32 bits.
HMODULE const programModule = reinterpret_cast<HMODULE>(uintptr_t(0x00400000));

HANDLE const currentProcess = reinterpret_cast<HANDLE>(intptr_t(-1));

// The start-up's pipe of close signals, when it has one (layerWatchCloseSignals).
int closeSignals = -1;
void (*deliverCloseSignals)() = nullptr;

// "...\name" or ".../name": the last element.
const char *lastElement(const char *path)
{
    const char *last = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            last = p + 1;
    return last;
}

// The program's name, always quoted, as Windows writes it. A Windows name holds no double
// quote and the name ends at the next one, so a quote of a Linux name is left out: the
// arguments after it then stay the arguments, whatever the name holds.
void appendProgramName(char *&out, char *end, const char *name)
{
    auto put = [&](char c) {
        if (out < end)
            *out++ = c;
    };
    put('"');
    for (const char *p = name; *p; ++p)
        if (*p != '"')
            put(*p);
    put('"');
}

// Appends one argument as the C runtime of Windows parses it back (CommandLineToArgvW rules).
void appendArgument(char *&out, char *end, const char *argument)
{
    bool quote = !*argument || std::strpbrk(argument, " \t\"");
    auto put = [&](char c) {
        if (out < end)
            *out++ = c;
    };
    if (quote)
        put('"');
    for (const char *p = argument;; ++p) {
        size_t backslashes = 0;
        while (*p == '\\')
            ++backslashes, ++p;
        if (!*p) {
            // Backslashes before the closing quote are doubled so that it stays a quote.
            for (size_t i = 0; i < (quote ? backslashes * 2 : backslashes); ++i)
                put('\\');
            break;
        }
        if (*p == '"') {
            for (size_t i = 0; i < backslashes * 2 + 1; ++i)
                put('\\');
        } else {
            for (size_t i = 0; i < backslashes; ++i)
                put('\\');
        }
        put(*p);
    }
    if (quote)
        put('"');
}

// Owned by this user, and no one else may write to it.
bool ownAndPrivate(const struct stat &info)
{
    return info.st_uid == geteuid() && (info.st_mode & 022) == 0;
}

// The folder of the per-user locks: $XDG_RUNTIME_DIR when it is this user's alone, else
// "tallowlamp-<uid>" in $TMPDIR or /tmp, made with mode 0700 (and brought back to it).
bool lockFolder(char *folder, size_t size)
{
    struct stat info;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && ownAndPrivate(info) &&
        std::snprintf(folder, size, "%s", runtime) < int(size))
        return true;
    const char *temporary = std::getenv("TMPDIR");
    if (!temporary || temporary[0] != '/')
        temporary = "/tmp";
    if (std::snprintf(folder, size, "%s/tallowlamp-%u", temporary, unsigned(geteuid())) >= int(size))
        return false;
    if (mkdir(folder, 0700) != 0 && errno != EEXIST)
        return false;
    // Not through a link, and only a folder of ours: in a shared /tmp anyone may make one first.
    if (lstat(folder, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid())
        return false;
    return (info.st_mode & 077) == 0 || chmod(folder, 0700) == 0;
}

} // namespace

DWORD GetLastError(void)
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}

// Windows' own texts, each with its line break.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     va_list *arguments)
{
    (void)flags, (void)source, (void)languageId, (void)arguments;
    assert(flags == (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS) &&
           "FormatMessageA: only system texts without inserts");
    static const struct {
        DWORD id;
        const char *text;
    } texts[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {30, "The system cannot read from the specified device.\r\n"},
        {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
        {223, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    };
    for (const auto &entry : texts) {
        if (entry.id != messageId)
            continue;
        size_t length = std::strlen(entry.text);
        if (length >= size) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(buffer, entry.text, length + 1);
        return DWORD(length);
    }
    SetLastError(317); // ERROR_MR_MID_NOT_FOUND
    return 0;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name)
{
    (void)attributes, (void)initialOwner;
    assert(name && *name && "CreateMutexA: only named mutexes");
    if (!name || !*name || std::strlen(name) > MAX_PATH) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    char safeName[MAX_PATH + 1];
    size_t i = 0;
    for (; name[i]; ++i)
        safeName[i] = (name[i] == '/' || name[i] == '\\') ? '_' : name[i];
    safeName[i] = 0;

    char path[4096];
    int fd = -1;
    if (lockFolder(path, sizeof path) && std::strlen(path) + std::strlen(safeName) + 8 < sizeof path) {
        std::strcat(std::strcat(std::strcat(path, "/"), safeName), ".mutex");
        fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    }
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !ownAndPrivate(info))) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Windows hands out a handle to the existing mutex and says so.
        SetLastError(errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED);
        return handleFromFd(fd);
    }
    SetLastError(ERROR_SUCCESS);
    return handleFromFd(fd);
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == currentProcess)
        return TRUE;
    int fd = fdFromHandle(handle);
    if (int kept = layerReleaseDevice(fd)) {
        if (kept < 0)
            SetLastError(ERROR_INVALID_HANDLE);
        return kept > 0;
    }
    if (fd < 0 || close(fd) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE GetCurrentProcess(void)
{
    return currentProcess;
}

BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR mask)
{
    assert(process == currentProcess && "SetProcessAffinityMask: only the current process");
    cpu_set_t allowed;
    if (process != currentProcess || mask == 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Bit n of the mask is the n-th processor this process may use.
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    int index = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && index < int(sizeof mask * 8); ++cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        if (mask & (DWORD_PTR(1) << index))
            CPU_SET(cpu, &chosen);
        ++index;
    }
    if (CPU_COUNT(&chosen) == 0 || sched_setaffinity(0, sizeof chosen, &chosen) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

LPSTR GetCommandLineA(void)
{
    // Windows' limit for a command line; built once, as Windows keeps it for the process.
    static char commandLine[32768];
    static bool built = false;
    if (built)
        return commandLine;
    built = true;
    static char arguments[32768];
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    ssize_t total = 0;
    if (fd >= 0) {
        ssize_t got;
        while (total < ssize_t(sizeof arguments - 1) &&
               (got = read(fd, arguments + total, sizeof arguments - 1 - total)) > 0)
            total += got;
        close(fd);
    }
    arguments[total] = 0;
    char *out = commandLine;
    char *end = commandLine + sizeof commandLine - 1;
    for (const char *argument = arguments; argument < arguments + total; argument += std::strlen(argument) + 1) {
        if (argument == arguments) {
            appendProgramName(out, end, argument);
            continue;
        }
        if (out < end)
            *out++ = ' ';
        appendArgument(out, end, argument);
    }
    *out = 0;
    return commandLine;
}

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    if (!moduleName)
        return programModule;
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = 0;
        const char *own = lastElement(self);
        const char *asked = lastElement(moduleName);
        if (strcasecmp(own, asked) == 0 || (strncasecmp(own, asked, std::strlen(own)) == 0 &&
                                            strcasecmp(asked + std::strlen(own), ".exe") == 0))
            return programModule;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    assert((!module || module == programModule) && "GetModuleFileNameA: only the program's module");
    if (module && module != programModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Windows: a short buffer gets size - 1 characters and the terminator, the answer is size.
    if (DWORD(length) >= size) {
        std::memcpy(fileName, self, size - 1);
        fileName[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, self, size_t(length));
    fileName[length] = 0;
    return DWORD(length);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    static const char folder[] = "/usr/lib";
    if (size < sizeof folder)
        return sizeof folder; // the size needed, terminator included
    std::memcpy(buffer, folder, sizeof folder);
    return sizeof folder - 1;
}

void layerWatchCloseSignals(int pipeFd, void (*deliver)())
{
    closeSignals = pipeFd;
    deliverCloseSignals = deliver;
}

void Sleep(DWORD milliseconds)
{
    // Sleep(0) gives the rest of the time slice to another thread of the process: there is
    // none, so it costs nothing here.
    if (milliseconds == 0)
        return;
    // A close signal ends the wait, so that SIGTERM or Ctrl+C during the delayed start ends
    // the program at once; the WM_CLOSE goes ahead of whatever the caller posts next.
    pollfd signals = {closeSignals, POLLIN, 0};
    DWORD start = GetTickCount();
    for (DWORD spent = 0; spent < milliseconds; spent = GetTickCount() - start) {
        int ready = poll(&signals, closeSignals >= 0 ? 1 : 0, int(milliseconds - spent));
        if (ready > 0) {
            deliverCloseSignals();
            return;
        }
        if (ready < 0 && errno != EINTR)
            return;
    }
}

DWORD GetTickCount(void)
{
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return DWORD(ULONGLONG(now.tv_sec) * 1000 + ULONGLONG(now.tv_nsec) / 1000000);
}

char *_strlwr(char *text)
{
    for (char *p = text; p && *p; ++p)
        if (*p >= 'A' && *p <= 'Z')
            *p = char(*p + ('a' - 'A'));
    return text;
}

namespace {

// proc/meminfo stays open and is read again from its start: procfs makes the text anew at each
// read. Both meters of a pass ask within microseconds of each other, so a procfs reading less
// than a millisecond old serves again. A file standing in for it (a machine in a folder) is
// read at every call, and opened anew once it has been replaced or removed.
enum MeminfoFigure { MEM_TOTAL, MEM_FREE, MEM_AVAILABLE, BUFFERS, CACHED, SWAP_TOTAL, SWAP_FREE, FIGURES };

struct MeminfoFile {
    std::string root; // TALLOWLAMP_SYSROOT it was opened under
    int fd = -1;
    bool procfs = false;
    bool haveReading = false;
    timespec readAt = {};
    ULONGLONG bytes[FIGURES] = {}; // 0 where the text has none
    unsigned found = 0;            // a bit for each figure the text has
};

MeminfoFile meminfo;

// The "Key:   12345 kB" figures in bytes, in one walk that ends at the last one wanted.
void parseMeminfo(const char *text, size_t length)
{
    static const struct {
        const char *key;
        size_t length;
    } keys[FIGURES] = {{"MemTotal", 8}, {"MemFree", 7}, {"MemAvailable", 12}, {"Buffers", 7},
                       {"Cached", 6},   {"SwapTotal", 9}, {"SwapFree", 8}};
    meminfo.found = 0;
    std::fill(std::begin(meminfo.bytes), std::end(meminfo.bytes), 0);
    const char *end = text + length;
    for (const char *line = text; line < end && meminfo.found != (1u << FIGURES) - 1;) {
        const char *next = static_cast<const char *>(std::memchr(line, '\n', size_t(end - line)));
        next = next ? next + 1 : end;
        for (int i = 0; i < FIGURES; ++i) {
            size_t n = keys[i].length;
            if (*line != *keys[i].key || size_t(next - line) <= n || line[n] != ':' ||
                std::memcmp(line, keys[i].key, n) != 0)
                continue;
            const char *p = line + n + 1;
            while (p < next && (*p == ' ' || *p == '\t'))
                ++p;
            ULONGLONG kilobytes = 0;
            for (; p < next && *p >= '0' && *p <= '9'; ++p)
                kilobytes = kilobytes * 10 + ULONGLONG(*p - '0');
            meminfo.bytes[i] = kilobytes * 1024;
            meminfo.found |= 1u << i;
            break;
        }
        line = next;
    }
}

bool reopenMeminfo(const char *root)
{
    if (meminfo.fd >= 0)
        close(meminfo.fd);
    meminfo.root = root;
    meminfo.haveReading = false;
    char path[4096];
    meminfo.fd = sysrootPath(path, sizeof path, "proc/meminfo") ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    struct statfs fs;
    meminfo.procfs = meminfo.fd >= 0 && fstatfs(meminfo.fd, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
    return meminfo.fd >= 0;
}

// Fills meminfo's figures from a reading; false when there is none.
bool readMeminfo()
{
    const char *root = sysrootPrefix();
    struct stat file;
    bool stale = meminfo.fd < 0 || meminfo.root != root ||
                 (!meminfo.procfs && (fstat(meminfo.fd, &file) != 0 || file.st_nlink == 0));
    if (stale && !reopenMeminfo(root))
        return false;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long age = (now.tv_sec - meminfo.readAt.tv_sec) * 1000000000LL + (now.tv_nsec - meminfo.readAt.tv_nsec);
    if (meminfo.procfs && meminfo.haveReading && age >= 0 && age < 1000000)
        return true;
    char text[8192];
    ssize_t got = pread(meminfo.fd, text, sizeof text, 0);
    if (got < 0) {
        close(meminfo.fd);
        meminfo.fd = -1;
        return false;
    }
    parseMeminfo(text, size_t(got));
    meminfo.readAt = now;
    meminfo.haveReading = true;
    return true;
}

} // namespace

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX buffer)
{
    if (!buffer || buffer->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto has = [](MeminfoFigure figure) { return (meminfo.found >> figure) & 1; };
    if (!readMeminfo() || !has(MEM_TOTAL) || meminfo.bytes[MEM_TOTAL] == 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const ULONGLONG *bytes = meminfo.bytes;
    ULONGLONG memTotal = bytes[MEM_TOTAL];
    // Kernels before 3.14 have no MemAvailable: what is free or only caches files.
    ULONGLONG memAvailable = has(MEM_AVAILABLE) ? bytes[MEM_AVAILABLE]
                                                : bytes[MEM_FREE] + bytes[BUFFERS] + bytes[CACHED];
    ULONGLONG swapTotal = bytes[SWAP_TOTAL], swapFree = bytes[SWAP_FREE];
    if (memAvailable > memTotal)
        memAvailable = memTotal;

    buffer->dwMemoryLoad = DWORD((memTotal - memAvailable) * 100 / memTotal);
    buffer->ullTotalPhys = memTotal;
    buffer->ullAvailPhys = memAvailable;
    buffer->ullTotalPageFile = memTotal + swapTotal;
    buffer->ullAvailPageFile = memAvailable + swapFree;
    buffer->ullTotalVirtual = 0x7FFE0000;
    buffer->ullAvailVirtual = 0x7FFE0000;
    buffer->ullAvailExtendedVirtual = 0;
    return TRUE;
}

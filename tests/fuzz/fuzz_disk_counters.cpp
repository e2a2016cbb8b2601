// A drive's counter file (DeviceIoControl IOCTL_DISK_PERFORMANCE on a handle from CreateFileA,
// sys/block/<disk>/stat under TALLOWLAMP_SYSROOT). The first byte chooses:
//   bit 0 clear: the rest is the file, any bytes; a call that succeeds fills the whole record;
//   bit 0 set: the rest, 6 bytes a figure (below 2^48), makes 8 to 17 figures as the kernel
//     writes them; the record is exact: operations, bytes (512 a sector), time in 100 ns
//     steps, the queue, and fewer than 8 figures fail.
// The handle opens on the first file and reads the second after it changed.
#include "platform/layer_testing.h"
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Reading {
    BOOL ok;
    DWORD returned;
    DISK_PERFORMANCE performance;
};

Reading readCounters(HANDLE handle)
{
    Reading reading;
    std::memset(&reading, 0xcc, sizeof reading);
    reading.ok = DeviceIoControl(handle, IOCTL_DISK_PERFORMANCE, nullptr, 0, &reading.performance,
                                 sizeof reading.performance, &reading.returned, nullptr);
    if (reading.ok && reading.returned != sizeof reading.performance)
        fuzzFailure("%u bytes returned", reading.returned);
    return reading;
}

void checkExact(const Reading &reading, const std::vector<uint64_t> &figures, const std::string &file)
{
    if (figures.size() < 8) {
        if (reading.ok)
            fuzzFailure("%zu figures read as counters: %s", figures.size(), printable(file).c_str());
        return;
    }
    if (!reading.ok)
        fuzzFailure("no counters from %s", printable(file).c_str());
    const DISK_PERFORMANCE &p = reading.performance;
    uint64_t queue = figures.size() > 8 ? figures[8] : 0;
    if (p.ReadCount != DWORD(figures[0]) || uint64_t(p.BytesRead.QuadPart) != figures[2] * 512 ||
        uint64_t(p.ReadTime.QuadPart) != figures[3] * 10000 || p.WriteCount != DWORD(figures[4]) ||
        uint64_t(p.BytesWritten.QuadPart) != figures[6] * 512 ||
        uint64_t(p.WriteTime.QuadPart) != figures[7] * 10000 || p.QueueDepth != DWORD(queue))
        fuzzFailure("counters %u %" PRId64 " %u %" PRId64 " from %s", p.ReadCount, p.BytesRead.QuadPart,
                    p.WriteCount, p.BytesWritten.QuadPart, printable(file).c_str());
}

// The file of one half of the input, and its figures when it is made as the kernel makes it.
std::string makeFile(std::string_view bytes, bool kernel, std::vector<uint64_t> &figures)
{
    if (!kernel)
        return std::string(bytes);
    std::string file;
    for (; bytes.size() >= 6 && figures.size() < 17; bytes.remove_prefix(6)) {
        uint64_t value = 0;
        for (int i = 0; i < 6; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[i]);
        figures.push_back(value);
        char field[32];
        std::snprintf(field, sizeof field, " %8" PRIu64, value);
        file += field;
    }
    return file + "\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string root = scratchFolder() + "/machine";
    static const std::string stat = root + "/sys/block/vda/stat";
    static bool made = makeFolders(root + "/sys/block/vda") && writeFile(root + "/sys/block/vda/dev", "254:0\n") &&
                       writeFile(root + "/sys/block/vda/size", "2097152\n") &&
                       makeFolders(root + "/proc/self") && writeFile(root + "/proc/self/mountinfo", "") &&
                       setenv("TALLOWLAMP_SYSROOT", root.c_str(), 1) == 0;
    if (!made)
        fuzzFailure("cannot make the machine in %s", root.c_str());
    if (size == 0)
        return 0;
    bool kernel = data[0] & 1;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string_view halves[2] = {rest.substr(0, rest.size() / 2), rest.substr(rest.size() / 2)};

    // The first half is there when the handle opens, the second comes while it is open.
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (std::string_view half : halves) {
        std::vector<uint64_t> figures;
        std::string file = makeFile(half, kernel, figures);
        if (!writeFile(stat, file))
            fuzzFailure("cannot write %s", stat.c_str());
        if (handle == INVALID_HANDLE_VALUE) {
            layerForgetMachine();
            handle = CreateFileA("\\\\.\\PHYSICALDRIVE0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE)
                fuzzFailure("the disk does not open");
        }
        Reading reading = readCounters(handle);
        if (kernel)
            checkExact(reading, figures, file);
    }
    CloseHandle(handle);
    return 0;
}

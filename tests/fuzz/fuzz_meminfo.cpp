// The memory figures (GlobalMemoryStatusEx reading proc/meminfo under TALLOWLAMP_SYSROOT).
// The first byte chooses:
//   bit 0 clear: the rest is the file, any bytes; an answer keeps the load within 0..100 and
//     the available physical memory within the total;
//   bit 0 set: the rest, 6 bytes a line, makes a file as the kernel writes it (a key from the
//     list below, a figure in kB below 2^40, no key twice, free swap within total swap). Then
//     the answer is exact: the total and MemAvailable (or MemFree + Buffers + Cached on old
//     kernels) in bytes, swap added to both for the page file, and no MemTotal, no answer.
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"

#include <cinttypes>
#include <cstdlib>
#include <map>
#include <string>

namespace {

const char *const kKeys[] = {"MemTotal", "MemFree",   "MemAvailable", "Buffers", "Cached",        "SwapCached",
                             "SwapTotal", "SwapFree", "Active",       "Shmem",   "Hugepagesize", "DirectMap4k"};
const size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

struct Answer {
    BOOL ok;
    MEMORYSTATUSEX status;
};

Answer ask(const std::string &file, const std::string &path)
{
    if (!writeFile(path, file))
        fuzzFailure("cannot write %s", path.c_str());
    Answer answer = {};
    answer.status.dwLength = sizeof answer.status;
    answer.ok = GlobalMemoryStatusEx(&answer.status);
    return answer;
}

void checkBounds(const Answer &answer, const std::string &file)
{
    const MEMORYSTATUSEX &s = answer.status;
    if (answer.ok && (s.dwMemoryLoad > 100 || s.ullAvailPhys > s.ullTotalPhys || s.ullTotalPhys == 0))
        fuzzFailure("load %u, %" PRIu64 " of %" PRIu64 " available, from %s", s.dwMemoryLoad, s.ullAvailPhys,
                    s.ullTotalPhys, printable(file).c_str());
}

void checkKernelFile(std::string_view lines, const std::string &path)
{
    std::map<std::string, uint64_t> kb;
    std::string file;
    for (; lines.size() >= 6; lines.remove_prefix(6)) {
        const char *key = kKeys[static_cast<unsigned char>(lines[0]) % kKeyCount];
        uint64_t value = 0;
        for (int i = 1; i < 6; ++i)
            value = value << 8 | static_cast<unsigned char>(lines[i]);
        if (!kb.emplace(key, value).second)
            continue;
        char line[80];
        std::snprintf(line, sizeof line, "%-15s %8" PRIu64 " kB\n", (std::string(key) + ":").c_str(), value);
        file += line;
    }
    if (kb.count("SwapFree") && kb["SwapFree"] > kb["SwapTotal"])
        return;

    Answer answer = ask(file, path);
    checkBounds(answer, file);
    uint64_t total = kb.count("MemTotal") ? kb["MemTotal"] : 0;
    if (!answer.ok) {
        if (total)
            fuzzFailure("no answer from %s", printable(file).c_str());
        return;
    }
    if (!total)
        fuzzFailure("an answer without MemTotal from %s", printable(file).c_str());
    uint64_t available = kb.count("MemAvailable") ? kb["MemAvailable"] : kb["MemFree"] + kb["Buffers"] + kb["Cached"];
    available = available < total ? available : total;
    const MEMORYSTATUSEX &s = answer.status;
    if (s.ullTotalPhys != total * 1024 || s.ullAvailPhys != available * 1024 ||
        s.ullTotalPageFile != (total + kb["SwapTotal"]) * 1024 ||
        s.ullAvailPageFile != (available + kb["SwapFree"]) * 1024)
        fuzzFailure("figures %" PRIu64 "/%" PRIu64 " and %" PRIu64 "/%" PRIu64 " from %s", s.ullAvailPhys,
                    s.ullTotalPhys, s.ullAvailPageFile, s.ullTotalPageFile, printable(file).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string root = scratchFolder() + "/machine";
    static const std::string path = root + "/proc/meminfo";
    static bool pointed = makeFolders(root + "/proc") && setenv("TALLOWLAMP_SYSROOT", root.c_str(), 1) == 0;
    if (!pointed)
        fuzzFailure("cannot make %s", root.c_str());
    if (size == 0)
        return 0;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1)
        checkKernelFile(rest, path);
    else
        checkBounds(ask(std::string(rest), path), std::string(rest));
    return 0;
}

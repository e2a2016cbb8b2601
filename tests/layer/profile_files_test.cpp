// Settings files the layer must not trust: one it cannot read whole (no read permission, a
// disk error part-way), nodes that are no regular file, a file beyond the size limit, a huge
// section. Each reads as defaults, fails every write with the reason in GetLastError, leaves
// the node as it was, and never blocks.
#include "platform/win32.h"
#include "platform/layer_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// A disk with a bad block in one file: layer_tests is linked with --wrap=read, so every read()
// of the layer passes here. Reads of that file (known by device and inode, whatever the
// path or descriptor) get its bytes up to the bad offset, then EIO.
namespace {

struct BadBlock {
    bool armed = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t offset = 0;
    int bytesServed = 0;
    int errorsGiven = 0;
} badBlock;

} // namespace

extern "C" ssize_t __real_read(int fd, void *buffer, size_t count);

extern "C" ssize_t __wrap_read(int fd, void *buffer, size_t count)
{
    struct stat info;
    if (!badBlock.armed || fstat(fd, &info) != 0 || info.st_dev != badBlock.device || info.st_ino != badBlock.inode)
        return __real_read(fd, buffer, count);
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || at >= badBlock.offset) {
        ++badBlock.errorsGiven;
        errno = EIO;
        return -1;
    }
    ssize_t got = __real_read(fd, buffer, std::min(count, size_t(badBlock.offset - at)));
    if (got > 0)
        badBlock.bytesServed += int(got);
    return got;
}

namespace {

constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorFileTooLarge = 223;
const char kOriginal[] = "[A]\r\nk=1\r\nother=keep\r\n[B]\r\nz=9\r\n";

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string valueOf(const char *section, const char *key, const std::string &path)
{
    char buffer[64];
    GetPrivateProfileStringA(section, key, "default", buffer, sizeof buffer, path.c_str());
    return buffer;
}

class ProfileFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tallow-profile-files-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        path = folder + "/TallowLAMP.ini";
        // Whatever blocks fails the test instead of holding the suite.
        alarm(60);
    }
    void TearDown() override
    {
        alarm(0);
        fs::permissions(folder, fs::perms::owner_all);
        fs::remove_all(folder);
    }
    std::string folder, path;
};

} // namespace

TEST_F(ProfileFiles, AFileThatCannotBeReadIsNeverReplaced)
{
    // Mode 0200: only a user other than root is refused the read, so the writer is a child
    // that drops to "nobody" when the suite runs as root.
    std::ofstream(path, std::ios::binary) << kOriginal;
    chmod(path.c_str(), 0200);
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(folder.c_str(), 65534, 65534));
        ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    }
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        SetLastError(0xdeadbeef);
        BOOL written = WritePrivateProfileStringA("A", "k", "2", path.c_str());
        DWORD error = GetLastError();
        bool defaults = valueOf("B", "z", path) == "default";
        _exit(!written && error == ERROR_ACCESS_DENIED && defaults ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the write succeeded, or failed without ERROR_ACCESS_DENIED";
    EXPECT_EQ(kOriginal, readAll(path));
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0200u, info.st_mode & 07777);
}

// An installed copy, in a folder the user cannot write, keeps its settings in the user's own
// copy under XDG_CONFIG_HOME, with the file beside it as the defaults until that copy exists;
// a folder the user can write keeps the file beside the program.
TEST_F(ProfileFiles, AProgramFolderTheUserCannotWriteIsVirtualised)
{
    std::string program = folder + "/program", config = folder + "/config", beside = program + "/TallowLAMP.ini";
    std::string store = config + "/" + fs::read_symlink("/proc/self/exe").filename().string() + "/TallowLAMP.ini";
    ASSERT_TRUE(fs::create_directory(program) && fs::create_directory(config));
    std::ofstream(beside, std::ios::binary) << kOriginal;
    ASSERT_EQ(0, chmod(folder.c_str(), 0755));
    ASSERT_EQ(0, chmod(program.c_str(), 0555));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(config.c_str(), 65534, 65534));
    }
    layerPlaceProgramForProfiles(program.c_str());
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        int failed = 0;
        // Nowhere to write: the write fails and says why.
        setenv("XDG_CONFIG_HOME", program.c_str(), 1);
        SetLastError(0xdeadbeef);
        failed |= WritePrivateProfileStringA("A", "k", "2", beside.c_str()) || GetLastError() != ERROR_ACCESS_DENIED;
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        failed |= (valueOf("A", "k", beside) != "1") << 1;
        failed |= !WritePrivateProfileStringA("A", "k", "2", beside.c_str()) << 2;
        failed |= (valueOf("A", "k", beside) != "2" || valueOf("B", "z", beside) != "9") << 3;
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "bits: 1 a write with nowhere to go, 2 the defaults beside, "
                                         "4 the write, 8 what it wrote";
    EXPECT_EQ(kOriginal, readAll(beside));
    EXPECT_EQ("[A]\r\nk=2\r\nother=keep\r\n[B]\r\nz=9\r\n", readAll(store));

    ASSERT_EQ(0, chmod(program.c_str(), 0755));
    EXPECT_EQ("1", valueOf("A", "k", beside));
    EXPECT_TRUE(WritePrivateProfileStringA("A", "k", "3", beside.c_str()));
    EXPECT_EQ("[A]\r\nk=3\r\nother=keep\r\n[B]\r\nz=9\r\n", readAll(beside));
    layerPlaceProgramForProfiles(nullptr);
}

TEST_F(ProfileFiles, AReadErrorPartWayIsNoProfile)
{
    std::ofstream(path, std::ios::binary) << kOriginal;
    struct stat info;
    ASSERT_EQ(0, stat(path.c_str(), &info));
    // The bad block starts after "[A]\r\nk=1\r\n": what came before it is a whole section.
    badBlock = {true, info.st_dev, info.st_ino, 10, 0, 0};
    EXPECT_EQ("default", valueOf("A", "k", path));
    EXPECT_EQ("default", valueOf("B", "z", path));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
    EXPECT_EQ(kErrorReadFault, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA("B", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(kErrorReadFault, GetLastError());
    BadBlock seen = badBlock;
    badBlock.armed = false;
    // The reads met the bad block part-way, each time.
    EXPECT_EQ(4 * 10, seen.bytesServed);
    EXPECT_LE(4, seen.errorsGiven);

    EXPECT_EQ(kOriginal, readAll(path));
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(seen.inode, info.st_ino) << "the file was replaced";
    // A disk that reads again gives the file back.
    EXPECT_EQ("keep", valueOf("A", "other", path));
}

TEST_F(ProfileFiles, OnlyARegularFileIsAProfile)
{
    std::string target = folder + "/node";
    auto makeFifo = [&] { ASSERT_EQ(0, mkfifo(target.c_str(), 0600)); };
    auto makeFolder = [&] { fs::create_directory(target); };
    auto makeSocket = [&] {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, target.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address));
        close(fd);
    };
    struct Case {
        const char *what;
        std::function<void()> make;
        bool throughLink;
        fs::file_type type;
    } cases[] = {
        /* 0 */ {"a FIFO", makeFifo, false, fs::file_type::fifo},
        /* 1 */ {"a link to a FIFO", makeFifo, true, fs::file_type::fifo},
        /* 2 */ {"a folder", makeFolder, false, fs::file_type::directory},
        /* 3 */ {"a link to a folder", makeFolder, true, fs::file_type::directory},
        /* 4 */ {"a socket", makeSocket, false, fs::file_type::socket},
        /* 5 */ {"a link to a device", [] {}, true, fs::file_type::character},
    };
    for (const Case &c : cases) {
        fs::remove_all(target);
        fs::remove(path);
        c.make();
        if (c.throughLink)
            fs::create_symlink(c.type == fs::file_type::character ? "/dev/zero" : target, path);
        else
            fs::rename(target, path);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ("default", valueOf("A", "k", path)) << c.what;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", path.c_str())) << c.what;
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError()) << c.what;
        EXPECT_FALSE(WritePrivateProfileStringA("A", nullptr, nullptr, path.c_str())) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
        // The node is still there, as it was: no file took its place or the link's.
        EXPECT_EQ(c.throughLink, fs::is_symlink(path)) << c.what;
        EXPECT_EQ(c.type, fs::status(path).type()) << c.what;
        if (c.type == fs::file_type::directory) {
            EXPECT_TRUE(fs::is_empty(path)) << c.what;
        }
        fs::remove(path);
    }
    // Nothing was left beside it either.
    fs::remove_all(target);
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(ProfileFiles, AFileBeyondTheLimitIsRefusedWhole)
{
    // 8 MiB is the limit; one byte more, with a key at the start that a partial read would find.
    std::string big = std::string(kOriginal) + std::string((8 << 20) - std::strlen(kOriginal), ';') + "\n";
    std::ofstream(path, std::ios::binary) << big;
    EXPECT_EQ("default", valueOf("A", "other", path));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
    EXPECT_EQ(kErrorFileTooLarge, GetLastError());
    EXPECT_TRUE(readAll(path) == big) << "the file was changed";

    // At the limit it is a profile like any other.
    big.pop_back();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << big;
    EXPECT_EQ("keep", valueOf("A", "other", path));
    EXPECT_TRUE(WritePrivateProfileStringA("B", "z", "8", path.c_str())); // the same size
    EXPECT_EQ("8", valueOf("B", "z", path));
    EXPECT_EQ("keep", valueOf("A", "other", path));
}

TEST_F(ProfileFiles, AHugeSectionCostsLinearTime)
{
    // 2 MB: 60,000 lines in one section, the keys asked for at its end, as many lookups and
    // a few writes as a load and an Apply make. A lookup that walks the section once per line
    // takes minutes here.
    std::string text = "[GENERALOPTIONS]\r\n";
    char line[64];
    for (int i = 0; i < 60000; ++i) {
        std::snprintf(line, sizeof line, "Note%06d=hand-written filler.\r\n", i);
        text += line;
    }
    text += "Pollinterval=250\r\n[\\\\.\\C:]\r\nEnabled=Yes\r\n";
    std::ofstream(path, std::ios::binary) << text;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ("250", valueOf("GENERALOPTIONS", "Pollinterval", path));
    ASSERT_TRUE(WritePrivateProfileStringA("GENERALOPTIONS", "StartWithOs", "Yes", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("GENERALOPTIONS", "Pollinterval", "100", path.c_str()));
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ("100", valueOf("GENERALOPTIONS", "Pollinterval", path));
    EXPECT_EQ("Yes", valueOf("\\\\.\\C:", "Enabled", path));
    // Well within a second in a plain build; this one is sanitized and the machine shared.
    EXPECT_LT(spent, std::chrono::seconds(10));
}

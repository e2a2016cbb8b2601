// Settings files that the fuzz target (tests/fuzz/fuzz_profile) met, kept here so that the
// sanitizers of this suite see them on every run.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct ScratchFile {
    std::string folder = (std::filesystem::temp_directory_path() / "tallow-fuzz-inputs-XXXXXX").string();
    std::string path;
    explicit ScratchFile(const std::string &bytes)
    {
        EXPECT_TRUE(mkdtemp(folder.data()));
        path = folder + "/TallowLAMP.ini";
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~ScratchFile()
    {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
};

std::string read(const char *section, const char *key, const std::string &path)
{
    char buffer[256];
    DWORD length = GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, path.c_str());
    return std::string(buffer, length);
}

} // namespace

// A key line with no name ("=v") is a key like any other: listed (as an empty name), found by
// the name "", and hiding none of the keys after it.
TEST(ProfileFuzzInputs, AKeyWithoutANameIsListedAndHidesNothing)
{
    ScratchFile file("[A]\r\n=v\r\nk=1\r\n");
    EXPECT_EQ(std::string("\0k\0", 3), read("A", nullptr, file.path));
    EXPECT_EQ("1", read("A", "k", file.path));
    EXPECT_EQ("v", read("A", "", file.path));
    ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", file.path.c_str()));
    EXPECT_EQ(std::string("\0k\0", 3), read("A", nullptr, file.path));
    EXPECT_EQ("2", read("A", "k", file.path));
}

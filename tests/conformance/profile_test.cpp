// GetPrivateProfileStringA and WritePrivateProfileStringA: the same cases on Windows (Wine) and
// on the layer. Cases where Wine is known to part from Windows are marked wineDiffers.
#include "platform/win32.h"
#include "tests/support/known_differences.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string iniPath(const char *name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

void writeRaw(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The file's bytes; "<none>" when there is no file.
std::string readRaw(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<none>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ReadCase {
    const char *file; // nullptr: no file
    const char *section;
    const char *key;
    const char *fallback;
    DWORD size;
    DWORD answer;
    const char *text; // the answer's characters (lists: their names, each terminated)
    bool wineDiffers;
};

const ReadCase readCases[] = {
    {"[s]\r\nk=v\r\n", "s", "k", "d", 64, 1, "v", false},                                 // 0
    {"[Sec]\r\nKey=v\r\n", "sEC", "kEY", "d", 64, 1, "v", false},                        // 1: any letter case
    {"  [ s ]  \r\n  k  =  v v  \r\n", "s", "k", "d", 64, 3, "v v", false},             // 2: blanks around
    {"[s]\r\nk=  \"q v\"  \r\n", "s", "k", "d", 64, 3, "q v", false},                     // 3: one pair of quotes
    {"[s]\r\nk='y'\r\n", "s", "k", "d", 64, 1, "y", false},                               // 4
    {"[s]\r\nk=\"x\r\n", "s", "k", "d", 64, 2, "\"x", false},                             // 5: an unpaired quote stays
    {"[s]\r\nk=\r\n", "s", "k", "d", 64, 0, "", false},                                   // 6: empty is not missing
    {"[s]\r\nk=v\r\n", "s", "j", "dd  ", 64, 2, "dd", false},                             // 7: default loses trailing blanks
    {"[s]\r\nk=v\r\n", "t", "k", "d", 64, 1, "d", false},                                 // 8: no such section
    {nullptr, "s", "k", "default", 64, 7, "default", false},                              // 9: no file
    {nullptr, "s", "k", nullptr, 64, 0, "", false},                                       // 10: NULL default
    {"[s]\r\nk=0123456789012345678901234567890123456789012345678901234567890123456789\r\n", "s", "k", "d", 64, 63,
     "012345678901234567890123456789012345678901234567890123456789012", false},          // 11: cut at 63
    {"[s]\r\nk=val1\r\n", "s", "k", "d", 4, 3, "val", false},                             // 12
    {"[s]\r\nk=a\r\n", "s", "k", "d", 1, 0, "", false},                                   // 13
    {"[s]\r\nname3\r\n", "s", "name3", "d", 64, 1, "d", false},                           // 14: no '=', no key
    {"[A]\r\nk=1\r\n[a]\r\nj=3\r\n", "A", "j", "d", 64, 1, "d", false},                  // 15: the first section only
    {"[s]\nk=lf\n", "s", "k", "d", 64, 2, "lf", false},                                   // 16: LF line ends
    {"[s]\rk=cr\r", "s", "k", "d", 64, 2, "cr", false},                                   // 17: CR line ends
    {"[s]\r\n;k=c\r\n", "s", ";k", "d", 64, 1, "c", false},                               // 18: no comment syntax here
    {"[]\r\nk=e\r\n[A]\r\n", "", "k", "d", 64, 1, "e", true},                             // 19: the empty name is "[]"
    {"k=top\r\n[A]\r\nk=a\r\n", "", "k", "d", 64, 1, "d", true},                          // 20: lines before any section
    {"[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n", "s", nullptr, "d", 64, 18,
     "name1\0name2\0name4\0", false},                                                    // 21: the keys
    {"[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n", "s", nullptr, "d", 16, 14,
     "name1\0name2\0na\0", true},                                                        // 22: cut list
    {"[ section1 ]\r\n[section2]\r\nk=v\r\n[section3]\r\n", nullptr, "k", "d", 64, 27,
     "section1\0section2\0section3\0", false},                                           // 23: the sections
    {"[section1]\r\n[section2]\r\n[section3]\r\n", nullptr, "k", "d", 28, 26,
     "section1\0section2\0section3", true},                                              // 24: room for both ends
    {nullptr, nullptr, nullptr, "d", 64, 0, "", false},                                   // 25: no sections
    {"[s]\r\nk\r\nk=1\r\n", "s", "k", "d", 64, 1, "d", false},                            // 26: a bare name hides k=1
};

TEST(PrivateProfile, ReadsAsWindowsDoes)
{
    std::string path = iniPath("tallow_profile_read.ini");
    for (size_t i = 0; i < sizeof readCases / sizeof *readCases; ++i) {
        const ReadCase &c = readCases[i];
        std::remove(path.c_str());
        if (c.file)
            writeRaw(path, c.file);
        char buffer[100];
        std::memset(buffer, 0xcc, sizeof buffer);
        DWORD answer = GetPrivateProfileStringA(c.section, c.key, c.fallback, buffer, c.size, path.c_str());
        // The answer's characters and a terminator; a cut list ends in two.
        std::string expected(c.text, c.answer);
        expected += '\0';
        if ((!c.section || !c.key) && c.answer && c.answer == c.size - 2)
            expected += '\0';
        bool same = answer == c.answer && std::string(buffer, expected.size()) == expected;
        if (expectWindowsAnswer(c.wineDiffers))
            EXPECT_TRUE(same) << "case " << i << ": answered " << answer << " [" << std::string(buffer, expected.size())
                              << "]";
        else
            EXPECT_FALSE(same) << "case " << i << " is marked as differing on Wine but no longer does";
    }
    std::remove(path.c_str());
}

struct Write {
    const char *section;
    const char *key;
    const char *value;
};

struct WriteCase {
    const char *before; // nullptr: no file
    Write writes[3];
    const char *after;
    bool wineDiffers;
};

const WriteCase writeCases[] = {
    // 0: a new file: its sections in the order written
    {nullptr, {{"A", "k", "v"}, {"A", "j", "w"}, {"B", "k", "v"}}, "[A]\r\nk=v\r\nj=w\r\n[B]\r\nk=v\r\n", false},
    // 1: replaced in place, the key keeps the spelling it has in the file
    {"[A]\r\nKey=1\r\nz=2\r\n", {{"a", "KEY", "3"}}, "[A]\r\nKey=3\r\nz=2\r\n", false},
    // 2: a new key at the end of its section, before the next
    {"[A]\r\nk=1\r\n[B]\r\nx=1\r\n", {{"A", "j", "w"}}, "[A]\r\nk=1\r\nj=w\r\n[B]\r\nx=1\r\n", false},
    // 3: a file that ends without a line break
    {"[A]\r\nk=v", {{"A", "j", "w"}, {"B", "j", "w"}}, "[A]\r\nk=v\r\nj=w\r\n[B]\r\nj=w\r\n", false},
    // 4: a NULL value deletes the key, a NULL key the section
    {"[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n[C]\r\ny=1\r\n", {{"A", "k", nullptr}, {"B", nullptr, nullptr}},
     "[A]\r\nj=2\r\n[C]\r\ny=1\r\n", false},
    // 5: comments stay where they are
    {"; top\r\n[A]\r\nk=1\r\n; c\r\n[B]\r\nx=1\r\n", {{"A", "k", "2"}, {"A", "j", "3"}},
     "; top\r\n[A]\r\nk=2\r\n; c\r\nj=3\r\n[B]\r\nx=1\r\n", false},
    // 6: the value's leading blanks are not written
    {nullptr, {{"A", "k", "  sp "}}, "[A]\r\nk=sp \r\n", false},
    // 7: a bare name becomes a key
    {"[A]\r\nname3\r\n", {{"A", "name3", "v"}}, "[A]\r\nname3=v\r\n", false},
    // 8: blank lines between sections stay (Wine rewrites the file without them)
    {"[A]\r\nk=v\r\n\r\n[B]\r\nx=1\r\n", {{"A", "j", "w"}}, "[A]\r\nk=v\r\nj=w\r\n\r\n[B]\r\nx=1\r\n", true},
    // 9: the section with the empty name is "[]" (Wine writes its keys, headless, at the top)
    {nullptr, {{"G", "a", "1"}, {"", "k", "v"}}, "[G]\r\na=1\r\n[]\r\nk=v\r\n", true},
    // 10: deleting what is not there changes nothing
    {"[A]\r\nk=1\r\n", {{"A", "j", nullptr}, {"B", nullptr, nullptr}}, "[A]\r\nk=1\r\n", false},
    // 11: a bare name is the key of its name: the one deleted, the first one replaced
    {"[A]\r\nk\r\nk=1\r\nj\r\nj=2\r\n", {{"A", "k", nullptr}, {"A", "j", "3"}},
     "[A]\r\nk=1\r\nj=3\r\nj=2\r\n", false},
};

TEST(PrivateProfile, WritesAsWindowsDoes)
{
    std::string path = iniPath("tallow_profile_write.ini");
    for (size_t i = 0; i < sizeof writeCases / sizeof *writeCases; ++i) {
        const WriteCase &c = writeCases[i];
        std::remove(path.c_str());
        if (c.before)
            writeRaw(path, c.before);
        bool allSucceeded = true;
        for (const Write &w : c.writes)
            if (w.section || w.key || w.value)
                allSucceeded &= WritePrivateProfileStringA(w.section, w.key, w.value, path.c_str()) != FALSE;
        std::string after = readRaw(path);
        if (expectWindowsAnswer(c.wineDiffers)) {
            EXPECT_TRUE(allSucceeded) << "case " << i;
            EXPECT_EQ(after, c.after) << "case " << i;
        } else {
            EXPECT_NE(after, c.after) << "case " << i << " is marked as differing on Wine but no longer does";
        }
    }

    // What the writer wrote, the reader finds, the empty section included.
    std::remove(path.c_str());
    ASSERT_TRUE(WritePrivateProfileStringA("", "k", "head", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("GENERAL", "k", "general", path.c_str()));
    char buffer[64];
    EXPECT_EQ(GetPrivateProfileStringA("", "k", "d", buffer, sizeof buffer, path.c_str()), 4u);
    EXPECT_STREQ(buffer, "head");
    EXPECT_EQ(GetPrivateProfileStringA("general", "K", "d", buffer, sizeof buffer, path.c_str()), 7u);
    EXPECT_STREQ(buffer, "general");

    // A bare name hides a key of that name after it (read case 26); deleting the name uncovers
    // the key, as deleting the first of two keys would.
    writeRaw(path, "[s]\r\nk\r\nk=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("s", "k", nullptr, path.c_str()));
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, sizeof buffer, path.c_str()), 1u);
    EXPECT_STREQ(buffer, "1");

    // Without a section name nothing is written, and no file is made.
    std::remove(path.c_str());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", path.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(readRaw(path), "<none>");
    std::remove(path.c_str());
}

} // namespace

TEST(PrivateProfile, AFolderIsNoProfile)
{
    // A folder where the file should be: the defaults, and writes fail without touching it.
    std::string path = iniPath("tallow_profile_folder.ini");
    std::filesystem::remove_all(path);
    ASSERT_TRUE(std::filesystem::create_directory(path));
    char buffer[64];
    std::memset(buffer, 0xcc, sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA("A", "k", "default", buffer, sizeof buffer, path.c_str()), 7u);
    EXPECT_STREQ(buffer, "default");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "v", path.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_TRUE(std::filesystem::is_empty(path));
    std::filesystem::remove_all(path);
}

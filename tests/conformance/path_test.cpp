// SHLWAPI path functions and GetModuleFileNameA, on Windows (Wine) and on the layer.
#include "platform/win32.h"
#include "tests/support/known_differences.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Paths, RemoveFileSpec)
{
    struct Case {
        const char *path;
        const char *after;
        BOOL answer;
    };
    const Case cases[] = {
        {"C:\\dir\\file.txt", "C:\\dir", TRUE}, // 0
        {"C:\\file", "C:\\", TRUE},             // 1: the root keeps its backslash
        {"C:\\", "C:\\", FALSE},                // 2
        {"C:", "C:", FALSE},                    // 3
        {"file", "", TRUE},                     // 4
        {"\\file", "\\", TRUE},                 // 5
        {"\\\\server\\share", "\\\\server", TRUE}, // 6
        {"", "", FALSE},                        // 7
    };
    for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
        char path[MAX_PATH];
        std::strcpy(path, cases[i].path);
        EXPECT_EQ(PathRemoveFileSpecA(path), cases[i].answer) << "case " << i;
        EXPECT_STREQ(path, cases[i].after) << "case " << i;
    }
}

TEST(Paths, AppendAndAddBackslash)
{
    struct Case {
        const char *path;
        const char *more;
        const char *after;
    };
    const Case cases[] = {
        {"C:\\dir", "TallowLAMP.ini", "C:\\dir\\TallowLAMP.ini"}, // 0
        {"C:\\dir\\", "file", "C:\\dir\\file"},                   // 1
        {"C:\\dir", "\\file", "C:\\dir\\file"},                   // 2: one backslash between
        {"C:\\dir", "..\\x", "C:\\x"},                            // 3
        {"C:\\a\\.\\b", "c", "C:\\a\\b\\c"},                      // 4
        {"C:\\dir", "D:\\x", "D:\\x"},                            // 5
        {"dir", "file", "dir\\file"},                             // 6
        {"C:\\", "file", "C:\\file"},                             // 7
    };
    for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
        char path[MAX_PATH];
        std::strcpy(path, cases[i].path);
        EXPECT_TRUE(PathAppendA(path, cases[i].more)) << "case " << i;
        EXPECT_STREQ(path, cases[i].after) << "case " << i;
    }

    char path[MAX_PATH] = "\\\\.\\C:";
    EXPECT_EQ(PathAddBackslashA(path), path + 7);
    EXPECT_STREQ(path, "\\\\.\\C:\\");
    EXPECT_EQ(PathAddBackslashA(path), path + 7); // already there
    EXPECT_STREQ(path, "\\\\.\\C:\\");
    path[0] = 0;
    EXPECT_EQ(PathAddBackslashA(path), path);
    EXPECT_STREQ(path, "");
}

TEST(ModuleFileName, CutsAsWindowsDoes)
{
    char full[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, DWORD(MAX_PATH));
    EXPECT_EQ(std::strlen(full), size_t(length));

    char shortBuffer[8];
    std::memset(shortBuffer, 0xcc, sizeof shortBuffer);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortBuffer, 5), 5u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(shortBuffer, 4), std::string(full, 4));
    // Windows since Vista ends the cut name with a terminator; Wine, like XP, fills the buffer.
    if (expectWindowsAnswer(true))
        EXPECT_EQ(shortBuffer[4], 0);
    else
        EXPECT_EQ(shortBuffer[4], full[4]) << "marked as differing on Wine but no longer does";
    EXPECT_EQ(static_cast<unsigned char>(shortBuffer[5]), 0xccu);

    // The program's folder and its settings file, as the program builds them.
    PathRemoveFileSpecA(full);
    EXPECT_LT(std::strlen(full), size_t(length));
    ASSERT_TRUE(PathAppendA(full, "TallowLAMP.ini"));
    std::string ini = full;
    EXPECT_EQ(ini.substr(ini.size() - 15), std::string(1, ini[ini.size() - 15]) + "TallowLAMP.ini");
}

} // namespace

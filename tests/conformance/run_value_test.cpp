// "Start with os": the Run value written and removed through the registry calls alone, so
// the same expectations hold for Wine's registry and for the layer's autostart entries. The
// value found before the test is put back afterwards.
#include "persist/run_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

HKEY openRunKey()
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    return key;
}

// The value's text, or "" with *found false.
std::string runValue(bool *found)
{
    HKEY key = openRunKey();
    char data[600];
    std::memset(data, 0xcc, sizeof data);
    DWORD type = 0xdeadbeef, size = sizeof data;
    LSTATUS status = RegQueryValueExA(key, "TallowLAMP", nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    *found = status == ERROR_SUCCESS;
    if (!*found) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, status);
        return std::string();
    }
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(std::strlen(data) + 1, size); // the terminator is part of the data
    return data;
}

std::string expectedCommand()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_GT(length, 0u);
    std::string command = "\"";
    command.append(path, length);
    return command.append("\" /STARTUP");
}

// Keeps whatever value the machine had before the test.
class RunValue : public ::testing::Test {
protected:
    void SetUp() override { saved = runValue(&hadValue); }
    void TearDown() override
    {
        HKEY key = openRunKey();
        if (hadValue)
            RegSetValueExA(key, "TallowLAMP", 0, REG_SZ, reinterpret_cast<const BYTE *>(saved.c_str()),
                           DWORD(saved.size() + 1));
        else
            RegDeleteValueA(key, "TallowLAMP");
        RegCloseKey(key);
    }
    bool hadValue = false;
    std::string saved;
};

} // namespace

TEST_F(RunValue, TickClearTickLeavesOneValueNamingThisExecutable)
{
    bool found = false;
    EXPECT_EQ(ERROR_SUCCESS, setStartWithOs(TRUE));
    EXPECT_EQ(expectedCommand(), runValue(&found));
    EXPECT_TRUE(found);

    setStartWithOs(FALSE);
    runValue(&found);
    EXPECT_FALSE(found);
    EXPECT_EQ(ERROR_SUCCESS, setStartWithOs(FALSE)); // clearing what is not there changes nothing
    runValue(&found);
    EXPECT_FALSE(found);

    setStartWithOs(TRUE);
    setStartWithOs(TRUE);
    EXPECT_EQ(expectedCommand(), runValue(&found));
    EXPECT_TRUE(found);
}

TEST_F(RunValue, RegistryAnswersAsWindowsDoes)
{
    setStartWithOs(TRUE);
    std::string command = expectedCommand();
    HKEY key = openRunKey();
    ASSERT_NE(nullptr, key);

    // The size alone, then a buffer one byte short.
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "tallowlamp", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(DWORD(command.size() + 1), size);
    char data[600];
    size = DWORD(command.size());
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "TallowLAMP", nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size));
    EXPECT_EQ(DWORD(command.size() + 1), size);

    // Deleting: once it works, then the value is missing.
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "TallowLAMP"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "TallowLAMP"));
    size = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "TallowLAMP", nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

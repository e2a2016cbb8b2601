// The Run value as an XDG autostart entry: what a desktop session will run from the file.
#include "persist/run_value.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> filesIn(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

// The value of "key=" in the file, or "" with *found false.
std::string keyValue(const std::string &entry, const std::string &key, bool *found = nullptr)
{
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0) {
            if (found)
                *found = true;
            return line.substr(key.size() + 1);
        }
    if (found)
        *found = false;
    return std::string();
}

// What a launcher makes of an Exec value, read from the Desktop Entry rules: string escapes
// first, then arguments split at blanks, quoted ones unescaped, %% a percent sign. Anything
// a launcher could read another way (a reserved character outside quotes, a field code)
// fails the test.
std::vector<std::string> launcherArguments(const std::string &value)
{
    std::string exec;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char c = value[++i];
            exec += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            if (!std::strchr("sntr\\", c))
                ADD_FAILURE() << "unknown string escape \\" << c;
        } else {
            exec += value[i];
        }
    }
    std::vector<std::string> words;
    for (size_t i = 0; i < exec.size();) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string word;
        if (exec[i] == '"') {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1]))
                    ++i;
                else if (std::strchr("\"`$\\", exec[i]))
                    ADD_FAILURE() << "unescaped '" << exec[i] << "' inside quotes: " << exec;
                word += exec[i];
            }
            EXPECT_LT(i, exec.size()) << "unterminated quote: " << exec;
            ++i;
            EXPECT_TRUE(i == exec.size() || exec[i] == ' ') << "quote glued to more: " << exec;
        } else {
            for (; i < exec.size() && exec[i] != ' '; ++i) {
                if (std::strchr("\t\n\"'\\><~|&;$*?#()`", exec[i]))
                    ADD_FAILURE() << "reserved '" << exec[i] << "' outside quotes: " << exec;
                word += exec[i];
            }
        }
        std::string expanded;
        for (size_t k = 0; k < word.size(); ++k) {
            if (word[k] == '%') {
                if (k + 1 < word.size() && word[k + 1] == '%')
                    ++k;
                else
                    ADD_FAILURE() << "field code in " << word;
            }
            expanded += word[k];
        }
        words.push_back(expanded);
    }
    return words;
}

LSTATUS setRunValue(const char *name, const std::string &command)
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    LSTATUS status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                                    DWORD(command.size() + 1));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    return status;
}

LSTATUS queryRunValue(const char *name, std::string *command)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    char data[2048];
    std::memset(data, 0xcc, sizeof data);
    DWORD size = sizeof data;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size);
    if (status == ERROR_SUCCESS) {
        EXPECT_EQ(std::strlen(data) + 1, size);
        *command = data;
    }
    RegCloseKey(key);
    return status;
}

LSTATUS deleteRunValue(const char *name)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    LSTATUS status = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return status;
}

void makeFile(const std::string &path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
    std::ofstream(path) << "#!/bin/sh\n";
}

// Every test gets its own configuration folder (and home), and the variables back after.
class Autostart : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tallow-autostart-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        root = pattern;
        save("XDG_CONFIG_HOME", &oldConfig, &hadConfig);
        save("HOME", &oldHome, &hadHome);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        folder = root + "/config/autostart";
        entry = folder + "/TallowLAMP.desktop";
    }
    void TearDown() override
    {
        restore("XDG_CONFIG_HOME", oldConfig, hadConfig);
        restore("HOME", oldHome, hadHome);
        std::string command = "rm -rf '" + root + "'";
        EXPECT_EQ(0, std::system(command.c_str()));
    }
    static void save(const char *name, std::string *value, bool *had)
    {
        const char *v = std::getenv(name);
        *had = v != nullptr;
        *value = v ? v : "";
    }
    static void restore(const char *name, const std::string &value, bool had)
    {
        if (had)
            setenv(name, value.c_str(), 1);
        else
            unsetenv(name);
    }
    std::string root, folder, entry, oldConfig, oldHome;
    bool hadConfig = false, hadHome = false;
};

} // namespace

TEST_F(Autostart, NoPathCanRunAnythingElse)
{
    const char *folders[] = {
        /* 0 */ "dir with blanks",
        /* 1 */ "it's \"quoted\"",
        /* 2 */ "$HOME and `id` and $(id)",
        /* 3 */ "100% %u %f %%",
        /* 4 */ "back\\slash\\\\double\\",
        /* 5 */ "semi;colon&and|pipe>x<y*?#(~)",
        /* 6 */ "\xc3\xbcnic\xc3\xb6" "de",
        /* 7 */ "x\" \"--evil\" \"", // quotes and blanks that would close the program early
    };
    // Case 7 also has a file where its path would end if cut at the first quote.
    makeFile(root + "/x");
    for (const char *name : folders) {
        std::string program = root + "/" + name + "/TallowLAMP";
        makeFile(program);
        std::string command = "\"" + program + "\" /STARTUP";
        ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", command)) << name;
        std::string file = readAll(entry);
        bool found = false;
        std::string exec = keyValue(file, "Exec", &found);
        ASSERT_TRUE(found) << file;
        EXPECT_EQ((std::vector<std::string>{program, "/STARTUP"}), launcherArguments(exec)) << "Exec=" << exec;
        std::string back;
        EXPECT_EQ(ERROR_SUCCESS, queryRunValue("TallowLAMP", &back));
        EXPECT_EQ(command, back);
    }
}

TEST_F(Autostart, EntryIsWrittenWholeWhereXdgConfigHomeSays)
{
    // The folder does not exist yet: it is made.
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"/opt/tallow/TallowLAMP\" /STARTUP"));
    EXPECT_EQ("[Desktop Entry]\n"
              "Type=Application\n"
              "Name=TallowLAMP\n"
              "Exec=\"/opt/tallow/TallowLAMP\" \"/STARTUP\"\n"
              "X-TallowLAMP-Command=\"/opt/tallow/TallowLAMP\" /STARTUP\n",
              readAll(entry));
    // Written again: still one file, no temporary left behind, the new text whole.
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"/usr/local/bin/TallowLAMP\" /STARTUP"));
    EXPECT_EQ(std::vector<std::string>{"TallowLAMP.desktop"}, filesIn(folder));
    EXPECT_EQ((std::vector<std::string>{"/usr/local/bin/TallowLAMP", "/STARTUP"}),
              launcherArguments(keyValue(readAll(entry), "Exec")));
    struct stat info;
    ASSERT_EQ(0, stat(entry.c_str(), &info));
    EXPECT_EQ(0644u, info.st_mode & 0777);

    // Value names ignore case, as Windows' do.
    std::string back;
    EXPECT_EQ(ERROR_SUCCESS, queryRunValue("TALLOWLAMP", &back));
    EXPECT_EQ(ERROR_SUCCESS, deleteRunValue("tallowlamp"));
    EXPECT_TRUE(filesIn(folder).empty());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, deleteRunValue("TallowLAMP"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryRunValue("TallowLAMP", &back));

    // A relative XDG_CONFIG_HOME does not count: ~/.config is used.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    setenv("HOME", (root + "/home").c_str(), 1);
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"/opt/TallowLAMP\" /STARTUP"));
    EXPECT_FALSE(readAll(root + "/home/.config/autostart/TallowLAMP.desktop").empty());
}

TEST_F(Autostart, FailuresAreReportedAndTouchNothingElse)
{
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr,
                                                   REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(1)));

    // Names that are no file name of their own stay out of the file system.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, setRunValue("../escape", "\"/bin/true\""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, setRunValue("a/b", "\"/bin/true\""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, setRunValue("TallowLAMP", "\"/opt/line\nbreak\" /STARTUP"));
    EXPECT_TRUE(filesIn(root + "/config").empty());

    // An autostart "folder" that is a file: the write fails and says so.
    makeFile(folder);
    EXPECT_NE(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"/opt/TallowLAMP\" /STARTUP"));
    std::string back;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryRunValue("TallowLAMP", &back));
}

TEST_F(Autostart, StartWithOsRegistersThisExecutable)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    setStartWithOs(TRUE);
    EXPECT_EQ((std::vector<std::string>{path, "/STARTUP"}), launcherArguments(keyValue(readAll(entry), "Exec")));
    setStartWithOs(FALSE);
    EXPECT_TRUE(filesIn(folder).empty());
    setStartWithOs(FALSE);
    EXPECT_TRUE(filesIn(folder).empty());
}

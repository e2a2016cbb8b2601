// The Run value as an XDG autostart entry: what a desktop session will run from the file.
#include "persist/run_value.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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
        // TryExec is a plain string: only its escapes are read.
        std::string tryExec = keyValue(file, "TryExec");
        for (size_t at = 0; (at = tryExec.find('\\', at)) != std::string::npos; ++at)
            tryExec.erase(at, 1);
        EXPECT_EQ(program, tryExec) << file;
        std::string back;
        EXPECT_EQ(ERROR_SUCCESS, queryRunValue("TallowLAMP", &back));
        EXPECT_EQ(command, back);
    }
}

TEST_F(Autostart, EntryIsWrittenWholeWhereXdgConfigHomeSays)
{
    // The folder does not exist yet: it is made.
    std::string first = root + "/opt/TallowLAMP", second = root + "/bin/TallowLAMP";
    makeFile(first);
    makeFile(second);
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"" + first + "\" /STARTUP"));
    EXPECT_EQ("[Desktop Entry]\n"
              "Type=Application\n"
              "Name=TallowLAMP\n"
              "Exec=\"" + first + "\" \"/STARTUP\"\n"
              "TryExec=" + first + "\n"
              "X-TallowLAMP-Command=\"" + first + "\" /STARTUP\n",
              readAll(entry));
    // Written again: still one file, no temporary left behind, the new text whole.
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"" + second + "\" /STARTUP"));
    EXPECT_EQ(std::vector<std::string>{"TallowLAMP.desktop"}, filesIn(folder));
    EXPECT_EQ((std::vector<std::string>{second, "/STARTUP"}),
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
    ASSERT_EQ(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"" + first + "\" /STARTUP"));
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
    EXPECT_NE(ERROR_SUCCESS, setRunValue("TallowLAMP", "\"/bin/true\" /STARTUP"));
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

TEST_F(Autostart, UntickingRemovesTheEntryWhateverTheCaseOfItsName)
{
    // Value names ignore case: each of these is the value, and each would start the program.
    for (const char *name : {"tallowlamp.desktop", "TALLOWLAMP.desktop", "TallowLamp.Desktop"})
        makeFile(folder + "/" + name);
    makeFile(folder + "/Other.desktop");
    setStartWithOs(FALSE);
    EXPECT_EQ(std::vector<std::string>{"Other.desktop"}, filesIn(folder));

    // Ticking leaves one entry, in the spelling found, and no other.
    makeFile(folder + "/tallowlamp.desktop");
    makeFile(folder + "/TALLOWLAMP.DESKTOP");
    setStartWithOs(TRUE);
    std::vector<std::string> left = filesIn(folder);
    EXPECT_EQ(2u, left.size());
    std::string back;
    EXPECT_EQ(ERROR_SUCCESS, queryRunValue("TallowLAMP", &back));
    setStartWithOs(FALSE);
    EXPECT_EQ(std::vector<std::string>{"Other.desktop"}, filesIn(folder));
}

TEST_F(Autostart, OnlyRegularFilesAreEntries)
{
    // A folder and a FIFO of the entry's name: no value, nothing replaced, nothing blocks.
    alarm(60);
    std::string program = root + "/TallowLAMP";
    makeFile(program);
    makeFile(folder + "/Other.desktop");
    for (bool fifo : {false, true}) {
        std::string node = folder + "/TallowLAMP.desktop";
        ASSERT_EQ(0, fifo ? mkfifo(node.c_str(), 0600) : mkdir(node.c_str(), 0700));
        std::string back;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, queryRunValue("TallowLAMP", &back)) << fifo;
        EXPECT_EQ(ERROR_ACCESS_DENIED, setRunValue("TallowLAMP", "\"" + program + "\" /STARTUP")) << fifo;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, deleteRunValue("TallowLAMP")) << fifo;
        struct stat info;
        ASSERT_EQ(0, lstat(node.c_str(), &info)) << fifo;
        EXPECT_TRUE(fifo ? S_ISFIFO(info.st_mode) : S_ISDIR(info.st_mode)) << fifo;
        EXPECT_EQ(2u, filesIn(folder).size()) << fifo;
        std::string command = "rm -rf '" + node + "'";
        ASSERT_EQ(0, std::system(command.c_str()));
    }
    alarm(0);
}

TEST_F(Autostart, AQuotedProgramThatNamesNoFileIsRefused)
{
    // Neither "x" nor the whole path names a file: no quote is taken as the program's end.
    std::string command = "\"" + root + "/x\" y/TallowLAMP\" /STARTUP";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, setRunValue("TallowLAMP", command));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, setRunValue("TallowLAMP", "\"" + root + "/missing\" /STARTUP"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, setRunValue("TallowLAMP", "\"" + root + "/x"));
    EXPECT_TRUE(filesIn(folder).empty());
}

namespace {

// Starts this test binary as program, which registers itself; answers its exit status.
int registerFrom(const std::string &program, bool deleteFirst)
{
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        if (deleteFirst)
            setenv("TALLOW_DELETE_SELF", "1", 1);
        execl(program.c_str(), "layer_tests", "--gtest_filter=AutostartChild.DISABLED_RegistersItself",
              "--gtest_also_run_disabled_tests", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ownExecutable()
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, length > 0 ? size_t(length) : 0);
}

} // namespace

// The child's side: ticks "Start with os", after deleting its own executable when asked.
TEST(AutostartChild, DISABLED_RegistersItself)
{
    if (std::getenv("TALLOW_DELETE_SELF")) {
        // From here on /proc/self/exe reads "... (deleted)".
        ASSERT_EQ(0, unlink(ownExecutable().c_str()));
    }
    setStartWithOs(TRUE);
    if (std::getenv("TALLOW_DELETE_SELF")) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        ASSERT_GT(length, 0u);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, setRunValue("TallowLAMP", std::string("\"") + path + "\" /STARTUP")) << path;
    }
}

TEST_F(Autostart, RegistersTheRealPathAndNeverADeletedOne)
{
    // A copy of this binary (a second link to it, so no bytes are copied) beside the build,
    // started through a symbolic link: the entry names the file, not the link.
    std::string self = ownExecutable();
    std::string copies = self.substr(0, self.rfind('/')) + "/tallow-autostart-" + std::to_string(getpid());
    ASSERT_EQ(0, mkdir(copies.c_str(), 0700));
    std::string copy = copies + "/layer_tests", alias = copies + "/alias";
    ASSERT_EQ(0, link(self.c_str(), copy.c_str())) << "cannot link " << self;
    ASSERT_EQ(0, symlink(copy.c_str(), alias.c_str()));
    EXPECT_EQ(0, registerFrom(alias, false));
    EXPECT_EQ((std::vector<std::string>{copy, "/STARTUP"}), launcherArguments(keyValue(readAll(entry), "Exec")));

    // After an upgrade replaced it, the running file reads "... (deleted)": refused, and the
    // entry already there stays as it was.
    std::string before = readAll(entry);
    EXPECT_EQ(0, registerFrom(copy, true));
    EXPECT_EQ(before, readAll(entry));
    EXPECT_EQ(std::vector<std::string>{"TallowLAMP.desktop"}, filesIn(folder));
    unlink(alias.c_str());
    unlink(copy.c_str());
    rmdir(copies.c_str());
}

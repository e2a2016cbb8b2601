// system() on Linux: Windows' diskperf, which the program offers to run when a drive has no
// counters, runs nothing at all; every other command runs as it always does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

TEST(CrtSystem, WindowsDiskperfRunsNothingOtherCommandsRun)
{
    // A program called diskperf first on the PATH, as anything could be.
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("tallow-path-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path marker = folder / "ran";
    std::ofstream(folder / "diskperf") << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
    fs::permissions(folder / "diskperf", fs::perms::owner_all);
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (folder.string() + ":" + path).c_str(), 1);

    int status = std::system("diskperf -y");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127) << "as a command that does not exist";
    EXPECT_FALSE(fs::exists(marker)) << "a program named diskperf on the PATH ran";
    EXPECT_EQ(WEXITSTATUS(std::system("  DISKPERF -n")), 127);

    // Other commands, even with diskperf in them, go to the shell.
    EXPECT_EQ(WEXITSTATUS(std::system("exit 3")), 3);
    EXPECT_EQ(WEXITSTATUS(std::system((folder / "diskperf").c_str())), 0);
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_NE(std::system(nullptr), 0) << "a shell is there";

    setenv("PATH", path.c_str(), 1);
    fs::remove_all(folder);
}

// GetCommandLineA of a process whose name holds blanks or double quotes: the program's name is
// skipped whole, so the tail that the entry reads is exactly the arguments.
#include "app/command_line.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

TEST(CommandLineChild, DISABLED_PrintsLineAndTail)
{
    if (!std::getenv("TALLOW_COMMAND_LINE_CHILD"))
        GTEST_SKIP() << "only run as a child";
    char *line = GetCommandLineA();
    std::printf("line: %s\ntail: %s\n", line, commandLineTail(line));
    std::fflush(stdout);
    _exit(0);
}

namespace {

// The line and the tail a child named so prints, with two arguments after the test's own.
std::string childSees(const char *name)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "<no pipe>";
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        setenv("TALLOW_COMMAND_LINE_CHILD", "1", 1);
        const char *argv[] = {name, "--gtest_filter=CommandLineChild.DISABLED_PrintsLineAndTail",
                              "--gtest_also_run_disabled_tests", "-startup", "two words", nullptr};
        execv("/proc/self/exe", const_cast<char **>(argv));
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, size_t(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    size_t line = output.find("line: ");
    return line == std::string::npos ? output : output.substr(line);
}

} // namespace

TEST(CommandLine, ANameWithBlanksOrQuotesLeavesTheArgumentsWhole)
{
    const std::string arguments = "--gtest_filter=CommandLineChild.DISABLED_PrintsLineAndTail "
                                  "--gtest_also_run_disabled_tests -startup \"two words\"";
    struct Case {
        const char *name;
        const char *shown;
    };
    const Case cases[] = {
        /* 0 */ {"/opt/tallow lamp/TallowLAMP", "\"/opt/tallow lamp/TallowLAMP\""},
        /* 1 */ {"Tallow\"LAMP", "\"TallowLAMP\""},        // a quote would end the name early
        /* 2 */ {"\"/opt/x\" -startup", "\"/opt/x -startup\""}, // nor may the name bring a switch
        /* 3 */ {"a\\", "\"a\\\""},                         // no escapes in a name
    };
    for (const Case &c : cases) {
        std::string expected = "line: " + std::string(c.shown) + " " + arguments + "\ntail: " + arguments + "\n";
        EXPECT_EQ(expected, childSees(c.name)) << "name: " << c.name;
    }
}

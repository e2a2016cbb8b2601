// The command-line tail that the entry reads the start-up switch from: the same rule on both
// builds, taken from GetCommandLineA.
#include "app/command_line.h"
#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>

TEST(CommandTail, SkipsTheProgramNameByOneRuleOnBothBuilds)
{
    struct Case {
        const char *line;
        const char *tail;
        bool launched;
    };
    const Case cases[] = {
        /* 0 */ {"\"C:\\Tallow Lamp\\TallowLAMP.exe\" /STARTUP", "/STARTUP", true},
        /* 1 */ {"\"/opt/TallowLAMP\"   -startup  x", "-startup  x", true},
        /* 2 */ {"\"C:\\-startup\\TallowLAMP.exe\"", "", false}, // the name is not part of the tail
        /* 3 */ {"\"x\"-startup", "-startup", true},             // nothing needed after the quote
        /* 4 */ {"TallowLAMP -startup", "-startup", true},
        /* 5 */ {"TallowLAMP\t \t/startup", "/startup", true},
        /* 6 */ {"TallowLAMP", "", false},
        /* 7 */ {"\"C:\\Tallow -startup", "\"C:\\Tallow -startup", true}, // no closing quote: all of it
        /* 8 */ {"\"\" x", "x", false},
        /* 9 */ {"", "", false},
        /* 10 */ {"C:\\-startup\\TallowLAMP.exe /x", "/x", false},
    };
    for (const Case &c : cases) {
        std::string line = c.line;
        char *tail = commandLineTail(line.data());
        EXPECT_STREQ(c.tail, tail) << "line: " << c.line;
        // A pointer into the line: the switch is looked for in place, as on Windows.
        EXPECT_GE(tail, line.data());
        EXPECT_LE(tail, line.data() + line.size());
        LaunchedAtStartup = FALSE;
        noteStartupSwitch(tail);
        EXPECT_EQ(c.launched, LaunchedAtStartup != FALSE) << "line: " << c.line;
        LaunchedAtStartup = FALSE;
    }
}

// This process's own line: the tail never holds the program's name.
TEST(CommandTail, OfThisProcessLeavesOutItsName)
{
    char *line = GetCommandLineA();
    ASSERT_NE(nullptr, line);
    char *tail = commandLineTail(line);
    EXPECT_EQ(std::string::npos, std::string(tail).find("program_tests")) << line;
}

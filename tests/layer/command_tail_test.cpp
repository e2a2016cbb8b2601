// The command-line tail that WinMain gets, found as Windows' start-up code finds it.
#include "platform/layer_testing.h"

#include <gtest/gtest.h>

TEST(CommandTail, SkipsTheProgramNameAsWindowsStartUpCodeDoes)
{
    struct Case {
        const char *line;
        const char *tail;
    };
    const Case cases[] = {
        /* 0 */ {"\"/opt/tallow lamp/TallowLAMP\" /STARTUP", "/STARTUP"},
        /* 1 */ {"\"/opt/TallowLAMP\"   -startup  x", "-startup  x"},
        /* 2 */ {"\"/opt/-startup/TallowLAMP\"", ""},          // the name is not part of the tail
        /* 3 */ {"\"/opt/TallowLAMP\"-startup", "-startup"},   // nothing needed after the quote
        /* 4 */ {"TallowLAMP -startup", "-startup"},
        /* 5 */ {"TallowLAMP\t \t/startup", "/startup"},
        /* 6 */ {"TallowLAMP", ""},
        /* 7 */ {"\"/opt/Tallow -startup", "\"/opt/Tallow -startup"}, // no closing quote: all of it
        /* 8 */ {"\"\" x", "x"},
        /* 9 */ {"", ""},
    };
    for (const Case &c : cases) {
        const char *tail = layerCommandTail(c.line);
        EXPECT_STREQ(c.tail, tail) << "line: " << c.line;
        // A pointer into the line: WinMain lower-cases the tail in place, as on Windows.
        EXPECT_GE(tail, c.line);
        EXPECT_LE(tail, c.line + std::char_traits<char>::length(c.line));
    }
}

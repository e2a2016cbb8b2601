#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool launchedAtStartup(std::string tail)
{
    LaunchedAtStartup = FALSE;
    noteStartupSwitch(tail.data());
    bool launched = LaunchedAtStartup;
    LaunchedAtStartup = FALSE;
    return launched;
}

} // namespace

TEST(StartupSwitch, FoundInAnyCaseAndGluedToOtherText)
{
    EXPECT_TRUE(launchedAtStartup("/STARTUP"));
    EXPECT_TRUE(launchedAtStartup("-StartUp"));
    EXPECT_TRUE(launchedAtStartup("x/startupy"));
    EXPECT_TRUE(launchedAtStartup("--verbose -STARTUP"));
    EXPECT_FALSE(launchedAtStartup(""));
    EXPECT_FALSE(launchedAtStartup("/start up"));
    EXPECT_FALSE(launchedAtStartup("startup"));
}

TEST(StartupSwitch, LowerCasesTheTailInPlace)
{
    char tail[] = "/STARTUP Other";
    noteStartupSwitch(tail);
    LaunchedAtStartup = FALSE;
    EXPECT_STREQ("/startup other", tail);
}

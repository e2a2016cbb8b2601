// "Start with os" when the system refuses the start entry: here its folder is a file, so
// the autostart entry cannot be written. The box must not stay ticked, and the user is told.
#include "app/main_dialog.h"
#include "res/resource.h"
#include "tests/support/call_recorder.h"
#include "tests/support/main_dialog_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

TEST(StartWithOsFailure, UnticksTheBoxAndSaysWhy)
{
    char pattern[] = "/tmp/tallow-start-with-os-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    std::string root = pattern;
    const char *old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", root.c_str(), 1);
    std::ofstream(root + "/autostart") << "not a folder\n";

    UINT ticked = BST_CHECKED;
    BOOL field = TRUE;
    HWND dialogWindow = nullptr;
    CallRecorder recorder;
    runMainDialog("", {[&](HWND dialog) {
                      dialogWindow = dialog;
                      SendMessageA(GetDlgItem(dialog, IDC_START_WITH_OS), BM_CLICK, 0, 0);
                      ticked = IsDlgButtonChecked(dialog, IDC_START_WITH_OS);
                      field = generalOptions.startWithOs;
                  }});
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    std::system(("rm -rf '" + root + "'").c_str());

    EXPECT_EQ(UINT(BST_UNCHECKED), ticked);
    EXPECT_EQ(0, field);
    ASSERT_EQ(1u, recorder.messageBoxes.size());
    const MessageBoxCall &box = recorder.messageBoxes[0];
    EXPECT_EQ(dialogWindow, box.owner);
    EXPECT_EQ("Start with os", box.caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONEXCLAMATION), box.type);
    EXPECT_NE(std::string::npos, box.text.find("could not be written")) << box.text;
}

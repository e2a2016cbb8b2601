// A message box without a display: nobody could answer it, so it says its piece on standard
// error and gives the safe answer at once instead of waiting for ever.
#include "platform/layer_qt.h"
#include "platform/win32.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

TEST(MessageBoxOffscreen, WritesCaptionAndTextAndAnswersSafelyAtOnce)
{
    layerApplication();
    if (QGuiApplication::platformName() != "offscreen")
        GTEST_SKIP() << "a display is there: the box would wait for its answer";
    testing::internal::CaptureStderr();
    int ok = MessageBoxA(NULL, "TallowLAMP is already running!", "Warning", MB_OK | MB_ICONEXCLAMATION);
    int no = MessageBoxA(NULL, "Switch the counters on?", "Question", MB_YESNO);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(IDOK, ok);
    EXPECT_EQ(IDNO, no);
    EXPECT_NE(std::string::npos, said.find("Warning: TallowLAMP is already running!")) << said;
    EXPECT_NE(std::string::npos, said.find("Question: Switch the counters on?")) << said;
    EXPECT_EQ(NULL, FindWindowA("#32770", "Warning")); // no window was left behind
}

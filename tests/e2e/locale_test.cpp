// Under a Chinese locale Wine's resource lookup picks the Simplified Chinese
// dialog, lists and messages.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace e2e;

namespace {

const std::map<std::string, std::string> kChinese = {{"LANG", "zh_CN.UTF-8"}, {"LC_ALL", "zh_CN.UTF-8"}};

}  // namespace

TEST(Locale, ChineseLocaleShowsTheChineseDialogAndMessages) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder, kChinese, kChineseTitle);
    ASSERT_TRUE(app.Started()) << "no dialog titled \"" << kChineseTitle << "\"";
    app.Screenshot("dialog-chinese");
    EXPECT_EQ(app.Text(kOpenButton), "打开");
    EXPECT_EQ(app.Text(kReadName), "读取");
    EXPECT_EQ(app.Items(kVisibleList), (std::vector<std::string>{"显身", "隐身"}));
    EXPECT_EQ(app.Items(kCmdSetList), (std::vector<std::string>{"CPCL标签指令", "ESC/POS凭条指令"}));
    app.Click(kSetDarkness);
    EXPECT_EQ(app.TakeMessage(20000), "提示|请先打开端口");
}

TEST(Locale, EnglishLocaleShowsTheEnglishDialog) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    EXPECT_EQ(app.Text(kOpenButton), "Open");
    EXPECT_EQ(app.Items(kVisibleList), (std::vector<std::string>{"Visuable", "Unvisiable"}));
}

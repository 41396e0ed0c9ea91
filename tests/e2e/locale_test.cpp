// Under a Chinese locale Wine's resource lookup picks the Simplified Chinese
// dialog, lists and messages.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "harness.h"

using namespace e2e;

namespace {

// The dialog speaks the ANSI code page, GBK (936) under a Chinese locale.
std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 8, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    iconv(cd, &src, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

const std::map<std::string, std::string> kChinese = {{"LANG", "zh_CN.UTF-8"}, {"LC_ALL", "zh_CN.UTF-8"}};

}  // namespace

TEST(Locale, ChineseLocaleShowsTheChineseDialogAndMessages) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder, kChinese, "MorvaneV1.3.5.0");
    ASSERT_TRUE(app.Started()) << "no dialog titled \"MorvaneV1.3.5.0\"";
    app.Screenshot("dialog-chinese");
    EXPECT_EQ(app.Text(kOpenButton), Gbk("打开"));
    EXPECT_EQ(app.Text(kReadName), Gbk("读取"));
    EXPECT_EQ(app.Items(kVisibleList), (std::vector<std::string>{Gbk("显身"), Gbk("隐身")}));
    EXPECT_EQ(app.Items(kCmdSetList), (std::vector<std::string>{Gbk("CPCL标签指令"), Gbk("ESC/POS凭条指令")}));
    app.Click(kSetDarkness);
    EXPECT_EQ(app.TakeMessage(20000), Gbk("提示") + "|" + Gbk("请先打开端口"));
}

TEST(Locale, EnglishLocaleShowsTheEnglishDialog) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    EXPECT_EQ(app.Text(kOpenButton), "Open");
    EXPECT_EQ(app.Items(kVisibleList), (std::vector<std::string>{"Visuable", "Unvisiable"}));
}

// The real Morvane.exe under Wine: start-up, every list and starting value
// of the dialog, the character filter of the position field, and closing.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

using namespace e2e;

namespace {

std::vector<std::string> Numbers(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i <= to; ++i) v.push_back(std::to_string(i));
    return v;
}

const std::vector<std::string> kBaudRates = {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};

struct ListCase {
    int id;
    std::vector<std::string> items;
    int selected;
};

const std::vector<ListCase> kEnglishLists = {
    {kBaudList, kBaudRates, 2},
    {kLanguageList, {"Chinese", "English"}, 0},
    {kVisibleList, {"Visuable", "Unvisiable"}, 1},
    {kBtModeList, {"Enable", "Disable"}, 0},
    {kSetBaudList, kBaudRates, 2},
    {kDarknessList, Numbers(1, 5), 1},
    {kBeepList, {"Open", "Close"}, 0},
    {kSleepList, Numbers(0, 255), 60},
    {kChineseModeList, {"Simple Chinese", "Tranditional Chinese"}, 0},
    {kMarkSensList, Numbers(1, 7), 0},
    {kGapSensList, Numbers(1, 7), 0},
    {kSensorList,
     {"Only Open Gap Sensor", "Right BlackMark Sensor1(Sensor on heat)",
      "Right BlackMark Sensor2(Sensor on Compress Bar)", "Left BlackMark Sensor1(Sensor on heat)",
      "Left BlackMark Sensor2(Sensor on Compress Bar)<(no support)>", "Close Gap and BlackMark Sensor"},
     0},
    {kCmdSetList, {"CPCL", "ESC/POS"}, 0},
    {kPaperWidthList, {" 44mm", " 58mm", " 76mm(No Support)", " 80mm", "114mm(No Support)"}, 0},
};

std::vector<std::string> ExpectedPorts(int usb, int lpt) {
    std::vector<std::string> v;
    for (int i = 1; i <= 255; ++i) v.push_back("COM" + std::to_string(i) + ":");
    for (int i = 1; i <= usb; ++i) v.push_back("USB" + std::to_string(i) + ":");
    for (int i = 1; i <= lpt; ++i) v.push_back("LPT" + std::to_string(i));
    return v;
}

}  // namespace

TEST(Dialog, StartsWithEveryListFilledAndEveryStartingValue) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder, {{"MORVANE_FAKE_COUNTS", "2,2,3"}});
    ASSERT_TRUE(app.Started()) << "no dialog titled \"" << kEnglishTitle << "\"";
    app.Screenshot("dialog-english");

    EXPECT_EQ(Unhex(Driver::Get().Do("title")), kEnglishTitle);
    EXPECT_EQ(app.Items(kPortList), ExpectedPorts(2, 3));
    EXPECT_EQ(app.CurSel(kPortList), 0);
    for (const auto& list : kEnglishLists) {
        EXPECT_EQ(app.Items(list.id), list.items) << "list " << list.id;
        EXPECT_EQ(app.CurSel(list.id), list.selected) << "list " << list.id;
    }
    for (int id : {kNameEdit, kAddressEdit, kPasswordEdit}) {
        EXPECT_EQ(app.Text(id), "") << "edit " << id;
        EXPECT_EQ(Driver::Get().Do("limit " + std::to_string(id)), "20") << "edit " << id;
    }
    EXPECT_EQ(app.Text(kPositionEdit), "28");
    EXPECT_EQ(Driver::Get().Do("spinrange 1084"), "-255 255");
    EXPECT_EQ(Driver::Get().Do("buddy 1084"), "1083");
    EXPECT_EQ(Driver::Get().Do("state 1055").substr(0, 19), "visible=0 enabled=0");
    EXPECT_EQ(app.Text(kOpenButton), "Open");
    EXPECT_EQ(app.Text(kSetAddress), "Set");

    Driver::Get().Do("spinclick 1084 up");
    app.Sync();
    EXPECT_EQ(app.Text(kPositionEdit), "29") << "one click on the spin's upper arrow";
    app.SetText(kPositionEdit, "255");
    Driver::Get().Do("spinclick 1084 up");
    app.Sync();
    EXPECT_EQ(app.Text(kPositionEdit), "255") << "the spin goes no higher than 255";
}

TEST(Dialog, PositionFieldTakesDigitsAndOneMinusOnly) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    app.TypeChar(kPositionEdit, 'a');
    app.TypeChar(kPositionEdit, '.');
    app.TypeChar(kPositionEdit, 0xB0);
    EXPECT_EQ(app.Text(kPositionEdit), "28") << "a letter, a point or a code above 127 got in";
    app.SetText(kPositionEdit, "");
    app.TypeChar(kPositionEdit, '-');
    app.TypeChar(kPositionEdit, '5');
    app.TypeChar(kPositionEdit, '-');
    EXPECT_EQ(app.Text(kPositionEdit), "-5");
    app.TypeChar(kPositionEdit, 8);
    EXPECT_EQ(app.Text(kPositionEdit), "-");
}

TEST(Dialog, TextFieldsRefuseATwentyFirstCharacter) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    for (int i = 0; i < 21; ++i) app.TypeChar(kNameEdit, 'a' + i);
    EXPECT_EQ(app.Text(kNameEdit), "abcdefghijklmnopqrst");
}

TEST(Dialog, OneComPortAndNoLibraryPortsLeavesNoSelection) {
    RunFolder folder(RunFolder::Library::Fake);
    const std::string log = folder.Path() + "/library-calls.log";
    Morvane app(folder, {{"MORVANE_FAKE_COUNTS", "1,0,0"}, {"MORVANE_FAKE_LOG", log}});
    ASSERT_TRUE(app.Started());
    EXPECT_EQ(app.Items(kPortList), ExpectedPorts(0, 0));
    EXPECT_EQ(app.CurSel(kPortList), -1);
    std::ifstream calls(log);
    std::string all((std::istreambuf_iterator<char>(calls)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "GetCOMMax\nGetUSBPort\nGetLPTMax\n") << "start-up asks the port library for its counts once each";
}

TEST(Dialog, NegativeOrHugeLibraryCountsDoNotHurtStartUp) {
    {
        RunFolder folder(RunFolder::Library::Fake);
        Morvane app(folder, {{"MORVANE_FAKE_COUNTS", "-4,-1,-7"}});
        ASSERT_TRUE(app.Started());
        EXPECT_EQ(app.Items(kPortList).size(), 255u);
        EXPECT_EQ(app.CurSel(kPortList), -1);
    }
    {
        RunFolder folder(RunFolder::Library::Fake);
        Morvane app(folder, {{"MORVANE_FAKE_COUNTS", "10000,10000,10000"}});
        ASSERT_TRUE(app.Started());
        auto items = app.Items(kPortList);
        EXPECT_EQ(items.size(), 255u + 255u + 255u) << "the library's ports are capped at 255 of each kind";
        EXPECT_EQ(items.back(), "LPT255");
    }
}

TEST(Dialog, EscEndsTheProgram) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    Driver::Get().Do("key 1038 27");
    EXPECT_TRUE(app.Proc().WaitExit(15000)) << "the program is still running after Esc";
}

TEST(Dialog, EnterWithTheFocusInAListEndsTheProgram) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    Driver::Get().Do("key 1076 13");
    EXPECT_TRUE(app.Proc().WaitExit(15000)) << "the program is still running after Enter";
}

TEST(Dialog, EnterWithATooLongTextKeepsTheDialogOpen) {
    RunFolder folder(RunFolder::Library::Fake);
    Morvane app(folder);
    ASSERT_TRUE(app.Started());
    // Only the program can put more than 20 characters into a field.
    app.SetText(kNameEdit, "0123456789012345678901234");
    Driver::Get().Do("key 1076 13");
    // The framework's stock message exists in Chinese only, and reads as
    // Chinese under an English locale too.
    EXPECT_EQ(app.TakeMessage(15000), "Morvane|请输入不多于 20 个的字符。");
    app.Sync();
    EXPECT_TRUE(app.Proc().Running()) << "OK must not close the dialog when the check fails";
    EXPECT_EQ(Driver::Get().Do("focus"), std::to_string(kNameEdit));
    EXPECT_EQ(Driver::Get().Do("sel 1041"), "0 25") << "the offending text is selected";
}

TEST(Dialog, StartsWithoutTheSkinFile) {
    RunFolder folder(RunFolder::Library::Fake, /*withSkin=*/false);
    Morvane app(folder);
    EXPECT_TRUE(app.Started());
}

TEST(Dialog, DoesNotStartWithoutThePortLibrary) {
    RunFolder folder(RunFolder::Library::None);
    auto env = WineEnv();
    Process p;
    ASSERT_TRUE(p.Start({"wine", "Morvane.exe"}, env, folder.Path(), false));
    int status = 0;
    ASSERT_TRUE(p.WaitExit(30000, &status)) << "the loader should refuse the program";
    EXPECT_NE(status, 0);
}

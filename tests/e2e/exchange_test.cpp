// Every Read and Set button of the real program against the virtual
// printer: over COM1 opened with the Open button, and through the port
// library to a printer on USB1:.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "printer_fixture.h"

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

struct SetCase {
    int button;
    std::function<void(Morvane&)> choose;
    const char* frame;
};

std::function<void(Morvane&)> Pick(int list, int index) {
    return [=](Morvane& app) { app.Select(list, index); };
}
std::function<void(Morvane&)> Type(int edit, const char* text) {
    return [=](Morvane& app) { app.SetText(edit, text); };
}

}  // namespace

TEST_F(PrinterTest, EverySetButtonOverComSendsItsFrameAndShowsSuccess) {
    Morvane& app = Start();
    app.OpenPort(0);
    const SetCase cases[] = {
        {kSetName, Type(kNameEdit, "Shop-7"), "1d 46 72 06 53 68 6f 70 2d 37"},
        {kSetPassword, Type(kPasswordEdit, "4321"), "1d 46 77 05 34 33 32 31 0d"},
        {kSetVisibility, Pick(kVisibleList, 0), "1d 46 73 00"},
        {kSetBtMode, Pick(kBtModeList, 1), "1d 46 7f 01"},
        {kSetBaud, Pick(kSetBaudList, 4), "1d 46 78 05"},
        {kSetDarkness, Pick(kDarknessList, 3), "1d 46 7c 04"},
        {kSetBeep, Pick(kBeepList, 1), "1d 46 79 01"},
        {kSetSleep, Pick(kSleepList, 200), "1d 46 7a c8"},
        {kSetChineseMode, Pick(kChineseModeList, 1), "1d 46 aa"},
        {kSetMarkSens, Pick(kMarkSensList, 6), "1d 46 7d 07"},
        {kSetGapSens, Pick(kGapSensList, 2), "1d 46 7e 03"},
        {kSetPosition, Type(kPositionEdit, " -0028 "), "1d 46 82 80 00 00 00 1c"},
        {kSetLanguage, Pick(kLanguageList, 1), "1d 46 7b 01"},
        {kSetSensor, Pick(kSensorList, 5), "1d 46 86 05"},
        {kSetCmdSet, Pick(kCmdSetList, 1), "1d 46 87 02"},
        {kSetPaperWidth, Pick(kPaperWidthList, 3), "1d 46 88 04"},
    };
    double slowest = 0;
    for (const auto& c : cases) {
        c.choose(app);
        size_t before = printer_->Frames().size();
        auto t0 = Clock::now();
        EXPECT_EQ(ClickForMessage(c.button), kSetSuccess) << "button " << c.button;
        slowest = std::max(slowest, Seconds(Clock::now() - t0));
        EXPECT_EQ(printer_->Frames().size(), before + 1) << "button " << c.button;
        EXPECT_EQ(LastFrame(), c.frame) << "button " << c.button;
    }
    std::printf("figure: slowest Set click to message over COM1: %.2f s\n", slowest);
    auto s = printer_->GetSettings();
    EXPECT_EQ(s.name, "Shop-7");
    EXPECT_EQ(s.password, "4321");
    EXPECT_EQ(s.darkness, 4);
    EXPECT_EQ(s.sleepTime, 200);
    EXPECT_EQ(s.position, -28);
    EXPECT_EQ(s.chineseCode, 0xAA);
}

TEST_F(PrinterTest, TheHiddenAddressSetSendsNothing) {
    Morvane& app = Start();
    app.OpenPort(0);
    app.Click(kSetAddress);
    app.Sync();
    EXPECT_TRUE(app.NoMessageFor(500));
    EXPECT_TRUE(printer_->Frames().empty()) << LastFrame();
}

TEST_F(PrinterTest, ReadButtonsFillTheirFieldsAndRefreshTheOthers) {
    printer_->SetName("Counter-3");
    printer_->SetAddress("66:55:44:33:22:11");
    printer_->SetPassword("8888");
    Morvane& app = Start();
    app.OpenPort(0);

    app.Click(kReadName);
    app.Sync();
    EXPECT_EQ(app.Text(kNameEdit), "Counter-3");
    EXPECT_EQ(LastFrame(), "1d 46 72 00");

    printer_->QueueBehaviour(vprinter::Behaviour::Prefix11());
    app.Click(kReadAddress);
    app.Sync();
    EXPECT_EQ(app.Text(kAddressEdit), "66:55:44:33:22:11") << "the 0x11 form on a serial port";
    EXPECT_EQ(LastFrame(), "1d 46 74");

    app.Click(kReadPassword);
    app.Sync();
    EXPECT_EQ(app.Text(kPasswordEdit), "8888");
    EXPECT_EQ(LastFrame(), "1d 46 77 00");
    EXPECT_TRUE(app.NoMessageFor(300)) << "a successful read shows no message";

    // Text typed but not set goes back to what is stored when a read refreshes the fields.
    app.SetText(kPasswordEdit, "typed-not-set");
    app.Click(kReadName);
    app.Sync();
    EXPECT_EQ(app.Text(kPasswordEdit), "8888");
}

TEST_F(PrinterTest, AFailureAnswerShowsSetFail) {
    Morvane& app = Start();
    app.OpenPort(0);
    printer_->QueueBehaviour(vprinter::Behaviour::AnswerFF());
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetFail);
    app.Select(kDarknessList, 4);
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
}

TEST_F(PrinterTest, WithoutAnOpenPortNothingIsSent) {
    Start();
    for (int button : {kSetDarkness, kReadName, kSetName}) {
        auto t0 = Clock::now();
        EXPECT_EQ(ClickForMessage(button), kOpenFirst) << "button " << button;
        EXPECT_LT(Seconds(Clock::now() - t0), 10.0);
    }
    EXPECT_TRUE(printer_->Frames().empty()) << LastFrame();
}

TEST_F(PrinterTest, OpenButtonOpensClosesAndRelabels) {
    Morvane& app = Start(RunFolder::Library::Fake, {{"MORVANE_FAKE_COUNTS", "2,1,0"}});
    app.OpenPort(0);
    app.Select(kPortList, 255);  // USB1:
    app.Click(kOpenButton);
    app.Sync();
    EXPECT_EQ(app.Text(kOpenButton), "Conect");
    app.Select(kPortList, 3);  // another COM entry closes the open port
    app.Click(kOpenButton);
    app.Sync();
    EXPECT_EQ(app.Text(kOpenButton), "Open");
    app.Select(kPortList, 40);  // COM41: nothing there
    EXPECT_EQ(ClickForMessage(kOpenButton), "Prompt|Port Open Fail!!");
    EXPECT_EQ(app.Text(kOpenButton), "Open");
}

TEST_F(PrinterTest, ComPortsAboveNineOpen) {
    std::string error;
    ASSERT_TRUE(printer_->AddLink(Paths::Prefix() + "/dosdevices/com12", &error)) << error;
    Morvane& app = Start();
    app.OpenPort(11);  // COM12:
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
    EXPECT_EQ(LastFrame(), "1d 46 7c 02");
    LinkDosDevice("com12", "");
}

// The port library reaches USB1: through a cable the test points it at.
class LibraryPathTest : public PrinterTest {
protected:
    Morvane& StartOnUsb1() {
        folder_ = std::make_unique<RunFolder>(RunFolder::Library::Real);
        std::string cable = folder_->Path() + "/usb1-cable";
        std::string error;
        EXPECT_TRUE(printer_->AddLink(cable, &error)) << error;
        folder_->WriteFile("TarnPort.ini", "[Ports]\r\nUSB1=" + folder_->WinPath("usb1-cable") + "\r\n");
        app_ = std::make_unique<Morvane>(*folder_);
        EXPECT_TRUE(app_->Started());
        int usb1 = -1;
        auto items = app_->Items(kPortList);
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] == "USB1:") usb1 = static_cast<int>(i);
        EXPECT_EQ(usb1, 255) << "USB1: follows the 255 COM entries";
        app_->Select(kPortList, usb1);
        return *app_;
    }
};

TEST_F(LibraryPathTest, SetAndReadThroughThePortLibrary) {
    Morvane& app = StartOnUsb1();
    app.Select(kDarknessList, 4);
    auto t0 = Clock::now();
    EXPECT_EQ(ClickForMessage(kSetDarkness), kSetSuccess);
    double took = Seconds(Clock::now() - t0);
    std::printf("figure: Set click to message through the port library: %.2f s\n", took);
    EXPECT_GE(took, 1.9) << "the library path waits 2000 ms for the answer";
    EXPECT_EQ(LastFrame(), "1d 46 7c 05");

    printer_->SetName("Library-Name");
    app.Click(kReadName);
    app.Sync();
    EXPECT_EQ(app.Text(kNameEdit), "Library-Name");

    printer_->QueueBehaviour(vprinter::Behaviour::Silent());
    EXPECT_EQ(ClickForMessage(kReadPassword, 30000), kReadFail);

    // A status reply of the wrong length ends without a message.
    printer_->QueueBehaviour(vprinter::Behaviour::Truncated(2));
    app.Click(kSetBeep);
    app.Sync();
    EXPECT_TRUE(app.NoMessageFor(300));
    EXPECT_EQ(LastFrame(), "1d 46 79 00");
}

// The end-to-end harness: a Wine prefix with a display, a folder holding the
// real Morvane.exe with the library of a test's choice, the program started
// under Wine, and the driver that works its dialog through window messages.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialog/resource.h"
#include "process.h"

namespace e2e {

// Control ids of the configuration dialog, from the program's own resource header.
enum ControlId : int {
    kPortList = IDC_CB_PORT,
    kBaudList = IDC_CB_BAUD,
    kOpenButton = IDC_BTN_OPEN,
    kNameEdit = IDC_EDIT_BT_NAME,
    kAddressEdit = IDC_EDIT_BT_ADDR,
    kPasswordEdit = IDC_EDIT_PAIR_PASS,
    kReadName = IDC_BTN_READ_BT_NAME,
    kSetName = IDC_BTN_SET_BT_NAME,
    kReadAddress = IDC_BTN_READ_BT_ADDR,
    kSetAddress = IDC_BTN_SET_BT_ADDR,
    kReadPassword = IDC_BTN_READ_PAIR_PASS,
    kSetPassword = IDC_BTN_SET_PAIR_PASS,
    kSetVisibility = IDC_BTN_SET_VISIBLE,
    kSetBtMode = IDC_BTN_SET_BT_MODE,
    kSetBaud = IDC_BTN_SET_BAUD,
    kSetBeep = IDC_BTN_SET_BEEP,
    kSetSleep = IDC_BTN_SET_SLEEP_TIME,
    kSetChineseMode = IDC_BTN_SET_CHINESE_MODE,
    kSetMarkSens = IDC_BTN_SET_MARK_SENS,
    kSetGapSens = IDC_BTN_SET_GAP_SENS,
    kSetPosition = IDC_BTN_SET_POSITION,
    kSetSensor = IDC_BTN_SET_SENSOR,
    kSetDarkness = IDC_BTN_SET_DARKNESS,
    kSetCmdSet = IDC_BTN_SET_CMD_SET,
    kSetPaperWidth = IDC_BTN_SET_PAPER_WIDTH,
    kSetLanguage = IDC_BTN_SET_LANGUAGE,
    kVisibleList = IDC_CB_VISIBLE,
    kBtModeList = IDC_CB_BT_MODE,
    kSetBaudList = IDC_CB_SET_BAUD,
    kDarknessList = IDC_CB_DARKNESS,
    kBeepList = IDC_CB_BEEP,
    kSleepList = IDC_CB_SLEEP_TIME,
    kChineseModeList = IDC_CB_CHINESE_MODE,
    kMarkSensList = IDC_CB_MARK_SENS,
    kGapSensList = IDC_CB_GAP_SENS,
    kPositionEdit = IDC_EDIT_POSITION,
    kSpin = IDC_SPIN_POSITION,
    kLanguageList = IDC_CB_LANGUAGE,
    kSensorList = IDC_CB_SENSOR,
    kCmdSetList = IDC_CB_CMD_SET,
    kPaperWidthList = IDC_CB_PAPER_WIDTH,
};

inline const char* kEnglishTitle = "Morvane V" MORVANE_VERSION;
inline const char* kChineseTitle = "MorvaneV" MORVANE_VERSION;

// The driver's words (tests/common/hex_token.h); a malformed one is no bytes.
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
std::string HexBytes(const std::vector<unsigned char>& bytes);  // "1d 46 7c 04"

// Paths fixed at configure time, and this program's own Wine prefix.
struct Paths {
    static std::string WinBuild();      // the Windows program's build tree
    static std::string WinTestBuild();  // the Windows test programs' tree
    static std::string Template();      // the prepared prefix that each program's own is made from
    // WINEPREFIX: $MORVANE_TEST_PREFIX, else prefixes/<program name> beside the template.
    static std::string Prefix();
    static std::string Artifacts();  // screenshots go here
    static std::string Runs();       // the run folders
};

// Base environment for every Windows process a test starts.
std::map<std::string, std::string> WineEnv();

// Links $WINEPREFIX/dosdevices/<name> (e.g. "com1") to a device path; an
// empty target removes the link.
void LinkDosDevice(const std::string& name, const std::string& target);

// A fresh folder with Morvane.exe, SkinPlusPlusDLL.dll, XPCorona.ssk and a
// port library: the real one or the tests' stand-in. Named after the
// process that made it (run-<pid>-...), so that the folder of a killed run
// can be told from those of runs still going.
class RunFolder {
public:
    enum class Library { Real, Fake, None };
    explicit RunFolder(Library library = Library::Real, bool withSkin = true);
    ~RunFolder();
    const std::string& Path() const { return path_; }
    std::string WinPath(const std::string& file) const;  // Z:\...
    void WriteFile(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};

// Removes the run folders whose process is gone: a killed run cannot remove
// its own, and a stray copy of the program with the stand-in library must
// not pass for the program. Called when the harness starts.
void RemoveAbandonedRunFolders();

// The driver: a long-lived Windows process that answers one line per command.
class Driver {
public:
    static Driver& Get();  // starts the driver on first use
    static void ShutdownIfRunning();
    // Sends a command; returns the answer after "ok" (fails the test on "err").
    std::string Do(const std::string& command, int timeoutMs = 10000);
    // Like Do, but returns the raw answer line ("ok ..." / "err ...").
    std::string Try(const std::string& command, int timeoutMs = 10000);

private:
    std::unique_ptr<Process> process_;
};

// One run of Morvane.exe with its dialog found by the driver.
class Morvane {
public:
    Morvane(const RunFolder& folder, const std::map<std::string, std::string>& env = {},
            const std::string& title = kEnglishTitle);
    ~Morvane();
    bool Started() const { return started_; }
    Process& Proc() { return process_; }

    std::string Text(int id);
    void SetText(int id, const std::string& text);
    void Select(int id, int index);
    int CurSel(int id);
    std::vector<std::string> Items(int id);
    void Click(int id) { Driver::Get().Do("click " + std::to_string(id)); }
    void TypeChar(int id, int code);
    // Waits for a message box; returns "caption|text" and presses its OK.
    std::string TakeMessage(int timeoutMs);
    // True when no message box shows up within `ms`.
    bool NoMessageFor(int ms);
    void Sync() { Driver::Get().Do("sync 60000", 65000); }
    void Screenshot(const std::string& name);

    // Opens the chosen serial port; expects the button to read "Close".
    void OpenPort(int portIndex, int baudIndex = 2);

private:
    Process process_;
    bool started_ = false;
};

// Makes this program's prefix afresh from the template and holds a Wine
// session on it, with a display of its own (tests/wine/clone-prefix.sh,
// tests/wine/wine-session.sh), for the tests.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

private:
    Process session_;
};

}  // namespace e2e

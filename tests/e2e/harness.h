// The end-to-end harness: a Wine prefix with a display, a folder holding the
// real Morvane.exe with the library of a test's choice, the program started
// under Wine, and the driver that works its dialog through window messages.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace e2e {

// Control ids of the configuration dialog.
enum ControlId : int {
    kPortList = 1038, kBaudList = 1037, kOpenButton = 1051,
    kNameEdit = 1041, kAddressEdit = 1042, kPasswordEdit = 1043,
    kReadName = 1052, kSetName = 1053, kReadAddress = 1054, kSetAddress = 1055,
    kReadPassword = 1056, kSetPassword = 1057, kSetVisibility = 1058, kSetBtMode = 1059,
    kSetBaud = 1061, kSetBeep = 1062, kSetSleep = 1063, kSetChineseMode = 1064,
    kSetMarkSens = 1065, kSetGapSens = 1066, kSetPosition = 1067, kSetSensor = 1068,
    kSetDarkness = 1069, kSetCmdSet = 1070, kSetPaperWidth = 1080, kSetLanguage = 1086,
    kVisibleList = 1071, kBtModeList = 1072, kSetBaudList = 1073, kDarknessList = 1074,
    kBeepList = 1075, kSleepList = 1076, kChineseModeList = 1077, kMarkSensList = 1078,
    kGapSensList = 1079, kPositionEdit = 1083, kSpin = 1084, kLanguageList = 1085,
    kSensorList = 1088, kCmdSetList = 1089, kPaperWidthList = 1090,
};

inline const char* kEnglishTitle = "Morvane V1.3.5.0";

std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
std::string HexBytes(const std::vector<unsigned char>& bytes);   // "1d 46 7c 04"

// Paths fixed at configure time, and the shared Wine prefix.
struct Paths {
    static std::string WinBuild();     // the Windows build tree
    static std::string Prefix();       // WINEPREFIX
    static std::string Artifacts();    // screenshots go here
};

// Base environment for every Windows process a test starts.
std::map<std::string, std::string> WineEnv();

// Links $WINEPREFIX/dosdevices/<name> (e.g. "com1") to a device path; an
// empty target removes the link.
void LinkDosDevice(const std::string& name, const std::string& target);

// A fresh folder with Morvane.exe, SkinPlusPlusDLL.dll, XPCorona.ssk and a
// port library: the real one or the tests' stand-in.
class RunFolder {
public:
    enum class Library { Real, Fake, None };
    explicit RunFolder(Library library = Library::Real, bool withSkin = true);
    ~RunFolder();
    const std::string& Path() const { return path_; }
    std::string WinPath(const std::string& file) const;   // Z:\...
    void WriteFile(const std::string& name, const std::string& contents) const;
private:
    std::string path_;
};

// The driver: a long-lived Windows process that answers one line per command.
class Driver {
public:
    static Driver& Get();              // starts the driver on first use
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

// Holds a Wine session (tests/wine/wine-session.sh) for the tests.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
private:
    Process session_;
};

}  // namespace e2e

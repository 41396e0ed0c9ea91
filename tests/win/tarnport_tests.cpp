// TarnPortDll under Wine: counts, TarnPort.ini mappings, and the four port
// calls against pseudo-terminals that the pty peer links as lptN and as
// plain paths mapped in the ini.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "libs/tarnport/tarnport.h"
#include "libs/tarnport/wine_path.h"
#include "tests/win/peer_client.h"

namespace {

using morvane::test::Bytes;
using morvane::test::PeerClient;
using morvane::test::ToHex;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Where the library reads its ini (the tests' copy of the DLL is beside them).
std::string IniPath() {
    HMODULE dll = GetModuleHandleA("TarnPortDll.dll");
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(dll, path, sizeof path);
    std::string dir(path, n);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir + "TarnPort.ini";
}

// TarnPort.ini beside the DLL for as long as the object lives.
class IniFile {
public:
    explicit IniFile(const std::string& text) { std::ofstream(IniPath(), std::ios::binary | std::ios::trunc) << text; }
    ~IniFile() { DeleteFileA(IniPath().c_str()); }
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;
};

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class PeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileA(IniPath().c_str());
        std::string why;
        ASSERT_TRUE(peer_.Connect(why)) << why;
    }
    void TearDown() override {
        for (const char* name : {"USB1:", "USB2:", "LPT1", "LPT2", "USB9:"}) ClosePort(name);
        DeleteFileA(IniPath().c_str());
    }
    PeerClient peer_;
};

// ---- counts ----------------------------------------------------------------

TEST_F(PeerTest, CountsFollowTheIni) {
    const int com = GetCOMMax(), usb = GetUSBPort(), lpt = GetLPTMax();
    EXPECT_GE(com, 0);
    EXPECT_GE(usb, 0);
    EXPECT_GE(lpt, 0);
    {
        IniFile ini("[Ports]\r\nUSB5=Z:\\nowhere\\usb5\r\nLPT7 = Z:\\nowhere\\lpt7\r\ncom40=\\\\.\\COM40\r\n");
        EXPECT_EQ(GetUSBPort(), std::max(usb, 5));
        EXPECT_EQ(GetLPTMax(), std::max(lpt, 7));
        EXPECT_EQ(GetCOMMax(), std::max(com, 40));
    }
    {
        // Keys outside [Ports], empty values and names that are no port count for nothing.
        IniFile ini("; a comment\n[Other]\nUSB9=x\n[Ports]\nUSB8=\nUSBX=y\nLPT0=z\n");
        EXPECT_EQ(GetUSBPort(), usb);
        EXPECT_EQ(GetLPTMax(), lpt);
    }
    EXPECT_EQ(GetUSBPort(), usb) << "the ini is gone";
    EXPECT_EQ(GetLPTMax(), lpt);
    EXPECT_EQ(GetCOMMax(), com);
}

// TarnPort.ini is read from the library's own folder, whatever its name,
// and never from the current directory.
TEST_F(PeerTest, IniComesOnlyFromTheLibrarysFolder) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    // Cyrillic and Chinese: outside every ANSI code page at once.
    const std::wstring dir = std::wstring(temp) + L"tarn-\x0416\x4E2D";
    const std::wstring copy = dir + L"\\TarnPortCopy.dll";
    CreateDirectoryW(dir.c_str(), nullptr);
    wchar_t dll[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleA("TarnPortDll.dll"), dll, MAX_PATH);
    ASSERT_TRUE(CopyFileW(dll, copy.c_str(), FALSE));
    const char mapping[] = "[Ports]\r\nUSB6=Z:\\nowhere\\usb6\r\n";
    { std::ofstream(std::filesystem::path(dir + L"\\TarnPort.ini"), std::ios::binary) << mapping; }
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(module, nullptr);
    using CountFn = int(WINAPI*)(void);
    const auto usbCount = reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetUSBPort")));
    ASSERT_NE(usbCount, nullptr);
    EXPECT_GE(usbCount(), 6) << "the ini beside a library in a non-ANSI folder was not read";

    // The current directory's ini counts for nothing.
    char old[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old, old);
    const int before = GetUSBPort();
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    DeleteFileW((dir + L"\\TarnPort.ini").c_str());
    std::ofstream(std::filesystem::path(dir + L"\\TarnPort.ini"), std::ios::binary)
        << "[Ports]\r\nUSB9=Z:\\nowhere\\usb9\r\n";
    EXPECT_EQ(GetUSBPort(), before) << "the current directory's TarnPort.ini was read";
    SetCurrentDirectoryA(old);

    FreeLibrary(module);
    DeleteFileW((dir + L"\\TarnPort.ini").c_str());
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST_F(PeerTest, UsbCountUnderWineIsTheUsbPrinterDevices) {
    if (!UnderWine()) GTEST_SKIP() << "Wine only";
    int expected = 0;
    for (int k = 0; k < 16; ++k) {
        const std::string path = "Z:\\dev\\usb\\lp" + std::to_string(k);
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) expected = k + 1;
    }
    EXPECT_EQ(GetUSBPort(), expected);
}

TEST_F(PeerTest, LinksInDosdevicesCount) {
    const int lpt = GetLPTMax(), com = GetCOMMax();
    ASSERT_FALSE(peer_.Link("lpt6").empty());
    ASSERT_FALSE(peer_.Link("com33").empty());
    EXPECT_EQ(GetLPTMax(), std::max(lpt, 6));
    EXPECT_EQ(GetCOMMax(), std::max(com, 33));
    peer_.Unlink("lpt6");
    peer_.Unlink("com33");
    EXPECT_EQ(GetLPTMax(), lpt);
    EXPECT_EQ(GetCOMMax(), com);
}

// ---- names that reach nothing --------------------------------------------

TEST(TarnPortNames, EmptyAndBadNamesFailCleanly) {
    unsigned char buf[8] = {};
    const unsigned char frame[] = {0x1D, 0x46, 0x01};
    for (const char* name : {"", "USB", "USB0:", "XYZ1", "USB1:extra", "COM", "LPT256"}) {
        EXPECT_LT(ClosePort(name), 0) << "ClosePort(\"" << name << "\")";
        EXPECT_LT(SetComParam(name, 115200, 8, 'N', 1, 2), 0) << "SetComParam(\"" << name << "\")";
        EXPECT_LT(SendData(name, frame, 3), 0) << "SendData(\"" << name << "\")";
        EXPECT_LT(ReadData(name, buf, 8), 0) << "ReadData(\"" << name << "\")";
    }
    EXPECT_LT(ClosePort(nullptr), 0);
    EXPECT_LT(SendData(nullptr, frame, 3), 0);
    EXPECT_LT(ReadData(nullptr, buf, 8), 0);
}

TEST(TarnPortNames, ReadOfNothingTouchesNothing) {
    unsigned char buf[4] = {0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(ReadData("USB9:", buf, 0), 0);
    EXPECT_EQ(ReadData("USB9:", buf, -1), 0);
    EXPECT_EQ(ReadData("", nullptr, 0), 0);
    EXPECT_EQ(buf[0], 0x55);
}

TEST_F(PeerTest, MissingDeviceIsNegative) {
    IniFile ini("[Ports]\nUSB2=Z:\\no\\such\\device\n");
    unsigned char buf[8];
    const unsigned char frame[] = {0x1D, 0x46, 0x01};
    // USB9: not mapped, no printer behind it; USB2: mapped to nothing.
    for (const char* name : {"USB9:", "USB2:", "LPT2"}) {
        EXPECT_LT(SetComParam(name, 115200, 8, 'N', 1, 2), 0) << name;
        EXPECT_LT(SendData(name, frame, 3), 0) << name;
        EXPECT_LT(ReadData(name, buf, 8), 0) << name;
        EXPECT_EQ(ClosePort(name), 0) << name << " was never open";
    }
}

// Transfers to a regular file all happen at offset 0, so the status read
// would bring back the frame itself and pass for an answer.
TEST_F(PeerTest, RegularFileIsRefusedLikeAMissingDevice) {
    const std::string file = IniPath() + ".regular";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "not a device";
    IniFile ini("[Ports]\nUSB4=" + file + "\n");
    unsigned char buf[8];
    const unsigned char frame[] = {0x1D, 0x46, 0x7C, 0x04};
    EXPECT_EQ(SetComParam("USB4:", 115200, 8, 'N', 1, 2), tarnport::kNoDevice);
    EXPECT_EQ(SendData("USB4:", frame, 4), tarnport::kNoDevice);
    EXPECT_EQ(ReadData("USB4:", buf, 4), tarnport::kNoDevice);
    EXPECT_EQ(ClosePort("USB4:"), 0) << "the file was left open";
    DeleteFileA(file.c_str());
}

TEST_F(PeerTest, ClosePortOfAPortNotOpenIsHarmless) {
    EXPECT_EQ(ClosePort("USB1:"), 0);
    EXPECT_EQ(ClosePort("LPT1"), 0);
    EXPECT_EQ(ClosePort("USB1:"), 0);
}

// ---- ports reached through the library -------------------------------------

struct Route {
    const char* port;  // as the port list names it
    const char* link;  // what the peer links
    bool throughIni;   // mapped in TarnPort.ini, or found by the system (dosdevices)
};
const Route kRoutes[] = {
    {"USB1:", "@usb1", true},
    {"LPT1", "lpt1", false},
    // Not "@lpt2": Windows (and Wine) take a file named like a DOS device
    // (LPT2, COM1, NUL...) for that device, whatever folder it is in.
    {"LPT2", "@parallel2", true},
};

void PrintTo(const Route& r, std::ostream* os) { *os << r.port << " via " << r.link; }

class RouteTest : public PeerTest, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override {
        PeerTest::SetUp();
        if (HasFatalFailure()) return;
        const Route& r = GetParam();
        const std::string unixPath = peer_.Link(r.link);
        ASSERT_FALSE(unixPath.empty()) << "the peer could not link " << r.link;
        std::string key(r.port);
        if (key.back() == ':') key.pop_back();
        if (r.throughIni)
            ini_ = std::make_unique<IniFile>("[Ports]\n" + key + "=" + tarnport::WinePathOf(unixPath) + "\n");
    }
    void TearDown() override {
        PeerTest::TearDown();
        ini_.reset();
        peer_.Unlink(GetParam().link);
    }
    std::unique_ptr<IniFile> ini_;
};

TEST_P(RouteTest, SetComParamConfiguresTheLine) {
    const Route& r = GetParam();
    ASSERT_TRUE(peer_.SetTermios(r.link, 9600, 8, false, true));
    EXPECT_EQ(SetComParam(r.port, 115200, 8, 'N', 1, 2), 1);
    const auto line = peer_.Termios(r.link);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->speed, 115200);
    EXPECT_EQ(line->csize, 8);
    EXPECT_EQ(line->parenb, 0);
    EXPECT_EQ(line->cstopb, 0);
    EXPECT_EQ(line->crtscts, 0);
    EXPECT_EQ(line->ixon, 0);
}

TEST_P(RouteTest, SendReachesThePeerAndReadBringsItsAnswer) {
    const Route& r = GetParam();
    ASSERT_EQ(ClosePort(r.port), 0);
    SetComParam(r.port, 115200, 8, 'N', 1, 2);
    const Bytes frame = {0x1D, 0x46, 0x7C, 0x04};
    EXPECT_EQ(SendData(r.port, frame.data(), 4), 4);
    const auto arrived = peer_.Read(r.link, 4, 2000);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(ToHex(*arrived), ToHex(frame));

    const Bytes answer = {0x1D, 0x46, 0x7C, 0x00};
    ASSERT_TRUE(peer_.Send(r.link, answer));
    unsigned char buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(ReadData(r.port, buf, 64), 4);
    EXPECT_EQ(ToHex(Bytes(buf, buf + 4)), ToHex(answer));
    EXPECT_EQ(buf[4], 0xEE);
    EXPECT_EQ(ClosePort(r.port), 1);
    EXPECT_EQ(ClosePort(r.port), 0);
}

TEST_P(RouteTest, ReadNeverPassesMaxCount) {
    const Route& r = GetParam();
    SetComParam(r.port, 115200, 8, 'N', 1, 2);
    const Bytes answer = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
    ASSERT_TRUE(peer_.Send(r.link, answer));
    unsigned char buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(ReadData(r.port, buf, 4), 4);
    EXPECT_EQ(ToHex(Bytes(buf, buf + 4)), "10111213");
    for (int i = 4; i < 16; ++i) EXPECT_EQ(buf[i], 0xEE) << "byte " << i << " written past maxCount 4";
    EXPECT_EQ(ReadData(r.port, buf, 16), 6);
    EXPECT_EQ(ToHex(Bytes(buf, buf + 6)), "141516171819");
}

TEST_P(RouteTest, AnswerInPiecesIsGathered) {
    const Route& r = GetParam();
    SetComParam(r.port, 115200, 8, 'N', 1, 2);
    // The rest follows within the quiet gap that ends an answer.
    ASSERT_TRUE(peer_.Send(r.link, {0x1D, 0x46}, 0));
    ASSERT_TRUE(peer_.Send(r.link, {0x7C, 0x00}, 15));
    unsigned char buf[64] = {};
    EXPECT_EQ(ReadData(r.port, buf, 64), 4);
    EXPECT_EQ(ToHex(Bytes(buf, buf + 4)), "1D467C00");
}

// The program drains the line with a read before every frame: a silent
// line must not cost it the half second it once did.
constexpr long long kSilentReadMaxMs = 450;

TEST_P(RouteTest, SilentLineReadsZeroAfterAShortBound) {
    const Route& r = GetParam();
    SetComParam(r.port, 115200, 8, 'N', 1, 2);
    unsigned char buf[64];
    const auto start = Clock::now();
    EXPECT_EQ(ReadData(r.port, buf, 64), 0);
    const long long ms = MsSince(start);
    EXPECT_LE(ms, kSilentReadMaxMs) << "a silent read took " << ms << " ms";
    std::printf("[figure] ReadData(64) on a silent line (%s): %lld ms\n", r.port, ms);
}

TEST_P(RouteTest, SendOpensOnDemand) {
    const Route& r = GetParam();
    const Bytes frame = {0x1D, 0x46, 0x01};
    EXPECT_EQ(SendData(r.port, frame.data(), 3), 3);
    const auto arrived = peer_.Read(r.link, 3, 2000);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(ToHex(*arrived), "1D4601");
}

TEST_P(RouteTest, HungUpDeviceEndsReadsQuickly) {
    const Route& r = GetParam();
    SetComParam(r.port, 115200, 8, 'N', 1, 2);
    ASSERT_TRUE(peer_.Hangup(r.link));
    unsigned char buf[64];
    const auto start = Clock::now();
    EXPECT_LE(ReadData(r.port, buf, 64), 0);
    EXPECT_LE(MsSince(start), 1300);
}

INSTANTIATE_TEST_SUITE_P(Ports, RouteTest, ::testing::ValuesIn(kRoutes), [](const auto& info) {
    std::string name = info.param.port;
    name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
    return name + (info.param.throughIni ? "_ini" : "_dosdevices");
});

// ---- SetComParam's arguments --------------------------------------------------

struct LineCase {
    int dataBits;
    char parity;
    int stopBits;
    int flags;
    int expected;  // result of SetComParam
    int cstopb, crtscts, ixon;
};

class SettingsTest : public PeerTest {};

TEST_F(SettingsTest, ArgumentsReachTheLineOrAreRefused) {
    const std::string unixPath = peer_.Link("@usb1");
    ASSERT_FALSE(unixPath.empty());
    IniFile ini("[Ports]\nUSB1=" + tarnport::WinePathOf(unixPath) + "\n");
    const LineCase cases[] = {
        {8, 'N', 1, 2, 1, 0, 0, 0},  // what the program asks for
        {8, 'N', 2, 2, 1, 1, 0, 0},  // two stop bits
        {8, 'N', 1, 3, 1, 0, 1, 0},  // RTS/CTS
        {8, 'N', 1, 1, 1, 0, 0, 1},  // XON/XOFF
        {8, 'n', 1, 0, 1, 0, 0, 0},  // lower-case parity letter, no lines
        {9, 'N', 1, 2, -3, -1, -1, -1}, {8, 'X', 1, 2, -3, -1, -1, -1},
        {8, 'N', 3, 2, -3, -1, -1, -1}, {8, 'N', 1, 7, -3, -1, -1, -1},
    };
    for (const auto& c : cases) {
        const int got = SetComParam("USB1:", 9600, c.dataBits, c.parity, c.stopBits, c.flags);
        EXPECT_EQ(got, c.expected) << "SetComParam(" << c.dataBits << ", '" << c.parity << "', " << c.stopBits << ", "
                                   << c.flags << "): got " << got << ", expected " << c.expected;
        if (c.expected != 1) continue;
        const auto line = peer_.Termios("@usb1");
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(line->speed, 9600);
        EXPECT_EQ(line->cstopb, c.cstopb) << "stop bits " << c.stopBits;
        EXPECT_EQ(line->crtscts, c.crtscts) << "flags " << c.flags;
        EXPECT_EQ(line->ixon, c.ixon) << "flags " << c.flags;
    }
    ClosePort("USB1:");
    peer_.Unlink("@usb1");
}

// A device that is no serial line (a USB printer on Linux, here a FIFO):
// nothing to configure, and reads still end on time.
TEST_F(PeerTest, DeviceThatIsNoSerialLine) {
    const std::string unixPath = peer_.LinkFifo("@printer3");
    ASSERT_FALSE(unixPath.empty());
    IniFile ini("[Ports]\nUSB3=" + tarnport::WinePathOf(unixPath) + "\n");
    EXPECT_EQ(SetComParam("USB3:", 115200, 8, 'N', 1, 2), 0);
    // The FIFO gives back what was written into it.
    const unsigned char frame[] = {0x1D, 0x46, 0x03};
    EXPECT_EQ(SendData("USB3:", frame, 3), 3);
    unsigned char buf[64];
    EXPECT_EQ(ReadData("USB3:", buf, 64), 3);
    EXPECT_EQ(ToHex(Bytes(buf, buf + 3)), "1D4603");
    const auto start = Clock::now();
    EXPECT_EQ(ReadData("USB3:", buf, 64), 0);
    const long long ms = MsSince(start);
    EXPECT_LE(ms, kSilentReadMaxMs) << "a silent read took " << ms << " ms";
    std::printf("[figure] ReadData(64) on a silent device that is no serial line: %lld ms\n", ms);
    EXPECT_EQ(ClosePort("USB3:"), 1);
    peer_.Unlink("@printer3");
}

// ---- a second thread -----------------------------------------------------------

struct ReaderArgs {
    int result = 1000;
};

DWORD WINAPI ReadOnUsb1(void* p) {
    unsigned char buf[64];
    static_cast<ReaderArgs*>(p)->result = ReadData("USB1:", buf, 64);
    return 0;
}

TEST_F(PeerTest, ClosePortDuringAReadOnAnotherThread) {
    const std::string unixPath = peer_.Link("@usb1");
    ASSERT_FALSE(unixPath.empty());
    IniFile ini("[Ports]\nUSB1=" + tarnport::WinePathOf(unixPath) + "\n");
    ASSERT_EQ(SetComParam("USB1:", 115200, 8, 'N', 1, 2), 1);
    ReaderArgs args;
    HANDLE thread = CreateThread(nullptr, 0, ReadOnUsb1, &args, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(100);
    EXPECT_EQ(ClosePort("USB1:"), 1);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0) << "the read did not end";
    CloseHandle(thread);
    EXPECT_LE(args.result, 0);
    // The port opens again afterwards.
    const unsigned char frame[] = {0x1D, 0x46, 0x02};
    EXPECT_EQ(SendData("USB1:", frame, 3), 3);
    const auto arrived = peer_.Read("@usb1", 3, 2000);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(ToHex(*arrived), "1D4602");
    ClosePort("USB1:");
    peer_.Unlink("@usb1");
}

}  // namespace

// Configuration command frames: 0x1D 0x46, a setting code, its argument.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvane {

constexpr std::size_t kFrameBufferSize = 255;  // m_sendBuf
constexpr std::size_t kReplyBufferSize = 255;  // m_recvBuf
constexpr std::size_t kMaxTextBytes = 20;      // limit of the three text fields
constexpr std::uint8_t kFrameHeader0 = 0x1D;   // GS
constexpr std::uint8_t kFrameHeader1 = 0x46;   // 'F'
constexpr std::uint8_t kPasswordTerminator = 0x0D;

using FrameBuffer = std::uint8_t[kFrameBufferSize];
using ReplyBuffer = std::uint8_t[kReplyBufferSize];

// Operation numbers travel with a frame to the exchange. 1..3 announce a
// value reply for the name, address and password fields; all others a
// status reply. 5 and 17 belong to no frame.
enum Operation : int {
    kOpReadName = 1,
    kOpReadAddress = 2,
    kOpReadPassword = 3,
    kOpSetName = 4,
    kOpSetPassword = 6,
    kOpVisibility = 7,
    kOpBaudRate = 8,
    kOpBeeper = 9,
    kOpSleepTime = 10,
    kOpChineseMode = 11,
    kOpDarkness = 12,
    kOpMarkSensitivity = 13,
    kOpGapSensitivity = 14,
    kOpBtMode = 15,
    kOpPosition = 16,
    kOpLanguage = 18,
    kOpPaperSensor = 19,
    kOpCommandSet = 20,
    kOpPaperWidth = 21,
};

inline bool IsValueOperation(int op) { return op >= kOpReadName && op <= kOpReadPassword; }

enum SettingCode : std::uint8_t {
    kCodeName = 0x72,
    kCodeVisibility = 0x73,
    kCodeAddress = 0x74,
    kCodePassword = 0x77,
    kCodeBaudRate = 0x78,
    kCodeBeeper = 0x79,
    kCodeSleepTime = 0x7A,
    kCodeLanguage = 0x7B,
    kCodeDarkness = 0x7C,
    kCodeMarkSensitivity = 0x7D,
    kCodeGapSensitivity = 0x7E,
    kCodeBtMode = 0x7F,
    kCodePosition = 0x82,
    kCodePaperSensor = 0x86,
    kCodeCommandSet = 0x87,
    kCodePaperWidth = 0x88,
    kCodeSimplifiedChinese = 0x55,
    kCodeTraditionalChinese = 0xAA,
};

// The settings chosen from a drop-down list and sent as one argument byte.
enum class ListSetting {
    Visibility,
    BtMode,
    BaudRate,
    Darkness,
    Beeper,
    SleepTime,
    MarkSensitivity,
    GapSensitivity,
    Language,
    PaperSensor,
    CommandSet,
    PaperWidth,
};

// Where a list setting's byte comes from, and which operation carries it.
struct ListSettingInfo {
    std::uint8_t code;
    int operation;
    bool indexPlusOne;  // the byte is the selected index + 1
};
ListSettingInfo GetListSettingInfo(ListSetting setting);

// A frame written into the frame buffer from byte 0.
struct Frame {
    int length = 0;
    int operation = 0;
};

Frame BuildReadName(FrameBuffer& buf);
Frame BuildReadAddress(FrameBuffer& buf);
Frame BuildReadPassword(FrameBuffer& buf);
// Texts are ANSI code-page bytes; more than 20 bytes are cut to 20 so the
// length byte always agrees with what is sent.
Frame BuildSetName(FrameBuffer& buf, std::string_view text);
Frame BuildSetPassword(FrameBuffer& buf, std::string_view text);
Frame BuildListSetting(FrameBuffer& buf, ListSetting setting, int selectedIndex);
Frame BuildChineseMode(FrameBuffer& buf, int selectedIndex);
Frame BuildPosition(FrameBuffer& buf, std::int32_t value);

}  // namespace morvane

#include "protocol/frames.h"

#include <algorithm>

namespace morvane {

namespace {

// Header and setting code; returns the index of the first argument byte.
int PutHead(FrameBuffer& buf, std::uint8_t code) {
    buf[0] = kFrameHeader0;
    buf[1] = kFrameHeader1;
    buf[2] = code;
    return 3;
}

// The text fields hold at most 20 bytes; anything longer is cut here so the
// length byte always describes exactly the bytes that follow it.
std::string_view LimitText(std::string_view text) { return text.substr(0, std::min(text.size(), kMaxTextBytes)); }

int PutText(FrameBuffer& buf, int at, std::string_view text) {
    std::copy(text.begin(), text.end(), buf + at);
    return at + static_cast<int>(text.size());
}

}  // namespace

ListSettingInfo GetListSettingInfo(ListSetting setting) {
    switch (setting) {
        case ListSetting::Visibility: return {kCodeVisibility, kOpVisibility, false};
        case ListSetting::BtMode: return {kCodeBtMode, kOpBtMode, false};
        case ListSetting::BaudRate: return {kCodeBaudRate, kOpBaudRate, true};
        case ListSetting::Darkness: return {kCodeDarkness, kOpDarkness, true};
        case ListSetting::Beeper: return {kCodeBeeper, kOpBeeper, false};
        case ListSetting::SleepTime: return {kCodeSleepTime, kOpSleepTime, false};
        case ListSetting::MarkSensitivity: return {kCodeMarkSensitivity, kOpMarkSensitivity, true};
        case ListSetting::GapSensitivity: return {kCodeGapSensitivity, kOpGapSensitivity, true};
        case ListSetting::Language: return {kCodeLanguage, kOpLanguage, false};
        case ListSetting::PaperSensor: return {kCodePaperSensor, kOpPaperSensor, false};
        case ListSetting::CommandSet: return {kCodeCommandSet, kOpCommandSet, true};
        case ListSetting::PaperWidth: return {kCodePaperWidth, kOpPaperWidth, true};
    }
    return {0, 0, false};
}

Frame BuildReadName(FrameBuffer& buf) {
    int at = PutHead(buf, kCodeName);
    buf[at++] = 0;  // length 0 asks for the value
    return {at, kOpReadName};
}

Frame BuildReadAddress(FrameBuffer& buf) {
    // The address read carries no argument byte at all.
    return {PutHead(buf, kCodeAddress), kOpReadAddress};
}

Frame BuildReadPassword(FrameBuffer& buf) {
    int at = PutHead(buf, kCodePassword);
    buf[at++] = 0;
    return {at, kOpReadPassword};
}

Frame BuildSetName(FrameBuffer& buf, std::string_view text) {
    text = LimitText(text);
    int at = PutHead(buf, kCodeName);
    buf[at++] = static_cast<std::uint8_t>(text.size());
    return {PutText(buf, at, text), kOpSetName};
}

Frame BuildSetPassword(FrameBuffer& buf, std::string_view text) {
    text = LimitText(text);
    int at = PutHead(buf, kCodePassword);
    // The length byte counts the closing carriage return too.
    buf[at++] = static_cast<std::uint8_t>(text.size() + 1);
    at = PutText(buf, at, text);
    buf[at++] = kPasswordTerminator;
    return {at, kOpSetPassword};
}

Frame BuildListSetting(FrameBuffer& buf, ListSetting setting, int selectedIndex) {
    const ListSettingInfo info = GetListSettingInfo(setting);
    int at = PutHead(buf, info.code);
    const unsigned value = static_cast<unsigned>(selectedIndex) + (info.indexPlusOne ? 1u : 0u);
    buf[at++] = static_cast<std::uint8_t>(value & 0xFFu);
    return {at, info.operation};
}

Frame BuildChineseMode(FrameBuffer& buf, int selectedIndex) {
    // The code byte itself carries the choice; no argument follows.
    const std::uint8_t code = selectedIndex == 0 ? kCodeSimplifiedChinese : kCodeTraditionalChinese;
    return {PutHead(buf, code), kOpChineseMode};
}

Frame BuildPosition(FrameBuffer& buf, std::int32_t value) {
    constexpr std::uint8_t kNegative = 0x80;
    int at = PutHead(buf, kCodePosition);
    buf[at++] = value < 0 ? kNegative : 0x00;
    // Unsigned negation keeps INT32_MIN's magnitude without overflow.
    const std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) buf[at++] = static_cast<std::uint8_t>((magnitude >> shift) & 0xFFu);
    return {at, kOpPosition};
}

}  // namespace morvane

#include "printer_model.h"

#include "protocol/hex.h"

#include <cstdio>

namespace vprinter {

namespace {

constexpr std::uint8_t kHeader0 = 0x1D;  // GS
constexpr std::uint8_t kHeader1 = 0x46;  // 'F'
constexpr std::uint8_t kStatusOk = 0x00;
constexpr std::uint8_t kStatusFail = 0xFF;
constexpr std::uint8_t kCarriageReturn = 0x0D;  // closes a password frame

constexpr std::uint8_t kCodeName = 0x72;
constexpr std::uint8_t kCodeAddress = 0x74;
constexpr std::uint8_t kCodePassword = 0x77;
constexpr std::uint8_t kCodePosition = 0x82;
constexpr std::uint8_t kCodeSimplified = 0x55;
constexpr std::uint8_t kCodeTraditional = 0xAA;

constexpr int kPositionLimit = 255;

// One-byte settings: code, where it is stored, the accepted range.
struct RangedSetting {
    std::uint8_t code;
    int Settings::*value;
    int low;
    int high;
};

constexpr RangedSetting kRangedSettings[] = {
    {0x73, &Settings::visibility, 0, 1},      {kCodeBaudRate, &Settings::baudRate, 1, 7},
    {0x79, &Settings::beeper, 0, 1},          {0x7A, &Settings::sleepTime, 0, 255},
    {0x7B, &Settings::language, 0, 1},        {0x7C, &Settings::darkness, 1, 5},
    {0x7D, &Settings::markSensitivity, 1, 7}, {0x7E, &Settings::gapSensitivity, 1, 7},
    {0x7F, &Settings::btMode, 0, 1},          {0x86, &Settings::paperSensor, 0, 5},
    {0x87, &Settings::commandSet, 1, 2},      {0x88, &Settings::paperWidth, 1, 5},
};

const RangedSetting* FindRanged(std::uint8_t code) {
    for (const auto& setting : kRangedSettings) {
        if (setting.code == code) return &setting;
    }
    return nullptr;
}

}  // namespace

std::string CutText(const std::string& text) {
    return text.size() > kMaxValueText ? text.substr(0, kMaxValueText) : text;
}

std::string HexString(const Bytes& bytes) { return morvane::HexBytes(bytes.data(), bytes.size()); }

std::string HexString(const Bytes& bytes, std::size_t maxBytes) {
    if (bytes.size() <= maxBytes) return HexString(bytes);
    return morvane::HexBytes(bytes.data(), maxBytes) + " ... (" + std::to_string(bytes.size()) + " bytes)";
}

int BaudForSetting(int value) {
    static constexpr int kSpeeds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return value >= 1 && value <= 7 ? kSpeeds[value - 1] : 0;
}

std::size_t FrameLength(const std::uint8_t* head, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t code = head[2];
    switch (code) {
        case kCodeName:
        case kCodePassword:
            // A length byte of 0 is the read; otherwise it counts what follows
            // (for the password, the text and its closing 0x0D).
            if (size < 4) return 0;
            return 4 + std::size_t{head[3]};
        case kCodeAddress:
        case kCodeSimplified:
        case kCodeTraditional: return 3;
        case kCodePosition: return 8;
        default:
            // Every other setting, and codes this printer does not know, carry
            // one argument byte.
            return 4;
    }
}

bool FrameReader::Push(std::uint8_t byte, Bytes* frame, Bytes* skipped) {
    partial_.push_back(byte);
    // Resynchronise on 0x1D 0x46. Bytes come one at a time, so the partial
    // frame never outgrows the longest frame.
    while (!partial_.empty() && (partial_[0] != kHeader0 || (partial_.size() >= 2 && partial_[1] != kHeader1))) {
        skipped->push_back(partial_[0]);
        partial_.erase(partial_.begin());
    }
    const std::size_t need = FrameLength(partial_.data(), partial_.size());
    if (need == 0 || partial_.size() < need) return false;
    frame->swap(partial_);
    partial_.clear();
    return true;
}

Answer AnswerFrame(const Bytes& frame, Settings* settings) {
    Answer answer;
    if (frame.size() < 3) return answer;
    const std::uint8_t code = frame[2];
    auto status = [&](bool ok) {
        answer.bytes = {kHeader0, kHeader1, code, ok ? kStatusOk : kStatusFail};
        return answer;
    };
    auto value = [&](const std::string& text) {
        answer.isValue = true;
        answer.text = text;
        const std::string sent = CutText(text);
        answer.bytes = {kHeader0, kHeader1, code, static_cast<std::uint8_t>(sent.size())};
        answer.bytes.insert(answer.bytes.end(), sent.begin(), sent.end());
        return answer;
    };
    auto mark = [&](std::uint8_t c) { settings->setCodes.insert(c); };

    if (frame.size() != FrameLength(frame.data(), frame.size())) return status(false);

    switch (code) {
        case kCodeName: {
            const std::size_t n = frame[3];
            if (n == 0) return value(settings->name);
            if (n > kMaxStoredText) return status(false);
            settings->name.assign(frame.begin() + 4, frame.end());
            mark(code);
            return status(true);
        }
        case kCodePassword: {
            const std::size_t n = frame[3];
            if (n == 0) return value(settings->password);
            if (frame.back() != kCarriageReturn || n - 1 > kMaxStoredText) return status(false);
            settings->password.assign(frame.begin() + 4, frame.end() - 1);
            mark(code);
            return status(true);
        }
        case kCodeAddress: return value(settings->address);
        case kCodeSimplified:
        case kCodeTraditional:
            settings->chineseCode = code;
            mark(code);
            return status(true);
        case kCodePosition: {
            const std::uint8_t sign = frame[3];
            const std::uint32_t magnitude = (std::uint32_t{frame[4]} << 24) | (std::uint32_t{frame[5]} << 16) |
                                            (std::uint32_t{frame[6]} << 8) | std::uint32_t{frame[7]};
            if ((sign != 0x00 && sign != 0x80) || magnitude > kPositionLimit) return status(false);
            const int m = static_cast<int>(magnitude);
            settings->position = sign == 0x80 ? -m : m;
            mark(code);
            return status(true);
        }
        default: break;
    }
    const RangedSetting* ranged = FindRanged(code);
    if (ranged == nullptr) return status(false);  // unknown: refused
    const int v = frame[3];
    if (v < ranged->low || v > ranged->high) return status(false);
    settings->*(ranged->value) = v;
    mark(code);
    return status(true);
}

}  // namespace vprinter

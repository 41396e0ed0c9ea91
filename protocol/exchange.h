// The exchange: send one frame, collect its reply, decide what the user sees.
// Written against small interfaces so that tests drive it with fakes; the
// dialog wires the real serial port, port library and Sleep.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/frames.h"
#include "protocol/pause.h"

namespace morvane {

// The serial port that the Open button opened (the dialog's m_hCom).
class SerialPath {
public:
    virtual ~SerialPath() = default;
    virtual bool IsOpen() const = 0;
    // Purges the port, then writes the frame in one request.
    virtual bool WriteFrame(const std::uint8_t* frame, int length) = 0;
    // The bounded read of the serial port; returns the count delivered.
    virtual int ReadReply(std::uint8_t* buf, int wanted) = 0;
};

// The port library's calls, as the exchange makes them.
class PortLibrary {
public:
    virtual ~PortLibrary() = default;
    virtual int ClosePort(const char* port) = 0;
    virtual int SetComParam(const char* port, int baud, int dataBits, char parity, int stopBits, int flags) = 0;
    virtual int SendData(const char* port, const std::uint8_t* data, int length) = 0;
    virtual int ReadData(const char* port, std::uint8_t* buf, int maxCount) = 0;
};

// The line every caller of the port library asks it for, whatever the
// baud-rate list says: 115200 baud, 8 data bits, no parity, 1 stop bit, and
// the library's flow-control value 2.
struct LibraryLineSettings {
    int baud;
    int dataBits;
    char parity;
    int stopBits;
    int flags;
};
constexpr LibraryLineSettings kLibraryLine{115200, 8, 'N', 1, 2};

// Message texts (string-table ids) the exchange can show.
enum MessageId : int {
    kMsgPrompt = 121,  // caption of every message box
    kMsgOpenPortFirst = 122,
    kMsgNoAnswer = 123,
    kMsgSendFail = 124,
    kMsgSetFail = 125,
    kMsgSetSuccess = 126,
    kMsgReadFail = 127,
};

enum class MessageIcon { Warning, Information };

// What the dialog does when the exchange is over: show a message, store a
// value read into one of the three text fields (then refresh them), or nothing.
struct ExchangeResult {
    enum class Kind { Nothing, Message, Value } kind = Kind::Nothing;
    int messageId = 0;
    MessageIcon icon = MessageIcon::Warning;
    int valueOperation = 0;  // kOpReadName, kOpReadAddress or kOpReadPassword
    std::string value;
};

// Timings of the exchange, in milliseconds.
constexpr unsigned kRetryWaitMs = 1500;      // before the 3rd..6th read
constexpr unsigned kLibrarySettleMs = 20;    // after SetComParam
constexpr unsigned kLibraryAnswerMs = 2000;  // after SendData
constexpr int kReplyReadCount = 64;
constexpr int kStatusReadCount = 4;
constexpr int kMaxReads = 6;

// Runs one exchange for the frame in sendBuf[0..length). Fills recvBuf and
// recvLen as the dialog's m_recvBuf and m_nRecvLen.
ExchangeResult RunExchange(std::string_view portName, const FrameBuffer& sendBuf, int length, int operation,
                           ReplyBuffer& recvBuf, int& recvLen, SerialPath& serial, PortLibrary& library, Pause& pause);

}  // namespace morvane

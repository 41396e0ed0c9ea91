// The program's own serial-port operations: open with the tool's line
// settings and time-outs, write a frame, read a reply with a bounded retry,
// close. Only the Open button opens and closes; the exchange writes and reads.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <string_view>

#include "port/serial_device_name.h"

namespace morvane {

// A handle is open when it is neither null nor INVALID_HANDLE_VALUE.
inline bool IsPortOpen(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Opens "COMn:" (COM10 and above through \\.\COMn) at 8N1 and the given
// speed. Returns nullptr when the device cannot be opened or configured.
HANDLE OpenSerialPort(const char* portName, int baudRate);

// Purges both buffers, then writes the frame in one request. A write that
// fails or times out before every byte is out is a failed write.
bool WriteSerialFrame(HANDLE port, const std::uint8_t* frame, int length);

// Reads up to `wanted` bytes with the retry budget; -1 when wanted <= 0.
int ReadSerialReply(HANDLE port, std::uint8_t* buf, int wanted);

// Closes without purging.
void CloseSerialPort(HANDLE port);

// The settings behind OpenSerialPort, as data a test can check.

// Both buffers, transfers under way left alone (PURGE_TXCLEAR | PURGE_RXCLEAR).
constexpr DWORD kPurgeBuffers = PURGE_TXCLEAR | PURGE_RXCLEAR;

// A request for n bytes returns when they are all in, when 100 ms pass
// between two bytes, or after 100 + n ms. A write of n bytes gives up after
// 1000 + 10 n ms: a frame of 25 bytes needs about 105 ms at 2400 baud, and a
// line held back by flow control (CTS low: paper out, printer off, a 3-wire
// cable) must not hang the program.
constexpr COMMTIMEOUTS kSerialTimeouts = {
    100,   // ReadIntervalTimeout
    1,     // ReadTotalTimeoutMultiplier
    100,   // ReadTotalTimeoutConstant
    10,    // WriteTotalTimeoutMultiplier
    1000,  // WriteTotalTimeoutConstant
};

// Changes only the fields the tool owns (speed, 8N1, binary, no parity check,
// DTR/RTS held off, no XON/XOFF); everything else keeps what the port had.
void ApplyLineSettings(DCB& dcb, int baudRate);

}  // namespace morvane

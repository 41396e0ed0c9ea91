// The program's own serial-port operations: open with the tool's line
// settings and time-outs, write a frame, read a reply with a bounded retry,
// close. Only the Open button opens and closes; the exchange writes and reads.
#pragma once
#include <windows.h>
#include <cstdint>

namespace morvane {

// A handle is open when it is neither null nor INVALID_HANDLE_VALUE.
inline bool IsPortOpen(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Opens "COMn:" (COM10 and above through \\.\COMn) at 8N1 and the given
// speed. Returns nullptr when the device cannot be opened or configured.
HANDLE OpenSerialPort(const char* portName, int baudRate);

// Purges both buffers, then writes the frame in one request.
bool WriteSerialFrame(HANDLE port, const std::uint8_t* frame, int length);

// Reads up to `wanted` bytes with the retry budget; -1 when wanted <= 0.
int ReadSerialReply(HANDLE port, std::uint8_t* buf, int wanted);

// Closes without purging.
void CloseSerialPort(HANDLE port);

}  // namespace morvane

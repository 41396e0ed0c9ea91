#include "port/serial_port.h"

#include <cstdio>

#include "common/scoped_handle.h"
#include "protocol/pause.h"
#include "protocol/read_budget.h"

namespace morvane {
namespace {

// The blocking pause of the calling (user-interface) thread.
class SleepPause final : public Pause {
public:
    void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
};

// The diagnostic line for a refused call, with the system's error number;
// the caller's message is all the user sees. The number stays the thread's
// last error for whoever asks after the return.
void ReportFailure(const char* format) {
    const DWORD error = GetLastError();
    char line[64];
    std::snprintf(line, sizeof line, format, static_cast<int>(error));
    OutputDebugStringA(line);
    SetLastError(error);
}

// After a failed transfer: a line error (one framing error from a wrong
// speed, with fAbortOnError set as another program left it) otherwise fails
// every later transfer until the port is closed and opened again.
void ClearLineErrors(HANDLE port) {
    DWORD errors = 0;
    ClearCommError(port, &errors, nullptr);
}

}  // namespace

void ApplyLineSettings(DCB& dcb, int baudRate) {
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
}

HANDLE OpenSerialPort(const char* portName, int baudRate) {
    const std::string device = SerialDeviceName(portName != nullptr ? portName : "");
    ScopedHandle port(CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!port) {
        ReportFailure("Open Port Failed(%d).\r\n");
        return nullptr;
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port.Get(), &dcb);  // a refusal shows up in SetCommState
    ApplyLineSettings(dcb, baudRate);
    if (!SetCommState(port.Get(), &dcb)) {
        ReportFailure("Set Port State Failed(%d).\r\n");
        PurgeComm(port.Get(), kPurgeBuffers);
        return nullptr;
    }

    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(port.Get(), &timeouts);  // every field is replaced below
    timeouts = kSerialTimeouts;
    if (!SetCommTimeouts(port.Get(), &timeouts)) {
        ReportFailure("Set Port Timeouts Failed(%d).\r\n");
        PurgeComm(port.Get(), kPurgeBuffers);
        return nullptr;
    }

    PurgeComm(port.Get(), kPurgeBuffers);
    return port.Release();
}

bool WriteSerialFrame(HANDLE port, const std::uint8_t* frame, int length) {
    PurgeComm(port, kPurgeBuffers);
    if (length < 0) return false;
    DWORD written = 0;
    // A write time-out ends the request as a success with fewer bytes out.
    const bool sent = WriteFile(port, frame, static_cast<DWORD>(length), &written, nullptr) != FALSE &&
                      written == static_cast<DWORD>(length);
    if (!sent) ClearLineErrors(port);
    return sent;
}

int ReadSerialReply(HANDLE port, std::uint8_t* buf, int wanted) {
    if (wanted <= 0) return -1;
    // A failed request delivers nothing and so counts as an empty one.
    const ReadRequest request = [port](std::uint8_t* dest, int count) {
        DWORD got = 0;
        if (!ReadFile(port, dest, static_cast<DWORD>(count), &got, nullptr)) ClearLineErrors(port);
        return static_cast<int>(got);
    };
    SleepPause pause;
    return ReadWithBudget(request, pause, buf, wanted);
}

void CloseSerialPort(HANDLE port) { CloseHandle(port); }

}  // namespace morvane

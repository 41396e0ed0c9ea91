// TarnPortDll: COM, USB printer-class and parallel ports by name, for
// programs that talk to printers. Ports are opened on first use and stay open
// until ClosePort or the end of the process.
//
// Names: "COMn", "USBn", "LPTn" with n from 1 to 255, a trailing ':' and the
// letter case do not matter. Where they lead: see devices.h (TarnPort.ini
// beside this DLL first, then the system's own device).
//
// SetComParam(name, baud, dataBits 5..8, parity N/O/E/M/S, stopBits 1, 2 or
// 15 for 1.5, flags): flags 0 no flow control with DTR/RTS off, 1 XON/XOFF,
// 2 no flow control with DTR/RTS on (what printers expect), 3 RTS/CTS.
//
// Results: ClosePort 1 closed, 0 was not open; SetComParam 1 configured,
// 0 opened but not a serial line (USB printer, file: nothing to configure);
// SendData/ReadData the byte count (ReadData 0 when nothing came within
// about half a second). Negative for failures: kBadName for a name that is
// no port, kNoDevice for a port that cannot be opened, kBadArgument for
// arguments the call cannot use, kIoFailed for a refused transfer.
#include "libs/tarnport/tarnport.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "libs/common/scoped_handle.h"
#include "libs/tarnport/devices.h"

namespace {

using tarnport::kBadArgument;
using tarnport::kBadName;
using tarnport::kIoFailed;
using tarnport::kNoDevice;

// ReadData: how long to wait for a first byte, how long a quiet line ends an
// answer under way, and the most one call may take.
constexpr DWORD kFirstByteMs = 500;
constexpr DWORD kQuietGapMs = 50;
constexpr DWORD kReadWindowMs = 1000;
// SendData: a frame is written within this, plus a little per byte.
constexpr DWORD kWriteBaseMs = 1000;
constexpr DWORD kWritePerByteMs = 2;
// Extra wait beyond the line's own time-outs before a transfer is cancelled;
// devices without time-outs (USB printers, files) rely on it alone.
constexpr DWORD kCancelMarginMs = 200;

// The 6th argument of SetComParam: flow control.
enum FlowControl : int {
    kFlowNone = 0,         // no flow control, DTR and RTS off
    kFlowXonXoff = 1,      // XON/XOFF both ways
    kFlowNoneLinesOn = 2,  // no flow control, DTR and RTS on (printers see a host)
    kFlowRtsCts = 3,       // RTS/CTS hardware handshake
};

// A port that is open. The handle closes when the last user lets go, so a
// ClosePort from another thread never pulls it from under a transfer.
struct OpenPort {
    explicit OpenPort(morvane::ScopedHandle h) : owner(std::move(h)), handle(owner.Get()) {}

    const morvane::ScopedHandle owner;
    const HANDLE handle;
    bool serialLine = false;
};

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

class Lock {
public:
    explicit Lock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~Lock() { cs_.Leave(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CriticalSection& cs_;
};

// The ports this process has open, by port key ("USB1").
class PortTable {
public:
    // The open port, opening it first when needed; null when it cannot be opened.
    std::shared_ptr<OpenPort> Get(const tarnport::PortId& id) {
        Lock lock(cs_);
        auto found = ports_.find(id.key);
        if (found != ports_.end()) return found->second;
        auto port = Open(tarnport::DevicePathFor(id));
        if (port) ports_[id.key] = port;
        return port;
    }

    bool Close(const std::string& key) {
        std::shared_ptr<OpenPort> closing;
        Lock lock(cs_);
        auto found = ports_.find(key);
        if (found == ports_.end()) return false;
        closing = std::move(found->second);
        ports_.erase(found);
        return true;
    }

private:
    static std::shared_ptr<OpenPort> Open(const std::string& path) {
        if (path.empty()) return nullptr;
        // Overlapped, so that every transfer can be cut off after a bounded
        // wait even on a device that has no time-outs of its own.
        morvane::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_OVERLAPPED, nullptr));
        if (!file) return nullptr;
        const HANDLE h = file.Get();
        // A regular file takes every transfer at offset 0: the status read
        // would bring back the frame just sent and pass for an answer. Only
        // devices (character devices, pipes) are ports.
        const DWORD type = GetFileType(h);
        if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) return nullptr;
        auto port = std::make_shared<OpenPort>(std::move(file));
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        port->serialLine = GetCommState(h, &dcb) != FALSE;
        if (port->serialLine) {
            COMMTIMEOUTS timeouts{};
            timeouts.ReadIntervalTimeout = kQuietGapMs;
            timeouts.ReadTotalTimeoutMultiplier = 0;
            timeouts.ReadTotalTimeoutConstant = kFirstByteMs;
            timeouts.WriteTotalTimeoutMultiplier = kWritePerByteMs;
            timeouts.WriteTotalTimeoutConstant = kWriteBaseMs;
            SetCommTimeouts(h, &timeouts);
        }
        return port;
    }

    CriticalSection cs_;
    std::map<std::string, std::shared_ptr<OpenPort>> ports_;
};

// Never destroyed: ports stay open until the process ends, and nothing runs
// against a half-torn-down table while the DLL unloads.
PortTable& Ports() {
    static PortTable* table = new PortTable;
    return *table;
}

// One overlapped transfer, cancelled after limitMs. Returns the bytes moved,
// or -1 when the device refused the request.
int Transfer(HANDLE h, bool write, void* data, DWORD length, DWORD limitMs) {
    const morvane::ScopedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event) return -1;
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    const BOOL started = write ? WriteFile(h, data, length, nullptr, &ov) : ReadFile(h, data, length, nullptr, &ov);
    int result = -1;
    if (started || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(ov.hEvent, limitMs) != WAIT_OBJECT_0) CancelIoEx(h, &ov);
        DWORD moved = 0;
        // A line's own time-out (Wine reports it as ERROR_TIMEOUT) and our
        // cancel both end the request with whatever had come by then.
        if (GetOverlappedResult(h, &ov, &moved, TRUE) || GetLastError() == ERROR_OPERATION_ABORTED ||
            GetLastError() == ERROR_TIMEOUT) {
            result = static_cast<int>(moved);
        }
    }
    return result;
}

bool BuildDcb(DCB& dcb, int baudRate, int dataBits, char parity, int stopBits, int flags) {
    if (baudRate <= 0 || dataBits < 5 || dataBits > 8) return false;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    switch (parity) {
    case 'N': case 'n': dcb.Parity = NOPARITY; break;
    case 'O': case 'o': dcb.Parity = ODDPARITY; break;
    case 'E': case 'e': dcb.Parity = EVENPARITY; break;
    case 'M': case 'm': dcb.Parity = MARKPARITY; break;
    case 'S': case 's': dcb.Parity = SPACEPARITY; break;
    default: return false;
    }
    dcb.fParity = dcb.Parity != NOPARITY;
    switch (stopBits) {
    case 1: dcb.StopBits = ONESTOPBIT; break;
    case 15: dcb.StopBits = ONE5STOPBITS; break;  // 1.5, as ten times the count
    case 2: dcb.StopBits = TWOSTOPBITS; break;
    default: return false;
    }
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    switch (flags) {
    case kFlowNone:
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        break;
    case kFlowXonXoff:
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        break;
    case kFlowNoneLinesOn: break;
    case kFlowRtsCts:
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
    default: return false;
    }
    return true;
}

}  // namespace

extern "C" {

int WINAPI GetCOMMax(void) { return tarnport::CountPorts(tarnport::PortKind::Com); }

int WINAPI GetUSBPort(void) { return tarnport::CountPorts(tarnport::PortKind::Usb); }

int WINAPI GetLPTMax(void) { return tarnport::CountPorts(tarnport::PortKind::Lpt); }

int WINAPI ClosePort(const char* portName) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    return Ports().Close(id->key) ? 1 : 0;
}

int WINAPI SetComParam(const char* portName, int baudRate, int dataBits, char parity, int stopBits, int flags) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    DCB settings{};
    if (!BuildDcb(settings, baudRate, dataBits, parity, stopBits, flags)) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;
    if (!port->serialLine) return 0;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port->handle, &dcb);
    BuildDcb(dcb, baudRate, dataBits, parity, stopBits, flags);
    if (!SetCommState(port->handle, &dcb)) return kIoFailed;
    PurgeComm(port->handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return 1;
}

int WINAPI SendData(const char* portName, const unsigned char* data, int length) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    if (length < 0 || (data == nullptr && length > 0)) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;
    if (length == 0) return 0;
    const DWORD limit = kWriteBaseMs + kWritePerByteMs * static_cast<DWORD>(length) + kCancelMarginMs;
    // WriteFile does not change the bytes; the cast only meets its signature.
    const int written = Transfer(port->handle, true, const_cast<unsigned char*>(data), static_cast<DWORD>(length), limit);
    return written < 0 ? kIoFailed : written;
}

int WINAPI ReadData(const char* portName, unsigned char* buffer, int maxCount) {
    if (maxCount <= 0) return 0;
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    if (buffer == nullptr) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;

    // Wait for a first byte, then gather the rest of the answer until the
    // buffer is full, the line goes quiet, or the call's window is over.
    const ULONGLONG start = GetTickCount64();
    int total = Transfer(port->handle, false, buffer, static_cast<DWORD>(maxCount), kFirstByteMs + kCancelMarginMs);
    if (total <= 0) return total < 0 ? kIoFailed : 0;
    while (total < maxCount) {
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= kReadWindowMs) break;
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(kQuietGapMs, kReadWindowMs - spent));
        const int more = Transfer(port->handle, false, buffer + total, static_cast<DWORD>(maxCount - total), wait);
        if (more <= 0) break;
        total += more;
    }
    return total;
}

}  // extern "C"

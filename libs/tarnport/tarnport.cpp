// TarnPortDll: COM, USB printer-class and parallel ports by name, for
// programs that talk to printers. Ports are opened on first use and stay open
// until ClosePort or the end of the process.
//
// Names: "COMn", "USBn", "LPTn" with n from 1 to 255, a trailing ':' and the
// letter case do not matter.
//
// Every function may be called from several threads at once: calls on
// different ports run side by side, transfers on one port take turns. Where they lead: see devices.h (TarnPort.ini
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
#include <vector>

#include "common/guarded.h"
#include "common/scoped_handle.h"
#include "libs/tarnport/devices.h"

namespace {

using tarnport::kBadArgument;
using tarnport::kBadName;
using tarnport::kIoFailed;
using tarnport::kNoDevice;

// ReadData: how long a read waits when nothing at all is waiting (the
// program reads only after its own pause for the answer, and retries), how
// long a quiet line ends an answer under way, and the most one call gathers.
constexpr DWORD kNothingWaitingMs = 50;
constexpr DWORD kQuietGapMs = 50;
constexpr DWORD kReadWindowMs = 1000;
// SendData: a frame is written within this, plus a little per byte.
constexpr DWORD kWriteBaseMs = 1000;
constexpr DWORD kWritePerByteMs = 2;
// Extra wait beyond a serial line's own time-outs before a transfer is
// cancelled; devices without time-outs (USB printers, pipes) are cancelled
// at the wait itself.
constexpr DWORD kCancelMarginMs = 200;
// How long a cancelled transfer may take to end. A driver that lets it run
// on is left with it: the port is dropped and the transfer's memory given up.
constexpr DWORD kCancelGraceMs = 200;

// The stated bounds: SendData of n bytes returns within
// kWriteBaseMs + n * kWritePerByteMs + kCancelMarginMs + kCancelGraceMs, and
// ReadData within kReadBoundMs, whatever the driver does.
constexpr DWORD kReadBoundMs = kReadWindowMs + kQuietGapMs + kCancelMarginMs + kCancelGraceMs;
static_assert(kReadBoundMs <= 1500, "ReadData must stay well inside the program's 1500 ms retry pause");

// The 6th argument of SetComParam: flow control.
enum FlowControl : int {
    kFlowNone = 0,         // no flow control, DTR and RTS off
    kFlowXonXoff = 1,      // XON/XOFF both ways
    kFlowNoneLinesOn = 2,  // no flow control, DTR and RTS on (printers see a host)
    kFlowRtsCts = 3,       // RTS/CTS hardware handshake
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

// A port that is open. The handle closes when the last user lets go, so a
// ClosePort from another thread never pulls it from under a transfer.
struct OpenPort {
    explicit OpenPort(morvane::ScopedHandle h) : owner(std::move(h)), handle(owner.Get()) {}

    const morvane::ScopedHandle owner;
    const HANDLE handle;
    bool serialLine = false;
    // One transfer at a time on a port; calls on different ports run side
    // by side.
    CriticalSection transfers;
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

    // Forgets `port` if it is still the one open under `key`: after an
    // abandoned transfer the next call opens the device afresh.
    void Drop(const std::string& key, const std::shared_ptr<OpenPort>& port) {
        std::shared_ptr<OpenPort> dropping;
        Lock lock(cs_);
        auto found = ports_.find(key);
        if (found == ports_.end() || found->second != port) return;
        dropping = std::move(found->second);
        ports_.erase(found);
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
            timeouts.ReadTotalTimeoutConstant = kNothingWaitingMs;
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

// One overlapped transfer's state. It lives on the heap: should the driver
// never finish the request, the system still owns the OVERLAPPED, the event
// and the bytes, so they are left to it rather than freed under it.
struct PendingTransfer {
    OVERLAPPED ov{};
    morvane::ScopedHandle event;
    std::vector<unsigned char> bytes;
};

struct TransferResult {
    int moved = -1;          // bytes moved, or -1 when the device refused the request
    bool abandoned = false;  // the driver kept the request past the cancel
};

// One overlapped transfer of `bytes`, cancelled after limitMs; a read's
// bytes come back in `bytes`. Returns within limitMs + kCancelGraceMs.
TransferResult Transfer(HANDLE h, bool write, std::vector<unsigned char>& bytes, DWORD limitMs) {
    auto pending = std::make_unique<PendingTransfer>();
    pending->event.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!pending->event) return {};
    pending->ov.hEvent = pending->event.Get();
    pending->bytes = bytes;
    const DWORD length = static_cast<DWORD>(pending->bytes.size());
    unsigned char* data = pending->bytes.data();
    const BOOL started =
        write ? WriteFile(h, data, length, nullptr, &pending->ov) : ReadFile(h, data, length, nullptr, &pending->ov);
    if (!started && GetLastError() != ERROR_IO_PENDING) return {};
    if (WaitForSingleObject(pending->ov.hEvent, limitMs) != WAIT_OBJECT_0) {
        CancelIoEx(h, &pending->ov);
        if (WaitForSingleObject(pending->ov.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
            pending.release();  // still the driver's: never freed
            return {-1, true};
        }
    }
    TransferResult result;
    DWORD moved = 0;
    // A line's own time-out (Wine reports it as ERROR_TIMEOUT) and our
    // cancel both end the request with whatever had come by then.
    if (GetOverlappedResult(h, &pending->ov, &moved, FALSE) || GetLastError() == ERROR_OPERATION_ABORTED ||
        GetLastError() == ERROR_TIMEOUT) {
        result.moved = static_cast<int>(std::min<DWORD>(moved, length));
        if (!write) bytes.assign(pending->bytes.begin(), pending->bytes.begin() + result.moved);
    }
    return result;
}

// How long a transfer on `port` may wait before it is cancelled.
DWORD CancelAfter(const OpenPort& port, DWORD waitMs) { return port.serialLine ? waitMs + kCancelMarginMs : waitMs; }

bool BuildDcb(DCB& dcb, int baudRate, int dataBits, char parity, int stopBits, int flags) {
    if (baudRate <= 0 || dataBits < 5 || dataBits > 8) return false;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    switch (parity) {
        case 'N':
        case 'n': dcb.Parity = NOPARITY; break;
        case 'O':
        case 'o': dcb.Parity = ODDPARITY; break;
        case 'E':
        case 'e': dcb.Parity = EVENPARITY; break;
        case 'M':
        case 'm': dcb.Parity = MARKPARITY; break;
        case 'S':
        case 's': dcb.Parity = SPACEPARITY; break;
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

int GetCOMMaxBody() { return tarnport::CountPorts(tarnport::PortKind::Com); }

int GetUSBPortBody() { return tarnport::CountPorts(tarnport::PortKind::Usb); }

int GetLPTMaxBody() { return tarnport::CountPorts(tarnport::PortKind::Lpt); }

int ClosePortBody(const char* portName) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    return Ports().Close(id->key) ? 1 : 0;
}

int SetComParamBody(const char* portName, int baudRate, int dataBits, char parity, int stopBits, int flags) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    DCB settings{};
    if (!BuildDcb(settings, baudRate, dataBits, parity, stopBits, flags)) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;
    if (!port->serialLine) return 0;
    Lock one(port->transfers);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port->handle, &dcb);
    BuildDcb(dcb, baudRate, dataBits, parity, stopBits, flags);
    if (!SetCommState(port->handle, &dcb)) return kIoFailed;
    PurgeComm(port->handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return 1;
}

int SendDataBody(const char* portName, const unsigned char* data, int length) {
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    if (length < 0 || (data == nullptr && length > 0)) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;
    if (length == 0) return 0;
    Lock one(port->transfers);
    std::vector<unsigned char> bytes(data, data + length);
    const DWORD limit = kWriteBaseMs + kWritePerByteMs * static_cast<DWORD>(length);
    const TransferResult sent = Transfer(port->handle, true, bytes, CancelAfter(*port, limit));
    if (sent.abandoned) Ports().Drop(id->key, port);
    return sent.moved < 0 ? kIoFailed : sent.moved;
}

int ReadDataBody(const char* portName, unsigned char* buffer, int maxCount) {
    if (maxCount <= 0) return 0;
    const auto id = tarnport::ParsePortName(portName);
    if (!id) return kBadName;
    if (buffer == nullptr) return kBadArgument;
    const auto port = Ports().Get(*id);
    if (!port) return kNoDevice;
    Lock one(port->transfers);

    // Take what is waiting, then gather the rest of the answer until the
    // buffer is full, the line has been quiet for a short gap, or the call's
    // window is over. With nothing waiting the call ends after a short bound.
    const ULONGLONG start = GetTickCount64();
    int total = 0;
    DWORD wait = kNothingWaitingMs;
    while (total < maxCount) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(maxCount - total));
        const TransferResult got = Transfer(port->handle, false, bytes, CancelAfter(*port, wait));
        if (got.abandoned) Ports().Drop(id->key, port);
        if (got.moved < 0) return total > 0 ? total : kIoFailed;
        if (got.moved == 0) break;
        std::copy(bytes.begin(), bytes.end(), buffer + total);
        total += got.moved;
        const ULONGLONG spent = GetTickCount64() - start;
        if (spent >= kReadWindowMs) break;
        wait = static_cast<DWORD>(std::min<ULONGLONG>(kQuietGapMs, kReadWindowMs - spent));
    }
    return total;
}

}  // namespace

extern "C" {

// Every export catches everything: a failure value, never an exception.
int WINAPI GetCOMMax(void) {
    return morvane::Guarded(0, [] { return GetCOMMaxBody(); });
}
int WINAPI GetUSBPort(void) {
    return morvane::Guarded(0, [] { return GetUSBPortBody(); });
}
int WINAPI GetLPTMax(void) {
    return morvane::Guarded(0, [] { return GetLPTMaxBody(); });
}

int WINAPI ClosePort(const char* portName) {
    return morvane::Guarded(kIoFailed, [&] { return ClosePortBody(portName); });
}

int WINAPI SetComParam(const char* portName, int baudRate, int dataBits, char parity, int stopBits, int flags) {
    return morvane::Guarded(kIoFailed,
                            [&] { return SetComParamBody(portName, baudRate, dataBits, parity, stopBits, flags); });
}

int WINAPI SendData(const char* portName, const unsigned char* data, int length) {
    return morvane::Guarded(kIoFailed, [&] { return SendDataBody(portName, data, length); });
}

int WINAPI ReadData(const char* portName, unsigned char* buffer, int maxCount) {
    return morvane::Guarded(kIoFailed, [&] { return ReadDataBody(portName, buffer, maxCount); });
}

}  // extern "C"

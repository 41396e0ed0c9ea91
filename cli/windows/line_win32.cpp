// The command's line on Windows: COM ports driven directly, with no flow
// control and time-outs of its own; USB and LPT ports through the port
// library, as the dialog reaches them.
#include "cli/line.h"

#include <windows.h>

#include <algorithm>

#include "cli/windows/port_library.h"
#include "libs/common/scoped_handle.h"
#include "port/serial_port.h"

namespace morvane::cli {

namespace {

// A read returns at once with what has come, or after this long with
// nothing; the loop above it watches the deadline.
constexpr DWORD kReadSliceMs = 10;
// Writes: a constant and an allowance per byte, wide even at 2400 baud.
constexpr DWORD kWriteConstantMs = 500;
constexpr DWORD kWritePerByteMs = 10;
// The port library's fixed line parameters, as the dialog passes them.
constexpr int kLibraryBaud = 115200;
constexpr int kLibraryFlags = 2;
constexpr int kLibraryDrainCount = 64;

std::string SystemError(const char* what, DWORD code = GetLastError()) {
    return std::string(what) + " failed (error " + std::to_string(code) + ")";
}

long long MsUntil(TimePoint deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
}

class SerialLine : public Line {
public:
    explicit SerialLine(HANDLE h) : port_(h), h_(h) {}

    bool IsSerial() const override { return true; }
    // Windows does not say whether a COM port is a USB-serial adapter, and
    // adapters pass bytes on every 16 ms: wait longer than that.
    std::chrono::milliseconds MinimumSettle() const override { return std::chrono::milliseconds(20); }

    bool SetSpeed(int baud, std::string* error) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h_, &dcb)) {
            *error = SystemError("GetCommState");
            return false;
        }
        morvane::ApplyLineSettings(dcb, baud);
        // Unlike the dialog, the command never waits on handshake lines a
        // printer may hold: a frame goes out whatever CTS and DSR say.
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(h_, &dcb)) {
            *error = SystemError("SetCommState");
            return false;
        }
        return true;
    }

    void DiscardInput() override {
        PurgeComm(h_, PURGE_RXCLEAR);
        DWORD errors = 0;
        ClearCommError(h_, &errors, nullptr);
    }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint, std::string* error) override {
        DWORD written = 0;
        if (!WriteFile(h_, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
            *error = written != size ? "the write timed out" : SystemError("WriteFile");
            DWORD errors = 0;
            ClearCommError(h_, &errors, nullptr);
            return false;
        }
        return true;
    }

    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(h_, buf, static_cast<DWORD>(max), &got, nullptr)) {
                const DWORD code = GetLastError();
                DWORD errors = 0;
                ClearCommError(h_, &errors, nullptr);
                if (code != ERROR_OPERATION_ABORTED) return -1;
            }
            if (got > 0) return static_cast<int>(got);
            if (MsUntil(deadline) <= 0) return 0;
        }
    }

private:
    ScopedHandle port_;  // closes the port with the line
    const HANDLE h_;
};

// The port library was written for the dialog's one thread: a batch on
// several USB or LPT ports takes turns at it.
class LibraryLock {
public:
    LibraryLock() { EnterCriticalSection(&Section()); }
    ~LibraryLock() { LeaveCriticalSection(&Section()); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

private:
    static CRITICAL_SECTION& Section() {
        static struct Holder {
            Holder() { InitializeCriticalSection(&section); }
            CRITICAL_SECTION section;
        } holder;
        return holder.section;
    }
};

class LibraryLine : public Line {
public:
    LibraryLine(const PortLibraryCalls& lib, std::string name) : lib_(lib), name_(std::move(name)) {}
    ~LibraryLine() override {
        LibraryLock lock;
        lib_.ClosePort(name_.c_str());
    }

    bool IsSerial() const override { return false; }
    bool SetSpeed(int, std::string*) override { return true; }

    void DiscardInput() override {
        unsigned char drain[kLibraryDrainCount];
        LibraryLock lock;
        lib_.ReadData(name_.c_str(), drain, sizeof drain);
    }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint, std::string* error) override {
        int n = 0;
        {
            LibraryLock lock;
            n = lib_.SendData(name_.c_str(), data, static_cast<int>(size));
        }
        if (n != static_cast<int>(size)) {
            *error = "the port library sent " + std::to_string(n) + " of " + std::to_string(size) + " bytes";
            return false;
        }
        return true;
    }

    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        for (;;) {
            int n = 0;
            {
                LibraryLock lock;
                n = lib_.ReadData(name_.c_str(), buf, static_cast<int>(max));
            }
            // A library that claims more than it was asked for gave no more.
            if (n > 0) return std::min(n, static_cast<int>(max));
            if (MsUntil(deadline) <= 0) return 0;
            Sleep(1);
        }
    }

private:
    const PortLibraryCalls& lib_;
    std::string name_;
};

// The port library knows "USBn:" and "LPTn", the names of the dialog's list.
std::string LibraryName(const PortName& port) {
    return port.kind == PortName::Kind::Usb ? "USB" + std::to_string(port.number) + ":"
                                            : "LPT" + std::to_string(port.number);
}

}  // namespace

bool CheckPortName(const PortName& port, std::string* why) {
    if (port.kind == PortName::Kind::Device) {
        *why = "name a port: COMn, COMn:, \\\\.\\COMn, USBn: or LPTn";
        return false;
    }
    return true;
}

std::unique_ptr<Line> OpenLine(const PortName& port, int baud, std::string* error) {
    if (port.kind != PortName::Kind::Com) {
        const PortLibraryCalls* lib = PortLibrary(error);
        if (lib == nullptr) return nullptr;
        const std::string name = LibraryName(port);
        LibraryLock lock;
        lib->ClosePort(name.c_str());
        lib->SetComParam(name.c_str(), kLibraryBaud, 8, 'N', 1, kLibraryFlags);
        return std::make_unique<LibraryLine>(*lib, name);
    }
    // Every COM port through the device namespace: "COM10" and above
    // resolve no other way.
    const std::string device = "\\\\.\\COM" + std::to_string(port.number);
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = SystemError(("opening " + port.text).c_str());
        return nullptr;
    }
    auto line = std::make_unique<SerialLine>(h);
    // Reads return at once with whatever has come; writes have a bound.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, kReadSliceMs, kWritePerByteMs, kWriteConstantMs};
    if (!SetCommTimeouts(h, &timeouts)) {
        *error = SystemError("SetCommTimeouts");
        return nullptr;
    }
    if (!line->SetSpeed(baud, error)) return nullptr;
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return line;
}

}  // namespace morvane::cli

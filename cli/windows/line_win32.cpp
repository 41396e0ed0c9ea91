// The command's line on Windows: COM ports driven directly, with no flow
// control and time-outs of its own; USB and LPT ports through the port
// library, as the dialog reaches them. Windows opens a COM port for one
// program at a time already; a COM port gets back its line settings and
// time-outs when the command lets it go.
#include "cli/run/line.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "cli/run/deadline.h"
#include "cli/system/mutex.h"
#include "cli/net/tcp_line.h"
#include "cli/windows/port_library.h"
#include "cli/windows/system_error.h"
#include "common/scoped_handle.h"
#include "port/serial_port.h"
#include "protocol/exchange.h"

namespace morvane::cli {

namespace {

// A read returns at once with what has come, or after this long with
// nothing; the loop above it watches the deadline.
constexpr DWORD kReadSliceMs = 10;
// Writes: a constant and an allowance per byte, wide even at 2400 baud.
constexpr DWORD kWriteConstantMs = 500;
constexpr DWORD kWritePerByteMs = 10;
constexpr int kLibraryDrainCount = 64;

std::string SystemError(const char* what, DWORD code = GetLastError()) {
    return std::string(what) + ": " + SystemMessage(code);
}

// The settings of every COM port the command has open, as it found them.
struct Found {
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
};

class FoundSettings {
public:
    void Keep(HANDLE h, const Found& found) {
        std::lock_guard<Mutex> lock(mu_);
        found_[h] = found;
    }
    void Forget(HANDLE h) {
        std::lock_guard<Mutex> lock(mu_);
        found_.erase(h);
    }
    void RestoreAll() {
        std::lock_guard<Mutex> lock(mu_);
        for (auto& [h, found] : found_) Restore(h, found);
    }
    static void Restore(HANDLE h, Found& found) {
        SetCommState(h, &found.dcb);
        SetCommTimeouts(h, &found.timeouts);
    }

private:
    Mutex mu_;
    std::map<HANDLE, Found> found_;
};

FoundSettings& FoundLines() {
    static FoundSettings* found = new FoundSettings;  // used up to the last moment of the process
    return *found;
}

class SerialLine : public Line {
public:
    explicit SerialLine(HANDLE h) : port_(h), h_(h) {}
    ~SerialLine() override {
        if (!restore_) return;
        FoundSettings::Restore(h_, found_);
        FoundLines().Forget(h_);
    }

    // What the port had, put back when the line closes.
    bool KeepFound(std::string* error) {
        found_.dcb.DCBlength = sizeof found_.dcb;
        if (!GetCommState(h_, &found_.dcb) || !GetCommTimeouts(h_, &found_.timeouts)) {
            *error = SystemError("reading the port's settings");
            return false;
        }
        restore_ = true;
        FoundLines().Keep(h_, found_);
        return true;
    }

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

    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override {
        // What has come is read first, so that it can be looked at; the
        // read returns at once, for the bytes are there.
        DWORD errors = 0;
        COMSTAT status{};
        std::size_t dropped = 0;
        if (ClearCommError(h_, &errors, &status) && status.cbInQue > 0) {
            std::uint8_t drain[kKeptDiscard];
            DWORD got = 0;
            const DWORD want = std::min<DWORD>(status.cbInQue, sizeof drain);
            if (ReadFile(h_, drain, want, &got, nullptr) && got > 0) {
                dropped += got;
                if (kept != nullptr) kept->insert(kept->end(), drain, drain + got);
            }
            dropped += status.cbInQue > got ? status.cbInQue - got : 0;
        }
        PurgeComm(h_, PURGE_RXCLEAR);
        ClearCommError(h_, &errors, nullptr);
        return dropped;
    }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint, std::string* error) override {
        DWORD written = 0;
        const BOOL ok = WriteFile(h_, data, static_cast<DWORD>(size), &written, nullptr);
        if (ok && written == size) return true;
        *error = ok ? "the write timed out" : SystemError("WriteFile");  // before ClearCommError resets the error
        DWORD errors = 0;
        ClearCommError(h_, &errors, nullptr);
        return false;
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
    Found found_;
    bool restore_ = false;
};

// One call at a time on a port of the port library: a batch on several
// USB or LPT ports runs side by side, two threads never share one port.
class LibraryLock {
public:
    explicit LibraryLock(const std::string& name) : mu_(For(name)) { mu_.lock(); }
    ~LibraryLock() { mu_.unlock(); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

private:
    static Mutex& For(const std::string& name) {
        static Mutex* tableLock = new Mutex;
        static auto* table = new std::map<std::string, std::unique_ptr<Mutex>>;
        std::lock_guard<Mutex> lock(*tableLock);
        std::unique_ptr<Mutex>& mu = (*table)[name];
        if (!mu) mu = std::make_unique<Mutex>();
        return *mu;
    }
    Mutex& mu_;
};

// A USB or LPT port taken by this command among all programs of the
// session: a mutex named after the port, held while the line is open. (A
// COM port needs none: Windows opens one for one program at a time.)
class PortClaim {
public:
    // Nothing held when another program has the port.
    static std::unique_ptr<PortClaim> Take(const std::string& name) {
        const std::wstring mutexName = L"Local\\morvane-cli-port-" + std::wstring(name.begin(), name.end());
        ScopedHandle m(CreateMutexW(nullptr, FALSE, mutexName.c_str()));
        if (!m) return nullptr;
        const DWORD taken = WaitForSingleObject(m.Get(), 0);
        if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return nullptr;
        return std::unique_ptr<PortClaim>(new PortClaim(std::move(m)));
    }
    ~PortClaim() { ReleaseMutex(mutex_.Get()); }  // on the thread that took it: the job's
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

private:
    explicit PortClaim(ScopedHandle m) : mutex_(std::move(m)) {}
    ScopedHandle mutex_;
};

class LibraryLine : public Line {
public:
    LibraryLine(const PortLibraryCalls& lib, std::string name, std::unique_ptr<PortClaim> claim)
        : lib_(lib), name_(std::move(name)), claim_(std::move(claim)) {}
    ~LibraryLine() override {
        LibraryLock lock(name_);
        lib_.ClosePort(name_.c_str());
    }

    bool IsSerial() const override { return false; }
    bool SetSpeed(int, std::string*) override { return true; }

    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override {
        unsigned char drain[kLibraryDrainCount];
        LibraryLock lock(name_);
        const int n = std::clamp(lib_.ReadData(name_.c_str(), drain, sizeof drain), 0, kLibraryDrainCount);
        if (kept != nullptr) kept->insert(kept->end(), drain, drain + n);
        return static_cast<std::size_t>(n);
    }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint, std::string* error) override {
        int n = 0;
        {
            LibraryLock lock(name_);
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
                LibraryLock lock(name_);
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
    std::unique_ptr<PortClaim> claim_;  // let go after the port is closed
};

// The port library knows "USBn:" and "LPTn", the names of the dialog's list.
std::string LibraryName(const PortName& port) {
    return port.kind == PortName::Kind::Usb ? "USB" + std::to_string(port.number) + ":"
                                            : "LPT" + std::to_string(port.number);
}

// What a technician can do about a COM port that does not open.
std::string OpenError(const std::string& name, DWORD code, PortBusy* busy) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // Windows does not say which program has it.
            busy->busy = true;
            return name + ": in use by another program (Windows opens a COM port for one program at a time: " +
                   SystemMessage(code) + "); nothing was sent";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: {
            std::string names;
            for (const PortInfo& p : ListPorts()) names += (names.empty() ? "" : ", ") + p.name;
            return name + ": no such port; " + (names.empty() ? "this machine shows none" : "ports here: " + names);
        }
        default: return SystemError(("opening " + name).c_str(), code);
    }
}

}  // namespace

bool CheckPortName(const PortName& port, std::string* why) {
    if (port.kind == PortName::Kind::Device) {
        *why = "name a port: COMn, COMn:, \\\\.\\COMn, USBn: or LPTn";
        return false;
    }
    return true;
}

std::unique_ptr<Line> OpenLine(const PortName& port, int baud, std::string* error, PortBusy* busy) {
    PortBusy unused;
    if (busy == nullptr) busy = &unused;
    if (port.kind == PortName::Kind::Tcp) return OpenTcpLine(port, kDefaultConnectTimeout, error);
    if (port.kind != PortName::Kind::Com) {
        const PortLibraryCalls* lib = PortLibrary(error);
        if (lib == nullptr) return nullptr;
        const std::string name = LibraryName(port);
        std::unique_ptr<PortClaim> claim = PortClaim::Take(name);
        if (!claim) {
            busy->busy = true;
            busy->holder = "another morvane-cli";
            *error = name + ": in use by another morvane-cli; nothing was sent";
            return nullptr;
        }
        LibraryLock lock(name);
        lib->ClosePort(name.c_str());
        lib->SetComParam(name.c_str(), kLibraryLine.baud, kLibraryLine.dataBits, kLibraryLine.parity,
                         kLibraryLine.stopBits, kLibraryLine.flags);
        return std::make_unique<LibraryLine>(*lib, name, std::move(claim));
    }
    // Every COM port through the device namespace: "COM10" and above
    // resolve no other way.
    const std::string device = "\\\\.\\COM" + std::to_string(port.number);
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = OpenError(port.text, GetLastError(), busy);
        return nullptr;
    }
    auto line = std::make_unique<SerialLine>(h);
    if (!line->KeepFound(error)) return nullptr;
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

bool PortPresent(const PortName& port) {
    switch (port.kind) {
        case PortName::Kind::Tcp: return true;
        case PortName::Kind::Com: {
            // The device's name in the namespace, else an open that fails for
            // anything but its absence (another program may have it).
            char target[512];
            const std::string name = "COM" + std::to_string(port.number);
            if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) return true;
            ScopedHandle h(CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
            if (h) return true;
            const DWORD code = GetLastError();
            return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
        }
        case PortName::Kind::Usb:
        case PortName::Kind::Lpt: {
            std::string error;
            const PortLibraryCalls* lib = PortLibrary(&error);
            if (lib == nullptr) return false;
            const int count = port.kind == PortName::Kind::Usb ? lib->GetUSBPort() : lib->GetLPTMax();
            return port.number <= count;
        }
        case PortName::Kind::Device: break;
    }
    return false;
}

void RestoreOpenLines() { FoundLines().RestoreAll(); }

}  // namespace morvane::cli

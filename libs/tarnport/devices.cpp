#include "libs/tarnport/devices.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "libs/common/scoped_handle.h"

namespace tarnport {
namespace {

// Port numbers the library looks at: what the port list can show.
constexpr int kMaxPortNumber = 255;
// The Linux usblp driver hands out at most this many /dev/usb/lpN.
constexpr int kMaxUsbPrinters = 16;
// TarnPort.ini is small; anything larger is not ours.
constexpr DWORD kMaxIniBytes = 64 * 1024;

// The device interface class of USB printer-class devices (usbprint.h).
const GUID kUsbPrintInterface = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

const char* KindPrefix(PortKind kind) {
    switch (kind) {
    case PortKind::Com: return "COM";
    case PortKind::Usb: return "USB";
    case PortKind::Lpt: return "LPT";
    }
    return "";
}

std::string ReadSmallFile(const std::string& path) {
    const morvane::ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string text;
    DWORD size = GetFileSize(file.Get(), nullptr);
    if (size != INVALID_FILE_SIZE && size <= kMaxIniBytes) {
        text.resize(size);
        DWORD got = 0;
        if (!ReadFile(file.Get(), text.data(), size, &got, nullptr)) got = 0;
        text.resize(got);
    }
    return text;
}

// Every key=value of [Ports], keys upper-cased; later lines win.
std::vector<std::pair<std::string, std::string>> ReadPortsSection() {
    std::vector<std::pair<std::string, std::string>> entries;
    const std::string text = ReadSmallFile(IniPath());
    bool inPorts = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            inPorts = line.back() == ']' && Upper(Trim(line.substr(1, line.size() - 2))) == "PORTS";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inPorts || eq == std::string_view::npos) continue;
        const std::string key = Upper(Trim(line.substr(0, eq)));
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; }),
                      entries.end());
        if (!value.empty()) entries.emplace_back(key, std::string(value));
    }
    return entries;
}

int HighestMapped(PortKind kind) {
    int highest = 0;
    for (const auto& entry : ReadPortsSection()) {
        const auto port = ParsePortName(entry.first.c_str());
        if (port && port->kind == kind) highest = std::max(highest, port->number);
    }
    return highest;
}

// Whether a path names something. Wine refuses the attributes of character
// devices (ttys, /dev/usb/lpN) with ERROR_INVALID_PARAMETER; only "not found"
// means there is nothing, and a link whose device has gone is not found.
bool PathExists(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME;
}

std::string WineUsbPrinterPath(int index) { return "Z:\\dev\\usb\\lp" + std::to_string(index); }

// Wine's dosdevices folder as a Windows path ("Z:\\...\\dosdevices\\"), found
// from where drive C: lives; empty when that cannot be told.
std::string WineDosDevicesDir() {
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return {};
    char* drive = unixName(L"C:\\");
    if (drive == nullptr) return {};
    std::string path(drive);
    HeapFree(GetProcessHeap(), 0, drive);
    // ".../dosdevices/c:/" -> ".../dosdevices/"
    if (!path.empty() && path.back() == '/') path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    std::string windows = "Z:";
    for (char c : path) windows += c == '/' ? '\\' : c;
    return windows;
}

// COMn and LPTn as the system knows them. Wine's device namespace lists only
// the ports it found at start-up; a link added to dosdevices later (comN,
// lptN) still opens, so under Wine the links count as well.
int HighestDosDevice(PortKind kind) {
    const std::string wineLinks = RunningUnderWine() ? WineDosDevicesDir() : std::string();
    int highest = 0;
    char target[1024];
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%d", KindPrefix(kind), n);
        if (QueryDosDeviceA(name, target, sizeof target) != 0) {
            highest = n;
            continue;
        }
        if (wineLinks.empty()) continue;
        std::string link = wineLinks;
        for (const char* c = name; *c != '\0'; ++c) link += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (PathExists(link)) highest = n;
    }
    return highest;
}

int HighestWineUsbPrinter() {
    int highest = 0;
    for (int k = 0; k < kMaxUsbPrinters; ++k) {
        if (PathExists(WineUsbPrinterPath(k))) highest = k + 1;
    }
    return highest;
}

// A SetupDi device list, destroyed with its owner.
struct DeviceListTraits {
    using Type = HDEVINFO;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDeviceList = morvane::Scoped<DeviceListTraits>;

// The interface path of the index-th present USB printer; with index < 0,
// only counts them. Returns the count of interfaces seen.
int WalkUsbPrinters(int index, std::string* path) {
    const ScopedDeviceList list(
        SetupDiGetClassDevsA(&kUsbPrintInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) return 0;
    HDEVINFO set = list.Get();
    int count = 0;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterface, static_cast<DWORD>(count), &iface)) {
        if (count == index && path != nullptr) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, nullptr);
            if (needed >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
                std::vector<char> storage(needed);
                auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
                detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
                if (SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, nullptr)) {
                    *path = detail->DevicePath;
                }
            }
        }
        ++count;
    }
    return count;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

std::optional<PortId> ParsePortName(const char* name) {
    if (name == nullptr) return std::nullopt;
    std::string_view text(name);
    if (!text.empty() && text.back() == ':') text.remove_suffix(1);
    if (text.size() < 4 || text.size() > 6) return std::nullopt;
    const std::string prefix = Upper(text.substr(0, 3));
    PortKind kind;
    if (prefix == "COM") kind = PortKind::Com;
    else if (prefix == "USB") kind = PortKind::Usb;
    else if (prefix == "LPT") kind = PortKind::Lpt;
    else return std::nullopt;
    int number = 0;
    for (char c : text.substr(3)) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > kMaxPortNumber) return std::nullopt;
    return PortId{kind, number, prefix + std::to_string(number)};
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string IniPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(ThisModule(), path, sizeof path);
    if (length == 0 || length >= sizeof path) return "TarnPort.ini";
    std::string dir(path, length);
    const std::size_t slash = dir.find_last_of("\\/");
    dir.resize(slash == std::string::npos ? 0 : slash + 1);
    return dir + "TarnPort.ini";
}

std::optional<std::string> MappedDevice(std::string_view key) {
    const std::string wanted = Upper(key);
    for (const auto& entry : ReadPortsSection()) {
        if (entry.first == wanted) return entry.second;
    }
    return std::nullopt;
}

std::string DevicePathFor(const PortId& port) {
    if (auto mapped = MappedDevice(port.key)) return *mapped;
    switch (port.kind) {
    case PortKind::Com:
    case PortKind::Lpt:
        // The device namespace reaches every number, not only 1..9.
        return "\\\\.\\" + port.key;
    case PortKind::Usb:
        if (RunningUnderWine()) return WineUsbPrinterPath(port.number - 1);
        {
            std::string path;
            WalkUsbPrinters(port.number - 1, &path);
            return path;
        }
    }
    return {};
}

int CountPorts(PortKind kind) {
    int found = 0;
    switch (kind) {
    case PortKind::Com:
    case PortKind::Lpt: found = HighestDosDevice(kind); break;
    case PortKind::Usb: found = RunningUnderWine() ? HighestWineUsbPrinter() : WalkUsbPrinters(-1, nullptr); break;
    }
    return std::max(found, HighestMapped(kind));
}

}  // namespace tarnport

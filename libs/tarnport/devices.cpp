#include "libs/tarnport/devices.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "common/module_folder.h"
#include "common/scoped_handle.h"
#include "libs/tarnport/ini_parse.h"
#include "libs/tarnport/text.h"
#include "libs/tarnport/wine_path.h"

namespace tarnport {
namespace {

// The Linux usblp driver hands out at most this many /dev/usb/lpN.
constexpr int kMaxUsbPrinters = 16;
// TarnPort.ini is small; anything larger is not ours.
constexpr DWORD kMaxIniBytes = 64 * 1024;

// The device interface class of USB printer-class devices (usbprint.h).
const GUID kUsbPrintInterface = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::string ReadSmallFile(const std::wstring& path) {
    if (path.empty()) return {};
    const morvane::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

// The [Ports] mappings of TarnPort.ini as it is now.
IniEntries ReadPortsSection() { return ParsePortsSection(ReadSmallFile(IniPath())); }

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
    return WinePathOf(path);
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
        for (const char* c = name; *c != '\0'; ++c)
            link += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
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
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring IniPath() {
    // Only ever beside this DLL: when its folder cannot be had, no ini.
    const std::wstring folder = morvane::ModuleFolder(ThisModule());
    return folder.empty() ? std::wstring() : folder + L"TarnPort.ini";
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

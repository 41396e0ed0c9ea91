// The machine's ports on Windows: the serial ports the system has mapped
// (HARDWARE\DEVICEMAP\SERIALCOMM), who they are from their devices'
// instance ids (SetupAPI), and the USB and LPT ports the port library
// counts, USB printers with their devices' ids in the same order.
#include <windows.h>

#include <initguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>

#include "cli/ports/instance_id.h"
#include "cli/run/line.h"
#include "cli/windows/port_library.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

constexpr int kMaxLibraryPorts = 255;

// GUID_DEVINTERFACE_COMPORT and GUID_DEVINTERFACE_USBPRINT.
DEFINE_GUID(kComPortInterface, 0x86E0D1E0, 0x8089, 0x11D0, 0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73);
DEFINE_GUID(kUsbPrintInterface, 0x28D78FAD, 0x5A12, 0x11D1, 0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2);

struct DeviceListTraits {
    using Type = HDEVINFO;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) { SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDeviceList = Scoped<DeviceListTraits>;

// What the driver's device name ("\\Device\\USBSER000") says of the port.
PortClass ClassOfDevice(const std::string& device) {
    if (device.find("USBSER") != std::string::npos) return PortClass::UsbAcm;
    if (device.find("BthModem") != std::string::npos) return PortClass::Bluetooth;
    if (device.rfind("\\Device\\Serial", 0) == 0) return PortClass::Serial;
    return PortClass::UsbSerial;  // an adapter's own driver: VCP, Prolific, Silabs, ...
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - 1, nullptr) ||
        type != REG_SZ)
        return {};
    return text;
}

struct Device {
    PortIdentity identity;
    std::string description;
};

Device DeviceOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    Device d;
    char instance[512] = {};
    if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance - 1, nullptr))
        AddInstanceIdentity(instance, &d.identity);
    d.identity.manufacturer = Property(set, device, SPDRP_MFG);
    d.identity.driver = Property(set, device, SPDRP_SERVICE);
    d.description = Property(set, device, SPDRP_FRIENDLYNAME);
    if (d.description.empty()) d.description = Property(set, device, SPDRP_DEVICEDESC);
    return d;
}

// The present devices of an interface, in the system's order, with the
// COM name of each (empty for other interfaces).
std::vector<std::pair<std::string, Device>> Devices(const GUID& interfaceClass) {
    std::vector<std::pair<std::string, Device>> devices;
    const ScopedDeviceList list(
        SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) return devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list.Get(), i, &device); ++i) {
        std::string name;
        HKEY opened = SetupDiOpenDevRegKey(list.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (opened != INVALID_HANDLE_VALUE) {
            const ScopedRegistryKey key(opened);
            char value[64] = {};
            DWORD size = sizeof value - 1;
            DWORD type = 0;
            if (RegQueryValueExA(key.Get(), "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ)
                name = value;
        }
        devices.emplace_back(name, DeviceOf(list.Get(), device));
    }
    return devices;
}

// Whether another program has the COM port open: Windows opens one for
// one program at a time.
PortAccess AccessOf(const std::string& name) {
    const std::string device = "\\\\.\\" + name;
    const ScopedHandle h(
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (h) return PortAccess::Ok;
    return GetLastError() == ERROR_ACCESS_DENIED ? PortAccess::InUse : PortAccess::Ok;
}

std::vector<PortInfo> SerialPorts() {
    std::vector<PortInfo> ports;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return ports;
    const ScopedRegistryKey key(opened);
    for (DWORD i = 0;; ++i) {
        char device[256];
        char name[64];
        DWORD deviceSize = sizeof device;
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        const LONG r =
            RegEnumValueA(key.Get(), i, device, &deviceSize, nullptr, &type, reinterpret_cast<BYTE*>(name), &nameSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        name[std::min<DWORD>(nameSize, sizeof name - 1)] = '\0';
        PortInfo info;
        info.name = name;
        info.path = "\\\\.\\" + info.name;
        info.description = std::string("serial port (") + device + ")";
        info.kind = ClassOfDevice(device);
        info.serial = true;
        ports.push_back(info);
    }
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    std::map<std::string, Device> known;
    for (auto& [name, device] : Devices(kComPortInterface))
        if (!name.empty()) known[name] = device;
    for (PortInfo& p : ports) {
        if (const auto found = known.find(p.name); found != known.end()) {
            p.identity = found->second.identity;
            if (!found->second.description.empty()) p.description = found->second.description;
            if (!p.identity.btAddress.empty()) p.kind = PortClass::Bluetooth;
        }
    }
    return ports;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports = SerialPorts();
    std::string error;
    if (const PortLibraryCalls* lib = PortLibrary(&error)) {
        const auto printers = Devices(kUsbPrintInterface);
        const int usb = std::clamp(lib->GetUSBPort(), 0, kMaxLibraryPorts);
        for (int i = 1; i <= usb; ++i) {
            PortInfo info;
            info.name = "USB" + std::to_string(i) + ":";
            info.description = "USB printer, through the port library";
            info.kind = PortClass::UsbPrinter;
            if (static_cast<std::size_t>(i) <= printers.size()) {
                info.identity = printers[static_cast<std::size_t>(i - 1)].second.identity;
                if (!printers[static_cast<std::size_t>(i - 1)].second.description.empty())
                    info.description = printers[static_cast<std::size_t>(i - 1)].second.description;
            }
            ports.push_back(info);
        }
        const int lpt = std::clamp(lib->GetLPTMax(), 0, kMaxLibraryPorts);
        for (int i = 1; i <= lpt; ++i) {
            PortInfo info;
            info.name = "LPT" + std::to_string(i);
            info.path = "\\\\.\\" + info.name;
            info.description = "parallel port, through the port library";
            info.kind = PortClass::Parallel;
            ports.push_back(info);
        }
    }
    return ports;
}

// Opening a COM port raises its lines, and an outgoing Bluetooth port
// would try to connect: only `ports` asks, and never of Bluetooth ports.
void AddOpenedAccess(std::vector<PortInfo>* ports) {
    for (PortInfo& p : *ports)
        if (p.serial && p.kind != PortClass::Bluetooth) p.access = AccessOf(p.name);
}

}  // namespace morvane::cli

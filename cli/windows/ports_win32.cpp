// The machine's ports on Windows: the serial ports the system has mapped
// (HARDWARE\DEVICEMAP\SERIALCOMM), and the USB and LPT ports the port
// library counts.
#include <windows.h>

#include <algorithm>

#include "cli/line.h"
#include "cli/windows/port_library.h"
#include "libs/common/scoped_handle.h"

namespace morvane::cli {

namespace {

constexpr int kMaxLibraryPorts = 255;

// What the driver's device name ("\\Device\\USBSER000") says of the port.
PortClass ClassOfDevice(const std::string& device) {
    if (device.find("USBSER") != std::string::npos) return PortClass::UsbAcm;
    if (device.find("BthModem") != std::string::npos) return PortClass::Bluetooth;
    if (device.rfind("\\Device\\Serial", 0) == 0) return PortClass::Serial;
    return PortClass::UsbSerial;  // an adapter's own driver: VCP, Prolific, Silabs, ...
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
        ports.push_back({name, std::string("serial port (") + device + ")", ClassOfDevice(device), true});
    }
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return ports;
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports = SerialPorts();
    std::string error;
    if (const PortLibraryCalls* lib = PortLibrary(&error)) {
        const int usb = std::clamp(lib->GetUSBPort(), 0, kMaxLibraryPorts);
        for (int i = 1; i <= usb; ++i)
            ports.push_back({"USB" + std::to_string(i) + ":", "USB printer, through the port library",
                             PortClass::UsbPrinter, false});
        const int lpt = std::clamp(lib->GetLPTMax(), 0, kMaxLibraryPorts);
        for (int i = 1; i <= lpt; ++i)
            ports.push_back(
                {"LPT" + std::to_string(i), "parallel port, through the port library", PortClass::Parallel, false});
    }
    return ports;
}

}  // namespace morvane::cli

#include "cli/posix/printer_devices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace morvane::cli {

namespace fs = std::filesystem;

namespace {

// How far up from a port's device the USB device may stand.
constexpr int kMaxParents = 8;
constexpr char kPrinterClass[] = "07";

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n')) line.pop_back();
    return line;
}

// The USB device (the folder with idVendor) at or above `at`.
fs::path UsbDeviceAbove(fs::path at) {
    std::error_code ec;
    for (int i = 0; i < kMaxParents && !at.empty() && at != at.root_path(); ++i, at = at.parent_path())
        if (fs::exists(at / "idVendor", ec)) return at;
    return {};
}

PrinterDevice& DeviceAt(const fs::path& dir, std::vector<PrinterDevice>* devices) {
    for (PrinterDevice& d : *devices)
        if (d.sysfsDir == dir.string()) return d;
    PrinterDevice d;
    d.sysfsDir = dir.string();
    d.busPath = dir.filename().string();
    d.identity.vendorId = FirstLine(dir / "idVendor");
    d.identity.productId = FirstLine(dir / "idProduct");
    d.identity.serial = FirstLine(dir / "serial");
    d.identity.manufacturer = FirstLine(dir / "manufacturer");
    d.identity.product = FirstLine(dir / "product");
    devices->push_back(d);
    return devices->back();
}

void AddPrinterInterface(const fs::path& interface, std::vector<PrinterDevice>* devices) {
    const fs::path dir = UsbDeviceAbove(interface.parent_path());
    if (dir.empty()) return;
    PrinterDevice& d = DeviceAt(dir, devices);
    if (d.printerInterface) return;  // its first printer interface speaks for it
    d.printerInterface = true;
    std::error_code ec;
    const fs::path driver = fs::read_symlink(interface / "driver", ec);
    if (!ec) d.printerDriver = driver.filename().string();
    d.ieee1284 = FirstLine(interface / "ieee1284_id");
    for (fs::directory_iterator it(interface / "usbmisc", ec), end; !ec && it != end; it.increment(ec)) {
        d.lp = "/dev/usb/" + it->path().filename().string();
        break;
    }
}

}  // namespace

std::string SelectorOf(const PrinterDevice& device) {
    return "usb:" + device.identity.vendorId + ":" + device.identity.productId;
}

std::string NameOf(const PrinterDevice& device) {
    if (!device.ports.empty()) return device.ports.front();
    if (!device.lp.empty()) return device.lp;
    return "USB device " + device.busPath + " (" + device.identity.vendorId + ":" + device.identity.productId + ")";
}

std::vector<PrinterDevice> PrinterDevices(const std::string& root, const std::vector<PortInfo>& ports) {
    std::vector<PrinterDevice> devices;
    std::error_code ec;
    for (const PortInfo& p : ports) {
        if (!ProbedByDefault(p.kind)) continue;
        const std::string name = fs::path(p.path).filename().string();
        const fs::path entry =
            fs::path(root + (p.kind == PortClass::UsbPrinter ? "/sys/class/usbmisc/" : "/sys/class/tty/")) / name;
        const fs::path device = fs::canonical(entry / "device", ec);
        if (ec) {
            ec.clear();
            continue;
        }
        const fs::path dir = UsbDeviceAbove(device);
        if (dir.empty()) continue;  // a Bluetooth port: no USB device
        PrinterDevice& d = DeviceAt(dir, &devices);
        if (std::find(d.ports.begin(), d.ports.end(), p.name) == d.ports.end()) d.ports.push_back(p.name);
    }
    std::vector<fs::path> interfaces;
    for (fs::directory_iterator it(fs::path(root + "/sys/bus/usb/devices"), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().find(':') == std::string::npos) continue;  // a device, not an interface
        if (FirstLine(it->path() / "bInterfaceClass") != kPrinterClass) continue;
        std::error_code linkEc;
        const fs::path interface = fs::canonical(it->path(), linkEc);
        if (!linkEc) interfaces.push_back(interface);
    }
    std::sort(interfaces.begin(), interfaces.end());
    for (const fs::path& interface : interfaces) AddPrinterInterface(interface, &devices);
    return devices;
}

}  // namespace morvane::cli

// The machine's ports on POSIX: serial ports from libserialport (with what
// it knows of the USB adapter or Bluetooth peer), USB printers from sysfs
// (/dev/usb/lpN), parallel ports from /dev/lpN; sysfs adds the driver, the
// by-id link and the access of each. With MORVANE_SYSFS_ROOT the serial
// ports too come from that recorded tree.
#include <libserialport.h>

#include <sys/stat.h>

#include <cstdio>

#include "cli/run/line.h"
#include "cli/posix/sysfs_ports.h"

namespace morvane::cli {

namespace {

constexpr int kMaxParallelPorts = 16;

std::string Text(const char* part) { return part != nullptr ? part : ""; }

PortInfo FromSerialPort(sp_port* port) {
    PortInfo info;
    info.name = info.path = sp_get_port_name(port);
    info.serial = true;
    PortIdentity& id = info.identity;
    switch (sp_get_port_transport(port)) {
        case SP_TRANSPORT_USB: {
            info.kind = PortClass::UsbSerial;
            int vid = 0, pid = 0;
            if (sp_get_port_usb_vid_pid(port, &vid, &pid) == SP_OK) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "%04x", vid & 0xFFFF);
                id.vendorId = hex;
                std::snprintf(hex, sizeof hex, "%04x", pid & 0xFFFF);
                id.productId = hex;
            }
            id.serial = Text(sp_get_port_usb_serial(port));
            id.manufacturer = Text(sp_get_port_usb_manufacturer(port));
            id.product = Text(sp_get_port_usb_product(port));
            break;
        }
        case SP_TRANSPORT_BLUETOOTH:
            info.kind = PortClass::Bluetooth;
            id.btAddress = Text(sp_get_port_bluetooth_address(port));
            break;
        default: info.kind = PortClass::Serial; break;
    }
    info.description = Text(sp_get_port_description(port));
    return info;
}

std::vector<PortInfo> SerialPorts(const std::string& root) {
    std::vector<PortInfo> ports;
    if (!root.empty()) {
        for (const std::string& name : SysfsTtyNames(root)) {
            PortInfo info;
            info.name = info.path = "/dev/" + name;
            info.serial = true;
            ports.push_back(info);
        }
        return ports;
    }
    sp_port** list = nullptr;
    if (sp_list_ports(&list) == SP_OK) {
        for (sp_port** p = list; *p != nullptr; ++p) ports.push_back(FromSerialPort(*p));
        sp_free_port_list(list);
    }
    return ports;
}

// "Prolific USB-Serial Controller", or what the kind says.
std::string Described(const PortInfo& p) {
    std::string text = p.identity.manufacturer;
    if (!p.identity.product.empty()) text += (text.empty() ? "" : " ") + p.identity.product;
    if (!text.empty()) return text;
    if (!p.description.empty()) return p.description;
    return p.kind == PortClass::Serial ? "serial port" : PortClassName(p.kind);
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    const std::string root = SysfsRoot();
    std::vector<PortInfo> ports = SerialPorts(root);
    for (PortInfo& p : ports) AddSysfsIdentity(root, p.path.substr(p.path.find_last_of('/') + 1), false, &p);
    const std::vector<std::string> printers = SysfsUsbPrinterNames(root);
    for (const std::string& name : printers) {
        if (name.size() < 3 || name.find_first_not_of("0123456789", 2) != std::string::npos) continue;
        PortInfo info;
        // USBn: is the n-th USB printer, /dev/usb/lp(n-1).
        info.name = "USB" + std::to_string(std::stoi(name.substr(2)) + 1) + ":";
        info.path = "/dev/usb/" + name;
        AddSysfsIdentity(root, name, true, &info);
        ports.push_back(info);
    }
    for (int i = 0; i < kMaxParallelPorts; ++i) {
        const std::string path = "/dev/lp" + std::to_string(i);
        struct stat st {};
        if (stat((root + path).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        PortInfo info;
        info.name = "LPT" + std::to_string(i + 1);
        info.path = path;
        info.kind = PortClass::Parallel;
        ports.push_back(info);
    }
    for (PortInfo& p : ports) {
        p.description = Described(p);
        AddAccess(root, p.path, &p);
    }
    return ports;
}

// The access of every port is known without opening it (sysfs, locks).
void AddOpenedAccess(std::vector<PortInfo>*) {}

}  // namespace morvane::cli

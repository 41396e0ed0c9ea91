// The machine's ports on POSIX: serial ports from libserialport (with the
// USB adapter's maker and product where it has them), USB printers from
// /dev/usb/lpN and parallel ports from /dev/lpN.
#include <libserialport.h>

#include <sys/stat.h>

#include "cli/line.h"

namespace morvane::cli {

namespace {

constexpr int kMaxDeviceFiles = 16;

std::string SerialDescription(sp_port* port) {
    std::string text;
    const auto add = [&](const char* part) {
        if (part != nullptr && *part != '\0') text += (text.empty() ? "" : " ") + std::string(part);
    };
    if (sp_get_port_transport(port) == SP_TRANSPORT_USB) {
        add(sp_get_port_usb_manufacturer(port));
        add(sp_get_port_usb_product(port));
        if (text.empty()) add(sp_get_port_description(port));
        return "USB serial: " + (text.empty() ? std::string("unknown adapter") : text);
    }
    add(sp_get_port_description(port));
    return text.empty() ? "serial port" : text;
}

PortClass SerialClass(sp_port* port) {
    switch (sp_get_port_transport(port)) {
        case SP_TRANSPORT_USB: {
            const std::string name = sp_get_port_name(port);
            return name.find("ttyACM") != std::string::npos ? PortClass::UsbAcm : PortClass::UsbSerial;
        }
        case SP_TRANSPORT_BLUETOOTH: return PortClass::Bluetooth;
        default: return PortClass::Serial;
    }
}

void AddDeviceFiles(std::vector<PortInfo>* ports, const char* pattern, const char* name, const char* suffix,
                    const char* what, PortClass kind) {
    for (int i = 0; i < kMaxDeviceFiles; ++i) {
        const std::string path = pattern + std::to_string(i);
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        ports->push_back({name + std::to_string(i + 1) + suffix, std::string(what) + " " + path, kind, false});
    }
}

}  // namespace

std::vector<PortInfo> ListPorts() {
    std::vector<PortInfo> ports;
    sp_port** list = nullptr;
    if (sp_list_ports(&list) == SP_OK) {
        for (sp_port** p = list; *p != nullptr; ++p)
            ports.push_back({sp_get_port_name(*p), SerialDescription(*p), SerialClass(*p), true});
        sp_free_port_list(list);
    }
    AddDeviceFiles(&ports, "/dev/usb/lp", "USB", ":", "USB printer", PortClass::UsbPrinter);
    AddDeviceFiles(&ports, "/dev/lp", "LPT", "", "parallel port", PortClass::Parallel);
    return ports;
}

}  // namespace morvane::cli

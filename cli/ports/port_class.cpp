#include "cli/ports/port_info.h"

namespace morvane::cli {

const char* PortClassName(PortClass kind) {
    switch (kind) {
        case PortClass::UsbSerial: return "usb-serial";
        case PortClass::UsbAcm: return "usb-acm";
        case PortClass::Bluetooth: return "bluetooth";
        case PortClass::UsbPrinter: return "usb-printer";
        case PortClass::Parallel: return "parallel";
        case PortClass::Serial: return "serial";
    }
    return "serial";
}

bool ProbedByDefault(PortClass kind) {
    return kind == PortClass::UsbSerial || kind == PortClass::UsbAcm || kind == PortClass::Bluetooth ||
           kind == PortClass::UsbPrinter;
}

const char* PortAccessName(PortAccess access) {
    switch (access) {
        case PortAccess::Ok: return "ok";
        case PortAccess::NoPermission: return "no-permission";
        case PortAccess::InUse: return "in-use";
    }
    return "ok";
}

}  // namespace morvane::cli

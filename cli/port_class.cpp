#include "cli/line.h"

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

}  // namespace morvane::cli

// The USB devices printers hang on, as sysfs shows them: the device behind
// each printer port, and every device with a printer-class interface
// (whatever driver has it, if any). Read under a root, as sysfs_ports.h.
#pragma once
#include <string>
#include <vector>

#include "cli/ports/port_info.h"

namespace morvane::cli {

struct PrinterDevice {
    std::string sysfsDir;            // the USB device's folder, under the root
    std::string busPath;             // where it is plugged in: "1-1.3"
    PortIdentity identity;           // its ids and strings
    std::vector<std::string> ports;  // the printer ports on it: "/dev/ttyUSB0"
    bool printerInterface = false;   // it has a printer-class interface
    std::string printerDriver;       // that interface's driver ("usblp"); empty: none
    std::string lp;                  // "/dev/usb/lp0", where usblp made one
    std::string ieee1284;            // the IEEE 1284 device id usblp read from it
};

// "usb:0416:5011": the selector for a rule about it.
std::string SelectorOf(const PrinterDevice& device);
// Its printer port, else "USB device 1-1.3 (0416:5011)".
std::string NameOf(const PrinterDevice& device);

// In the order of the ports, then of sysfs.
std::vector<PrinterDevice> PrinterDevices(const std::string& root, const std::vector<PortInfo>& ports);

}  // namespace morvane::cli

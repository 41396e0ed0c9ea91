// The print system's queues (CUPS) and which USB printer each one holds:
// read from /etc/cups/printers.conf, or from `lpstat -v` where that file
// is the print system's alone.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace morvane::cli {

struct PrintQueue {
    std::string name;
    std::string uri;  // "usb://Winbond/Receipt%20Printer?serial=PRN43"
};

// <Printer NAME> ... DeviceURI URI ... </Printer> (and <DefaultPrinter>).
std::vector<PrintQueue> ParsePrintersConf(const std::string& text);
// "device for NAME: URI", a line each, as `LC_ALL=C lpstat -v` writes them.
std::vector<PrintQueue> ParseLpstatDevices(const std::string& text);

// What a usb:// URI names: the make and model of the printer's IEEE 1284
// device id, and its serial number when the URI has one.
struct UsbQueueTarget {
    std::string make;
    std::string model;
    std::string serial;
};
std::optional<UsbQueueTarget> ParseUsbUri(const std::string& uri);

// What is known of a USB printer plugged in: its USB strings and the IEEE
// 1284 device id usblp read from it ("MFG:Winbond;MDL:Receipt Printer;...").
struct UsbPrinterNames {
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string ieee1284;
};
// Whether the queue's URI names that printer: by serial number where the
// URI has one, else by make and model.
bool QueueNames(const UsbQueueTarget& target, const UsbPrinterNames& printer);

}  // namespace morvane::cli

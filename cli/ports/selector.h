// Ports named by who they are rather than where they hang today:
//   usb:VVVV:PPPP          every port of that USB vendor and product id
//   usb:VVVV:PPPP:SERIAL   the one with that serial number
//   usb:VVVV:*             every port of that vendor, whatever the product
//   bt:AA:BB:CC:DD:EE:FF   the rfcomm port bound to that Bluetooth address
//   a glob                 every path that matches, such as
//                          /dev/serial/by-id/usb-*Printer*
// and, for the station, a plain port name (COM5, USB1:, /dev/ttyUSB0): the
// port whenever it is there.
#pragma once
#include "cli/ports/glob_pattern.h"
#include <optional>
#include <string>
#include <string_view>

#include "cli/ports/port_info.h"

namespace morvane::cli {

struct Selector {
    enum class Kind { Usb, Bluetooth, Glob, Named } kind = Kind::Glob;
    std::string text;       // as given
    std::string vendorId;   // Usb: four hex digits, lower case
    std::string productId;  // Usb: empty for every product
    std::string serial;     // Usb: empty for every serial number
    std::string address;    // Bluetooth: upper case
};

// Nothing for a plain port name. *error is set when the text is meant as a
// selector but is malformed ("usb:41:x").
std::optional<Selector> ParseSelector(std::string_view text, std::string* error);

// Whether a usb: or bt: selector names this port.
bool Matches(const Selector& selector, const PortInfo& port);

}  // namespace morvane::cli

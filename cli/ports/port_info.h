// Who a port is: what kind of line, which USB device or Bluetooth peer
// stands behind it, and whether this user may open it now. `ports` shows
// it, selectors match on it, the journal keeps it.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace morvane::cli {

// What a port is, as far as the system tells.
enum class PortClass { UsbSerial, UsbAcm, Bluetooth, UsbPrinter, Parallel, Serial };
const char* PortClassName(PortClass kind);  // "usb-serial", "usb-acm", ...
// Ports that `probe` tries, and `watch` takes, when none is named: those a
// printer is plugged into. Plain serial ports (/dev/ttyS*: consoles,
// modems) only when named.
bool ProbedByDefault(PortClass kind);

// What the system knows of the device behind a port; empty when not known.
struct PortIdentity {
    std::string vendorId;   // USB, four hex digits: "0416"
    std::string productId;  // "5011"
    std::string serial;     // the USB serial number
    std::string manufacturer;
    std::string product;
    std::string driver;     // the kernel's or Windows' driver: "cp210x", "usbser"
    std::string byId;       // /dev/serial/by-id/... pointing at it
    std::string btAddress;  // a Bluetooth port's peer: "00:11:22:33:44:55"
    // Where a USB device is plugged in: its port path ("1-1.3", bus 1, hub
    // port 1, port 3), the same whatever device is plugged there.
    std::string usbPath;
};

// Each field that is known, under its name in `ports --json` and the
// journal: add(name, value).
template <typename Add>
void ForEachIdentityField(const PortIdentity& id, Add add) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"vendor_id", &id.vendorId},   {"product_id", &id.productId},
        {"serial_number", &id.serial}, {"manufacturer", &id.manufacturer},
        {"product", &id.product},      {"driver", &id.driver},
        {"by_id", &id.byId},           {"bt_address", &id.btAddress},
        {"usb_path", &id.usbPath},
    };
    for (const auto& [name, value] : fields)
        if (!value->empty()) add(name, *value);
}

enum class PortAccess { Ok, NoPermission, InUse };
const char* PortAccessName(PortAccess access);  // "ok", "no-permission", "in-use"

struct PortInfo {
    std::string name;         // as the command takes it: "/dev/ttyUSB0", "USB1:", "COM3"
    std::string path;         // the device behind it: "/dev/usb/lp0", "\\.\COM3"
    std::string description;  // e.g. the USB adapter's maker and product
    PortClass kind = PortClass::Serial;
    bool serial = false;  // a line with a speed
    PortIdentity identity;
    PortAccess access = PortAccess::Ok;
    std::string group;  // no-permission: the group that may open it
};

}  // namespace morvane::cli

// Port names as the program hands them to the system, and as the port
// library reads them.
#include <gtest/gtest.h>

#include "libs/tarnport/port_name.h"
#include "port/serial_device_name.h"

namespace {

TEST(SerialDeviceName, OnlyCom10AndAboveGoThroughTheDeviceNamespace) {
    const struct {
        const char* given;
        const char* expected;
    } cases[] = {
        {"COM1:", "COM1:"},         {"COM9:", "COM9:"},         {"COM3", "COM3"},
        {"COM10:", "\\\\.\\COM10"}, {"COM12:", "\\\\.\\COM12"}, {"COM255:", "\\\\.\\COM255"},
        {"COM10", "\\\\.\\COM10"},  {"COM010:", "COM010:"},  // a leading zero names no port
        {"USB1:", "USB1:"},         {"LPT1", "LPT1"},           {"", ""},
        {"COM:", "COM:"},           {"COM1x:", "COM1x:"},       {"com12:", "\\\\.\\COM12"},
        {"xCOM12:", "xCOM12:"},     {"COM12::", "COM12::"},     {"COM123456:", "COM123456:"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(morvane::SerialDeviceName(c.given), c.expected) << "for \"" << c.given << "\"";
    }
}

TEST(PortName, KindNumberAndKey) {
    using tarnport::PortKind;
    const struct {
        const char* given;
        PortKind kind;
        int number;
        const char* key;
    } good[] = {
        {"USB1:", PortKind::Usb, 1, "USB1"},          {"usb1", PortKind::Usb, 1, "USB1"},
        {"LPT2", PortKind::Lpt, 2, "LPT2"},           {"Com255:", PortKind::Com, 255, "COM255"},
        {"\\\\.\\COM12", PortKind::Com, 12, "COM12"},
    };
    for (const auto& c : good) {
        const auto id = tarnport::ParsePortName(c.given);
        ASSERT_TRUE(id.has_value()) << c.given;
        EXPECT_EQ(id->kind, c.kind) << c.given;
        EXPECT_EQ(id->number, c.number) << c.given;
        EXPECT_EQ(id->key, c.key) << c.given;
    }
    for (const char* bad : {"", "USB", "USB0:", "XYZ1", "USB1:extra", "COM", "LPT256", "USB1::", "USB-1", "USB 1",
                            "USB1000", "LPT007", "COM001", "\\\\.\\USB1", "\\\\.\\COM3:"}) {
        EXPECT_FALSE(tarnport::ParsePortName(bad).has_value()) << "\"" << bad << "\"";
    }
    EXPECT_FALSE(tarnport::ParsePortName(nullptr).has_value());
}

}  // namespace

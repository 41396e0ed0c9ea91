// Selectors as the user writes them, and the glob matching they rest on.
#include "cli/ports/selector.h"

#include <gtest/gtest.h>

namespace {

using namespace morvane::cli;

TEST(Selector, MalformedOnesAreToldAndPlainNamesAreNone) {
    for (const char* bad :
         {"usb:", "usb:416:5011", "usb:0416", "usb:0416:50g1", "usb:0416:5011:", "usb:0416:5*", "usb:*:5011",
          "usb:0416:**", "bt:00:11:22", "bt:00:11:22:33:44:5", "bt:00-11-22-33-44-55", "bt:00:11:22:33:44:55:66"}) {
        std::string error;
        EXPECT_FALSE(ParseSelector(bad, &error).has_value()) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << bad << ": " << error;
    }
    for (const char* plain : {"/dev/ttyUSB0", "COM3", "USB1:", "tcp://10.0.0.5"}) {
        std::string error;
        EXPECT_FALSE(ParseSelector(plain, &error).has_value()) << plain;
        EXPECT_TRUE(error.empty()) << plain << ": " << error;
    }
}

TEST(Selector, AUsbSelectorNamesAMakerAProductAndASerial) {
    const struct {
        const char* text;
        const char* vendor;
        const char* product;
        const char* serial;
    } cases[] = {
        {"usb:0416:5011", "0416", "5011", ""},
        {"USB:10C4:EA60:PRN42", "10c4", "ea60", "PRN42"},
        {"usb:0416:*", "0416", "", ""},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto s = ParseSelector(c.text, &error);
        ASSERT_TRUE(s.has_value()) << c.text << ": " << error;
        EXPECT_EQ(s->vendorId, c.vendor) << c.text;
        EXPECT_EQ(s->productId, c.product) << c.text;
        EXPECT_EQ(s->serial, c.serial) << c.text;
    }
}

TEST(Selector, GlobsMatchAsTheShellDoes) {
    const struct {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"/dev/serial/by-id/usb-*Printer*", "/dev/serial/by-id/usb-Winbond_Printer_PRN42-if00", true},
        {"/dev/serial/by-id/usb-*Printer*", "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", false},
        {"/dev/ttyUSB?", "/dev/ttyUSB3", true},
        {"/dev/ttyUSB?", "/dev/ttyUSB12", false},
        {"/dev/tty[AU]*", "/dev/ttyACM0", true},
        {"/dev/tty[!AU]*", "/dev/ttyACM0", false},
        {"COM[1-3]", "COM2", true},
        {"COM[1-3]", "COM4", false},
        {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},  // no blow-up on backtracking
        {"[unclosed", "[unclosed", true},
        {"", "", true},
    };
    for (const auto& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << c.pattern << " ~ " << c.text;
}

}  // namespace

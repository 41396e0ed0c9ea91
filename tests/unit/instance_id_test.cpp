// What the command makes of a Windows device instance id.
#include "cli/ports/instance_id.h"

#include <gtest/gtest.h>

namespace {

using morvane::cli::AddInstanceIdentity;
using morvane::cli::PortIdentity;

TEST(InstanceId, IdsSerialNumbersAndBluetoothAddresses) {
    const struct {
        const char* id;
        const char* vendor;
        const char* product;
        const char* serial;
        const char* address;
    } cases[] = {
        {"USB\\VID_0416&PID_5011\\PRN42", "0416", "5011", "PRN42", ""},
        {"USB\\VID_10C4&PID_EA60\\0001", "10c4", "ea60", "0001", ""},
        {"USB\\VID_0416&PID_5011\\6&2C1D5A3&0&2", "0416", "5011", "", ""},      // made up by Windows
        {"USB\\VID_0416&PID_5011&MI_00\\7&1A&0&0000", "0416", "5011", "", ""},  // one interface of several
        {"FTDIBUS\\VID_0403+PID_6001+A9XK3L2QA\\0000", "0403", "6001", "A9XK3L2QA", ""},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&2A0E7BA1&0&001BDC0F1122_C00000000", "", "",
         "", "00:1B:DC:0F:11:22"},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&2A0E7BA1&0&000000000000_00000000", "", "",
         "", ""},
        {"ACPI\\PNP0501\\1", "", "", "", ""},
        {"USB\\VID_04&PID_5011\\X", "", "", "", ""},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        PortIdentity id;
        AddInstanceIdentity(c.id, &id);
        EXPECT_EQ(id.vendorId, c.vendor) << c.id;
        EXPECT_EQ(id.productId, c.product) << c.id;
        EXPECT_EQ(id.serial, c.serial) << c.id;
        EXPECT_EQ(id.btAddress, c.address) << c.id;
    }
}

}  // namespace

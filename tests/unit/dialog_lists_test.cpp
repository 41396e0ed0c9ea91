// The dialog's lists: the port list built from the port library's counts,
// and every other list's items and starting selection.
#include "dialog/dialog_lists.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

namespace {

using morvane::BuildPortList;
using morvane::kNoSelection;
using morvane::PortList;

std::vector<std::string> ExpectedPorts(int usb, int lpt) {
    std::vector<std::string> items;
    for (int i = 1; i <= 255; ++i) items.push_back("COM" + std::to_string(i) + ":");
    for (int i = 1; i <= usb; ++i) items.push_back("USB" + std::to_string(i) + ":");
    for (int i = 1; i <= lpt; ++i) items.push_back("LPT" + std::to_string(i));
    return items;
}

void ExpectItems(const std::vector<std::string>& got, const std::vector<std::string>& expected, const char* what) {
    ASSERT_EQ(got.size(), expected.size()) << what << ": got " << got.size() << " items, expected " << expected.size();
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << what << ", item " << i << ": got \"" << got[i] << "\", expected \""
                                       << expected[i] << "\"";
}

TEST(PortList, TwoComTwoUsbThreeLpt) {
    PortList list = BuildPortList(2, 2, 3);
    ExpectItems(list.items, ExpectedPorts(2, 3), "counts 2/2/3");
    ASSERT_EQ(list.items.size(), 260u);
    EXPECT_EQ(list.items[254], "COM255:");
    EXPECT_EQ(list.items[255], "USB1:");
    EXPECT_EQ(list.items[256], "USB2:");
    EXPECT_EQ(list.items[257], "LPT1");
    EXPECT_EQ(list.items[259], "LPT3");
    EXPECT_EQ(list.selection, 0) << "got selection " << list.selection << ", expected 0 (COM1:)";
}

TEST(PortList, OneComNoUsbNoLpt) {
    PortList list = BuildPortList(1, 0, 0);
    ExpectItems(list.items, ExpectedPorts(0, 0), "counts 1/0/0");
    EXPECT_EQ(list.selection, kNoSelection) << "got selection " << list.selection << ", expected none";
}

struct CountCase {
    int com, usb, lpt;
    int expectedUsb, expectedLpt;
    int expectedSelection;
};

const CountCase kCountCases[] = {
    {0, 0, 0, 0, 0, kNoSelection},
    {-1, -1, -1, 0, 0, kNoSelection},
    {INT_MIN, INT_MIN, INT_MIN, 0, 0, kNoSelection},
    {1, 1, 1, 1, 1, kNoSelection},
    {2, 0, 0, 0, 0, 0},
    {3, 0, 4, 0, 4, 0},
    {255, 5, 0, 5, 0, 0},
    {10000, 10000, 10000, 255, 255, 0},  // a wild library is capped
    {INT_MAX, INT_MAX, INT_MAX, 255, 255, 0},
    {2, 255, 256, 255, 255, 0},
};

TEST(PortList, CountsTable) {
    for (const CountCase& c : kCountCases) {
        PortList list = BuildPortList(c.com, c.usb, c.lpt);
        std::string what =
            "counts " + std::to_string(c.com) + "/" + std::to_string(c.usb) + "/" + std::to_string(c.lpt);
        ExpectItems(list.items, ExpectedPorts(c.expectedUsb, c.expectedLpt), what.c_str());
        EXPECT_EQ(list.selection, c.expectedSelection)
            << what << ": got selection " << list.selection << ", expected " << c.expectedSelection;
    }
}

TEST(PortList, HugeCountsReturnPromptly) {
    auto start = std::chrono::steady_clock::now();
    PortList list = BuildPortList(INT_MAX, INT_MAX, INT_MAX);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(list.items.size(), 255u + 255u + 255u);
    // Loose bound: building 765 short strings takes microseconds.
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

// Expected list contents: a literal text, or a string-table id.
struct Item {
    std::string text;
    int stringId;
};

struct ExpectedList {
    const char* name;
    int controlId;
    std::vector<Item> items;
    int selection;
};

std::vector<Item> Numbers(int first, int last) {
    std::vector<Item> items;
    for (int i = first; i <= last; ++i) items.push_back({std::to_string(i), 0});
    return items;
}

std::vector<ExpectedList> ExpectedLists() {
    const std::vector<Item> bauds = {{"2400", 0},  {"4800", 0},  {"9600", 0},  {"19200", 0},
                                     {"38400", 0}, {"57600", 0}, {"115200", 0}};
    return {
        {"connection baud rate", 1037, bauds, 2},
        {"printer language", 1085, {{"", 102}, {"", 103}}, 0},
        {"visibility", 1071, {{"", 104}, {"", 105}}, 1},
        {"Bluetooth mode", 1072, {{"", 106}, {"", 107}}, 0},
        {"printer baud rate", 1073, bauds, 2},
        {"darkness", 1074, Numbers(1, 5), 1},
        {"beeper", 1075, {{"", 108}, {"", 109}}, 0},
        {"sleep time", 1076, Numbers(0, 255), 60},
        {"Chinese mode", 1077, {{"", 110}, {"", 111}}, 0},
        {"black-mark sensitivity", 1078, Numbers(1, 7), 0},
        {"gap sensitivity", 1079, Numbers(1, 7), 0},
        {"paper sensor", 1088, {{"", 114}, {"", 115}, {"", 116}, {"", 117}, {"", 118}, {"", 119}}, 0},
        {"command set", 1089, {{"", 112}, {"", 113}}, 0},
        {"paper width",
         1090,
         {{" 44mm", 0}, {" 58mm", 0}, {" 76mm(No Support)", 0}, {" 80mm", 0}, {"114mm(No Support)", 0}},
         0},
    };
}

TEST(SettingLists, ItemsSelectionsAndFillOrder) {
    const std::vector<ExpectedList> expected = ExpectedLists();
    const std::vector<morvane::ListContents>& got = morvane::SettingLists();
    ASSERT_EQ(got.size(), expected.size()) << "got " << got.size() << " lists, expected " << expected.size();
    for (size_t l = 0; l < expected.size(); ++l) {
        const ExpectedList& e = expected[l];
        const morvane::ListContents& g = got[l];
        EXPECT_EQ(g.controlId, e.controlId)
            << "list " << l << " (" << e.name << "): got control " << g.controlId << ", expected " << e.controlId;
        EXPECT_EQ(g.initialSelection, e.selection)
            << e.name << ": got selection " << g.initialSelection << ", expected " << e.selection;
        ASSERT_EQ(g.items.size(), e.items.size())
            << e.name << ": got " << g.items.size() << " items, expected " << e.items.size();
        for (size_t i = 0; i < e.items.size(); ++i) {
            EXPECT_EQ(g.items[i].stringId, e.items[i].stringId)
                << e.name << ", item " << i << ": got string id " << g.items[i].stringId << ", expected "
                << e.items[i].stringId;
            EXPECT_EQ(g.items[i].text, e.items[i].text) << e.name << ", item " << i << ": got \"" << g.items[i].text
                                                        << "\", expected \"" << e.items[i].text << "\"";
        }
        EXPECT_GE(g.initialSelection, 0) << e.name;
        EXPECT_LT(static_cast<size_t>(g.initialSelection), g.items.size()) << e.name;
    }
}

TEST(SettingLists, SleepTimeRunsFromZeroTo255WithoutLeadingZeros) {
    for (const morvane::ListContents& list : morvane::SettingLists()) {
        if (list.controlId != 1076) continue;
        ASSERT_EQ(list.items.size(), 256u);
        EXPECT_EQ(list.items.front().text, "0");
        EXPECT_EQ(list.items[60].text, "60");
        EXPECT_EQ(list.items.back().text, "255");
        return;
    }
    FAIL() << "no sleep-time list (1076)";
}

}  // namespace

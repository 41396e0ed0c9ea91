// What the configuration dialog's lists hold when it opens: the port list
// built from the port library's counts, and every other list's items and
// starting selection, in the order the dialog fills them.
#pragma once
#include <string>
#include <vector>

namespace morvane {

constexpr int kNoSelection = -1;

// The serial entries are always "COM1:" to "COM255:".
constexpr int kComPortItems = 255;
// A library may report any count; the list takes at most this many USB and
// this many LPT entries, so a wild count neither hangs nor floods the list.
constexpr int kMaxLibraryPortItems = 255;

struct PortList {
    std::vector<std::string> items;
    int selection = kNoSelection;
};

// The port list's entries of one kind: "COM1:" to "COM255:" always; for
// USB ("USB1:", ...) and LPT ("LPT1", ...) as many as the library counted,
// none for 0 or less, at most kMaxLibraryPortItems.
std::vector<std::string> ComPortItems();
std::vector<std::string> UsbPortItems(int usbCount);
std::vector<std::string> LptPortItems(int lptCount);

// "COM1:" is selected only when GetCOMMax() returned more than 1.
int InitialPortSelection(int comMax);

// comMax, usbCount and lptCount are what GetCOMMax, GetUSBPort and GetLPTMax
// returned: all COM entries, then the USB ones, then the LPT ones.
PortList BuildPortList(int comMax, int usbCount, int lptCount);

// One list item: a literal text, or a string-table id (loaded afresh for
// each item) when stringId is not 0.
struct ListItem {
    std::string text;
    int stringId = 0;
};

struct ListContents {
    int controlId;
    std::vector<ListItem> items;
    int initialSelection;
};

// Every list but the port list, in fill order.
const std::vector<ListContents>& SettingLists();

}  // namespace morvane

#include "dialog/dialog_lists.h"

#include <algorithm>

#include "dialog/resource.h"
#include "protocol/settings_catalogue.h"

namespace morvane {

namespace {

void AddNumbered(std::vector<std::string>& items, const char* prefix, const char* suffix, int count) {
    for (int i = 1; i <= count; ++i) items.push_back(prefix + std::to_string(i) + suffix);
}

// A list item is the catalogue's English text, or its string-table id
// (loaded afresh by the dialog in the interface language).
std::vector<ListItem> ItemsOf(std::string_view key) {
    std::vector<ListItem> items;
    for (const SettingValue& v : FindSetting(key)->values)
        items.push_back(v.stringId != 0 ? ListItem{std::string(), v.stringId} : ListItem{v.dialogText, 0});
    return items;
}

constexpr int kSleepTimeInitial = 60;

}  // namespace

std::vector<std::string> ComPortItems() {
    std::vector<std::string> items;
    AddNumbered(items, "COM", ":", kComPortItems);
    return items;
}

std::vector<std::string> UsbPortItems(int usbCount) {
    std::vector<std::string> items;
    AddNumbered(items, "USB", ":", std::clamp(usbCount, 0, kMaxLibraryPortItems));
    return items;
}

std::vector<std::string> LptPortItems(int lptCount) {
    std::vector<std::string> items;
    AddNumbered(items, "LPT", "", std::clamp(lptCount, 0, kMaxLibraryPortItems));
    return items;
}

int InitialPortSelection(int comMax) { return comMax > 1 ? 0 : kNoSelection; }

PortList BuildPortList(int comMax, int usbCount, int lptCount) {
    PortList list;
    for (auto part : {ComPortItems(), UsbPortItems(usbCount), LptPortItems(lptCount)})
        list.items.insert(list.items.end(), part.begin(), part.end());
    list.selection = InitialPortSelection(comMax);
    return list;
}

const std::vector<ListContents>& SettingLists() {
    // Each setting list holds the catalogue's values in order; the connection
    // baud-rate list offers the same speeds as the printer's.
    static const std::vector<ListContents> lists = {
        {IDC_CB_BAUD, ItemsOf("baud"), 2},
        {IDC_CB_LANGUAGE, ItemsOf("language"), 0},
        {IDC_CB_VISIBLE, ItemsOf("bt-visible"), 1},
        {IDC_CB_BT_MODE, ItemsOf("bt-mode"), 0},
        {IDC_CB_SET_BAUD, ItemsOf("baud"), 2},
        {IDC_CB_DARKNESS, ItemsOf("darkness"), 1},
        {IDC_CB_BEEP, ItemsOf("beeper"), 0},
        {IDC_CB_SLEEP_TIME, ItemsOf("sleep"), kSleepTimeInitial},
        {IDC_CB_CHINESE_MODE, ItemsOf("chinese"), 0},
        {IDC_CB_MARK_SENS, ItemsOf("mark-sensitivity"), 0},
        {IDC_CB_GAP_SENS, ItemsOf("gap-sensitivity"), 0},
        {IDC_CB_SENSOR, ItemsOf("paper-sensor"), 0},
        {IDC_CB_CMD_SET, ItemsOf("command-set"), 0},
        {IDC_CB_PAPER_WIDTH, ItemsOf("paper-width"), 0},
    };
    return lists;
}

}  // namespace morvane

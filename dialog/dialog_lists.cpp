#include "dialog/dialog_lists.h"

#include <algorithm>

#include "dialog/resource.h"

namespace morvane {

namespace {

void AddNumbered(std::vector<std::string>& items, const char* prefix, const char* suffix, int count) {
    for (int i = 1; i <= count; ++i) items.push_back(prefix + std::to_string(i) + suffix);
}

std::vector<ListItem> Texts(std::initializer_list<const char*> texts) {
    std::vector<ListItem> items;
    for (const char* t : texts) items.push_back({t, 0});
    return items;
}

std::vector<ListItem> Strings(std::initializer_list<int> ids) {
    std::vector<ListItem> items;
    for (int id : ids) items.push_back({std::string(), id});
    return items;
}

std::vector<ListItem> Numbers(int first, int last) {
    std::vector<ListItem> items;
    for (int i = first; i <= last; ++i) items.push_back({std::to_string(i), 0});
    return items;
}

constexpr int kSleepTimeMax = 255;
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
    static const std::vector<ListContents> lists = {
        {IDC_CB_BAUD, Texts({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}), 2},
        {IDC_CB_LANGUAGE, Strings({IDS_LANG_CHINESE, IDS_LANG_ENGLISH}), 0},
        {IDC_CB_VISIBLE, Strings({IDS_VISIBLE, IDS_INVISIBLE}), 1},
        {IDC_CB_BT_MODE, Strings({IDS_ENABLE, IDS_DISABLE}), 0},
        {IDC_CB_SET_BAUD, Texts({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}), 2},
        {IDC_CB_DARKNESS, Numbers(1, 5), 1},
        {IDC_CB_BEEP, Strings({IDS_OPEN, IDS_CLOSE}), 0},
        {IDC_CB_SLEEP_TIME, Numbers(0, kSleepTimeMax), kSleepTimeInitial},
        {IDC_CB_CHINESE_MODE, Strings({IDS_SIMPLIFIED_CHINESE, IDS_TRADITIONAL_CHINESE}), 0},
        {IDC_CB_MARK_SENS, Numbers(1, 7), 0},
        {IDC_CB_GAP_SENS, Numbers(1, 7), 0},
        {IDC_CB_SENSOR,
         Strings({IDS_SENSOR_GAP_ONLY, IDS_SENSOR_RIGHT_MARK1, IDS_SENSOR_RIGHT_MARK2, IDS_SENSOR_LEFT_MARK1,
                  IDS_SENSOR_LEFT_MARK2, IDS_SENSOR_NONE}),
         0},
        {IDC_CB_CMD_SET, Strings({IDS_CMD_CPCL, IDS_CMD_ESCPOS}), 0},
        // The leading blanks line the widths up in the list.
        {IDC_CB_PAPER_WIDTH, Texts({" 44mm", " 58mm", " 76mm(No Support)", " 80mm", "114mm(No Support)"}), 0},
    };
    return lists;
}

}  // namespace morvane

#include "protocol/settings_catalogue.h"

#include <algorithm>
#include <cctype>

namespace morvane {

namespace {

// String-table ids of the dialog's list items.
enum : int {
    kStrChinese = 102,
    kStrEnglish,
    kStrVisible,
    kStrInvisible,
    kStrEnable,
    kStrDisable,
    kStrOpen,
    kStrClose,
    kStrSimplified,
    kStrTraditional,
    kStrCpcl,
    kStrEscPos,
    kStrSensorGapOnly,
    kStrSensorRightMark1,
    kStrSensorRightMark2,
    kStrSensorLeftMark1,
    kStrSensorLeftMark2,
    kStrSensorNone,
};

std::vector<SettingValue> Numbers(int first, int last) {
    std::vector<SettingValue> values;
    for (int i = first; i <= last; ++i) values.push_back({std::to_string(i), std::to_string(i), 0});
    return values;
}

std::vector<SettingValue> Literals(std::initializer_list<const char*> texts) {
    std::vector<SettingValue> values;
    for (const char* t : texts) values.push_back({t, t, 0});
    return values;
}

Setting ListEntry(std::string_view key, std::string_view description, ListSetting list,
                  std::vector<SettingValue> values) {
    const ListSettingInfo info = GetListSettingInfo(list);
    Setting s;
    s.key = key;
    s.description = description;
    s.code = info.code;
    s.operation = info.operation;
    s.rule = info.indexPlusOne ? ArgumentRule::IndexPlusOne : ArgumentRule::Index;
    s.list = list;
    s.values = std::move(values);
    return s;
}

Setting Entry(std::string_view key, std::string_view description, std::uint8_t code, int operation, int readOperation,
              ArgumentRule rule, std::vector<SettingValue> values = {}) {
    Setting s;
    s.key = key;
    s.description = description;
    s.code = code;
    s.operation = operation;
    s.readOperation = readOperation;
    s.rule = rule;
    s.values = std::move(values);
    return s;
}

std::vector<Setting> MakeCatalogue() {
    std::vector<Setting> c;
    c.push_back(Entry("bt-name", "Bluetooth name", kCodeName, kOpSetName, kOpReadName, ArgumentRule::Text));
    c.push_back(Entry("bt-address", "Bluetooth address", kCodeAddress, 0, kOpReadAddress, ArgumentRule::ReadOnly));
    c.push_back(Entry("bt-password", "Bluetooth pairing password", kCodePassword, kOpSetPassword, kOpReadPassword,
                      ArgumentRule::Text));
    c.push_back(ListEntry("bt-visible", "Bluetooth visibility", ListSetting::Visibility,
                          {{"visible", "Visuable", kStrVisible}, {"hidden", "Unvisiable", kStrInvisible}}));
    c.push_back(ListEntry("bt-mode", "Bluetooth mode", ListSetting::BtMode,
                          {{"enable", "Enable", kStrEnable}, {"disable", "Disable", kStrDisable}}));
    c.push_back(ListEntry("baud", "printer baud rate", ListSetting::BaudRate,
                          Literals({"2400", "4800", "9600", "19200", "38400", "57600", "115200"})));
    c.push_back(ListEntry("darkness", "print darkness", ListSetting::Darkness, Numbers(1, 5)));
    c.push_back(
        ListEntry("beeper", "beeper", ListSetting::Beeper, {{"on", "Open", kStrOpen}, {"off", "Close", kStrClose}}));
    c.push_back(ListEntry("sleep", "sleep time, in the printer's unit", ListSetting::SleepTime, Numbers(0, 255)));
    c.push_back(Entry(
        "chinese", "Chinese character mode", kCodeSimplifiedChinese, kOpChineseMode, 0, ArgumentRule::ChineseMode,
        {{"simplified", "Simple Chinese", kStrSimplified}, {"traditional", "Tranditional Chinese", kStrTraditional}}));
    c.push_back(
        ListEntry("mark-sensitivity", "black-mark sensor sensitivity", ListSetting::MarkSensitivity, Numbers(1, 7)));
    c.push_back(
        ListEntry("gap-sensitivity", "label-gap sensor sensitivity", ListSetting::GapSensitivity, Numbers(1, 7)));
    c.push_back(Entry("position", "black-mark/gap position", kCodePosition, kOpPosition, 0, ArgumentRule::Position));
    c.push_back(ListEntry("language", "printer language", ListSetting::Language,
                          {{"chinese", "Chinese", kStrChinese}, {"english", "English", kStrEnglish}}));
    c.push_back(
        ListEntry("paper-sensor", "paper sensor", ListSetting::PaperSensor,
                  {{"gap", "Only Open Gap Sensor", kStrSensorGapOnly},
                   {"right-mark-1", "Right BlackMark Sensor1(Sensor on heat)", kStrSensorRightMark1},
                   {"right-mark-2", "Right BlackMark Sensor2(Sensor on Compress Bar)", kStrSensorRightMark2},
                   {"left-mark-1", "Left BlackMark Sensor1(Sensor on heat)", kStrSensorLeftMark1},
                   {"left-mark-2", "Left BlackMark Sensor2(Sensor on Compress Bar)<(no support)>", kStrSensorLeftMark2},
                   {"none", "Close Gap and BlackMark Sensor", kStrSensorNone}}));
    c.push_back(ListEntry("command-set", "command set", ListSetting::CommandSet,
                          {{"cpcl", "CPCL", kStrCpcl}, {"escpos", "ESC/POS", kStrEscPos}}));
    // The dialog's leading blanks line the widths up in its list.
    c.push_back(ListEntry("paper-width", "paper width in mm", ListSetting::PaperWidth,
                          {{"44", " 44mm", 0},
                           {"58", " 58mm", 0},
                           {"76", " 76mm(No Support)", 0},
                           {"80", " 80mm", 0},
                           {"114", "114mm(No Support)", 0}}));
    return c;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const std::vector<Setting>& SettingsCatalogue() {
    static const std::vector<Setting> catalogue = MakeCatalogue();
    return catalogue;
}

const Setting* FindSetting(std::string_view key) {
    for (const Setting& s : SettingsCatalogue())
        if (s.key == key) return &s;
    return nullptr;
}

std::optional<int> FindValueIndex(const Setting& setting, std::string_view text) {
    text = TrimBlanks(text);
    const bool widths = setting.list == ListSetting::PaperWidth;
    if (widths && text.size() > 2 && SameIgnoringCase(text.substr(text.size() - 2), "mm"))
        text = TrimBlanks(text.substr(0, text.size() - 2));
    for (std::size_t i = 0; i < setting.values.size(); ++i) {
        const SettingValue& v = setting.values[i];
        if (SameIgnoringCase(text, v.name) || SameIgnoringCase(text, TrimBlanks(v.dialogText)))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

Frame BuildSetFrame(FrameBuffer& buf, const Setting& setting, const SetArgument& argument) {
    switch (setting.rule) {
        case ArgumentRule::Index:
        case ArgumentRule::IndexPlusOne: return BuildListSetting(buf, *setting.list, argument.index);
        case ArgumentRule::ChineseMode: return BuildChineseMode(buf, argument.index);
        case ArgumentRule::Position: return BuildPosition(buf, argument.number);
        case ArgumentRule::Text:
            return setting.code == kCodeName ? BuildSetName(buf, argument.bytes)
                                             : BuildSetPassword(buf, argument.bytes);
        case ArgumentRule::ReadOnly: break;
    }
    return {};
}

ReplyForms ReplyFormsOf(std::uint8_t code) {
    ReplyForms forms;
    for (const Setting& s : SettingsCatalogue()) {
        const bool chinese = s.rule == ArgumentRule::ChineseMode;
        if (s.code != code && !(chinese && code == kCodeTraditionalChinese)) continue;
        forms.status = forms.status || s.CanSet();
        forms.value = forms.value || s.CanRead();
    }
    return forms;
}

Frame BuildReadFrame(FrameBuffer& buf, const Setting& setting) {
    switch (setting.readOperation) {
        case kOpReadName: return BuildReadName(buf);
        case kOpReadAddress: return BuildReadAddress(buf);
        case kOpReadPassword: return BuildReadPassword(buf);
        default: return {};
    }
}

}  // namespace morvane

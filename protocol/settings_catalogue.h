// The settings catalogue: every setting a printer keeps, with the key the
// command line knows it by, its frame code and operation, how its argument
// is formed, and its values in the order of the dialog's list. The dialog's
// lists and the command's value names both come from here, so the two
// programs always send the same byte for the same choice.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frames.h"

namespace morvane {

enum class ArgumentRule {
    Index,         // the list index is the argument byte
    IndexPlusOne,  // the list index + 1
    Text,          // 0..20 bytes of text
    Position,      // a signed number: sign byte and four-byte magnitude
    ChineseMode,   // the code byte itself carries the choice
    ReadOnly,      // no frame sets it
};

// One item of a setting's list, in list order: its place is its index.
struct SettingValue {
    std::string name;        // what the command takes and shows: "hidden"
    std::string dialogText;  // the dialog's English item: "Unvisiable"
    int stringId = 0;        // the item's string-table id; 0: dialogText is literal
};

struct Setting {
    std::string_view key;  // "bt-visible"
    std::string_view description;
    std::uint8_t code = 0;  // of the set frame (Chinese mode: the first item's)
    int operation = 0;      // of the set frame; 0 for read only
    int readOperation = 0;  // of the read frame; 0 when it cannot be read
    ArgumentRule rule = ArgumentRule::ReadOnly;
    std::optional<ListSetting> list;   // Index and IndexPlusOne
    std::vector<SettingValue> values;  // list settings only
    bool CanSet() const { return rule != ArgumentRule::ReadOnly; }
    bool CanRead() const { return readOperation != 0; }
};

// The number range the position field can send: six characters of text.
// (Its up-down buttons go only from -255 to 255: that is the dialog's own.)
constexpr std::int32_t kPositionMin = -99999;
constexpr std::int32_t kPositionMax = 999999;

// Every setting, in the dialog's order from top to bottom.
const std::vector<Setting>& SettingsCatalogue();
const Setting* FindSetting(std::string_view key);

// The list index that `text` names: a value's name or the dialog's English
// item text, in any letter case, blanks around it ignored; paper widths
// also with or without a trailing "mm".
std::optional<int> FindValueIndex(const Setting& setting, std::string_view text);

// What a set frame carries, already checked against the setting's rule.
struct SetArgument {
    int index = 0;            // list settings
    std::int32_t number = 0;  // Position
    std::string bytes;        // Text, in the printer's code page
};

Frame BuildSetFrame(FrameBuffer& buf, const Setting& setting, const SetArgument& argument);

// The forms of reply a frame with this code draws: a set frame a status
// reply, a read frame a value reply (0x72 and 0x77 serve both); neither
// for a code no setting uses.
struct ReplyForms {
    bool status = false;
    bool value = false;
};
ReplyForms ReplyFormsOf(std::uint8_t code);
// Only for settings that CanRead().
Frame BuildReadFrame(FrameBuffer& buf, const Setting& setting);

}  // namespace morvane

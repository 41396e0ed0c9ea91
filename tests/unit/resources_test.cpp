// The dialog's resource scripts: both languages define the same controls,
// ids, kinds and styles in the same order, the same strings, and the texts
// and positions the program shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/settings_catalogue.h"

namespace {

const std::string kSourceDir = MORVANE_SOURCE_DIR;

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// #define NAME VALUE lines of a header, following its quoted includes.
void ReadDefines(const std::string& path, std::map<std::string, int>& defines) {
    for (const std::string& raw : ReadLines(path)) {
        std::istringstream in(raw);
        std::string directive;
        in >> directive;
        if (directive == "#include") {
            std::string target;
            in >> target;
            if (target.size() > 2 && target.front() == '"')
                ReadDefines(kSourceDir + "/" + target.substr(1, target.size() - 2), defines);
            continue;
        }
        if (directive != "#define") continue;
        std::string name, value;
        in >> name >> value;
        value.erase(std::remove(value.begin(), value.end(), '('), value.end());
        value.erase(std::remove(value.begin(), value.end(), ')'), value.end());
        if (value.empty()) continue;
        try {
            defines[name] = std::stoi(value, nullptr, 0);
        } catch (...) {}
    }
}

// Splits a statement's arguments at commas outside quotes.
std::vector<std::string> SplitArgs(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (char c : s) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) {
            out.push_back(Trim(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(Trim(cur));
    return out;
}

std::string Unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

std::vector<std::string> Styles(const std::string& expr) {
    std::vector<std::string> out;
    std::istringstream in(expr);
    std::string part;
    while (std::getline(in, part, '|')) out.push_back(Trim(part));
    std::sort(out.begin(), out.end());
    return out;
}

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect&) const = default;
};

std::string ToString(const Rect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," + std::to_string(r.h);
}

struct Control {
    std::string kind;
    std::string text;
    int id = 0;
    Rect rect{};
    std::vector<std::string> styles;
    std::string className;
};

struct ResourceScript {
    std::string languageLine;
    int dialogId = 0;
    Rect dialogRect{};
    std::string style;
    std::string caption;
    std::string font;
    std::vector<Control> controls;
    std::map<int, std::string> strings;
    std::vector<int> stringOrder;
};

class Resources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        defines_ = new std::map<std::string, int>();
        ReadDefines(kSourceDir + "/dialog/resource.h", *defines_);
        // The framework's own ids, which the program's resource script includes beside its own.
        ReadDefines(kSourceDir + "/framework/stock_ids.h", *defines_);
        (*defines_)["IDC_STATIC"] = -1;
    }
    static void TearDownTestSuite() {
        delete defines_;
        defines_ = nullptr;
    }

    static int Resolve(const std::string& token) {
        if (!token.empty() && (isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-'))
            return std::stoi(token, nullptr, 0);
        auto it = defines_->find(token);
        if (it == defines_->end()) {
            ADD_FAILURE() << "unknown id name " << token;
            return 0;
        }
        return it->second;
    }

    static Rect RectAt(const std::vector<std::string>& a, size_t i) {
        return {std::stoi(a.at(i)), std::stoi(a.at(i + 1)), std::stoi(a.at(i + 2)), std::stoi(a.at(i + 3))};
    }

    static ResourceScript Parse(const std::string& relativePath) {
        ResourceScript rc;
        const std::vector<std::string> lines = ReadLines(kSourceDir + "/" + relativePath);
        EXPECT_FALSE(lines.empty()) << "cannot read " << relativePath;
        if (lines.empty()) return rc;
        rc.languageLine = lines.front();
        enum class Section { None, Dialog, Strings } section = Section::None;
        bool inBlock = false;
        for (const std::string& raw : lines) {
            const std::string line = Trim(raw);
            if (line.empty() || line.rfind("//", 0) == 0) continue;
            std::istringstream in(line);
            std::string first, second;
            in >> first >> second;
            if (second == "DIALOGEX") {
                section = Section::Dialog;
                rc.dialogId = Resolve(first);
                std::string rest;
                std::getline(in, rest);
                rc.dialogRect = RectAt(SplitArgs(rest), 0);
                continue;
            }
            if (first == "STRINGTABLE") {
                section = Section::Strings;
                continue;
            }
            if (first == "BEGIN") {
                inBlock = true;
                continue;
            }
            if (first == "END") {
                inBlock = false;
                section = Section::None;
                continue;
            }
            if (section == Section::Dialog && !inBlock) {
                const std::string rest = Trim(line.substr(first.size()));
                if (first == "STYLE") rc.style = rest;
                if (first == "CAPTION") rc.caption = Unquote(rest);
                if (first == "FONT") rc.font = rest;
                continue;
            }
            if (section == Section::Strings && inBlock) {
                const size_t quote = line.find('"');
                const int id = Resolve(Trim(line.substr(0, quote)));
                rc.strings[id] = Unquote(Trim(line.substr(quote)));
                rc.stringOrder.push_back(id);
                continue;
            }
            if (section == Section::Dialog && inBlock) {
                const std::vector<std::string> a = SplitArgs(Trim(line.substr(first.size())));
                Control c;
                if (first == "LTEXT" || first == "RTEXT" || first == "PUSHBUTTON" || first == "GROUPBOX") {
                    c.kind = first == "LTEXT"        ? "label"
                             : first == "RTEXT"      ? "label, right"
                             : first == "PUSHBUTTON" ? "button"
                                                     : "group box";
                    c.text = Unquote(a.at(0));
                    c.id = Resolve(a.at(1));
                    c.rect = RectAt(a, 2);
                    if (a.size() > 6) c.styles = Styles(a.at(6));
                } else if (first == "COMBOBOX" || first == "EDITTEXT") {
                    c.kind = first == "COMBOBOX" ? "list" : "edit";
                    c.id = Resolve(a.at(0));
                    c.rect = RectAt(a, 1);
                    if (a.size() > 5) c.styles = Styles(a.at(5));
                } else if (first == "CONTROL") {
                    c.text = Unquote(a.at(0));
                    c.id = Resolve(a.at(1));
                    c.className = Unquote(a.at(2));
                    c.kind = c.className == "msctls_updown32" ? "spin" : "control " + c.className;
                    c.styles = Styles(a.at(3));
                    c.rect = RectAt(a, 4);
                } else {
                    ADD_FAILURE() << relativePath << ": unexpected statement " << line;
                    continue;
                }
                rc.controls.push_back(c);
            }
        }
        return rc;
    }

    static std::map<std::string, int>* defines_;
};

std::map<std::string, int>* Resources::defines_ = nullptr;

// The template's controls in order, with both languages' texts and positions.
struct Row {
    int id;
    const char* kind;
    const char* en;
    const char* zh;
    Rect enRect;
    std::optional<Rect> zhRect;  // empty: same as English
    const char* zhKind;          // nullptr: same as English
};

const Row kRows[] = {
    {-1, "label", "Port:", "端口：", {23, 10, 22, 8}, Rect{23, 10, 25, 8}, nullptr},
    {1038, "list", "", "", {53, 6, 66, 55}, {}, nullptr},
    {-1, "label, right", "BaudRate:", "波特率：", {123, 8, 41, 8}, Rect{130, 7, 39, 8}, "label"},
    {1037, "list", "", "", {171, 8, 62, 68}, {}, nullptr},
    {1051, "button", "Open", "打开", {242, 6, 50, 14}, {}, nullptr},
    {-1, "label, right", "BlueTooth Name", "蓝牙名称", {27, 49, 57, 8}, Rect{19, 48, 57, 8}, nullptr},
    {1041, "edit", "", "", {86, 47, 116, 12}, Rect{82, 47, 116, 12}, nullptr},
    {1052, "button", "Read", "读取", {210, 45, 29, 14}, {}, nullptr},
    {1053, "button", "Set", "设置", {244, 45, 29, 14}, {}, nullptr},
    {-1, "label, right", "BlueTooth Addr:", "蓝牙地址", {25, 70, 57, 8}, Rect{19, 70, 57, 8}, nullptr},
    {1042, "edit", "", "", {86, 68, 116, 12}, Rect{82, 68, 116, 12}, nullptr},
    {1054, "button", "Read", "读取", {210, 67, 29, 14}, {}, nullptr},
    {1055, "button", "Set", "设置", {244, 67, 29, 14}, {}, nullptr},
    {-1, "label, right", "Pair Pass:", "配对密码", {23, 92, 57, 8}, Rect{19, 92, 57, 8}, nullptr},
    {1043, "edit", "", "", {86, 89, 116, 12}, Rect{82, 89, 116, 12}, nullptr},
    {1056, "button", "Read", "读取", {210, 87, 29, 14}, {}, nullptr},
    {1057, "button", "Set", "设置", {244, 87, 29, 14}, {}, nullptr},
    {-1, "label, right", "Visuable", "隐身性", {19, 116, 57, 8}, {}, nullptr},
    {1071, "list", "", "", {82, 114, 43, 84}, {}, nullptr},
    {1058, "button", "Set", "设置", {131, 113, 29, 14}, {}, nullptr},
    {-1, "label, right", "BlueTooth Mode", "蓝牙模块", {166, 115, 54, 8}, Rect{187, 117, 33, 8}, nullptr},
    {1072, "list", "", "", {222, 115, 46, 67}, Rect{224, 114, 46, 67}, nullptr},
    {1059, "button", "Set", "设置", {274, 114, 29, 14}, Rect{274, 112, 29, 14}, nullptr},
    {-1, "group box", "BlueTooth Feature", "蓝牙特性", {12, 32, 301, 103}, Rect{27, 32, 301, 103}, nullptr},
    {-1, "label, right", "Set BaudRate", "设定波特率", {13, 146, 57, 11}, {}, nullptr},
    {1073, "list", "", "", {74, 144, 56, 137}, {}, nullptr},
    {1061, "button", "Set", "设置", {138, 142, 29, 14}, {}, nullptr},
    {-1, "label, right", "PrintDarkness", "打印浓度", {167, 148, 53, 8}, Rect{186, 148, 34, 8}, nullptr},
    {1074, "list", "", "", {226, 145, 68, 68}, {}, nullptr},
    {1069, "button", "Set", "设置", {298, 144, 31, 15}, {}, nullptr},
    {-1, "label, right", "Beep", "蜂鸣器", {38, 164, 32, 8}, {}, nullptr},
    {1075, "list", "", "", {74, 164, 56, 66}, {}, nullptr},
    {1062, "button", "Set", "设置", {138, 162, 29, 14}, {}, nullptr},
    {-1, "label, right", "SleepTime", "休眠时间", {186, 166, 34, 8}, {}, nullptr},
    {1076, "list", "", "", {226, 165, 68, 86}, {}, nullptr},
    {1063, "button", "Set", "设置", {298, 163, 29, 14}, {}, nullptr},
    {-1, "label, right", "Chinese Mode", "中文模式", {186, 185, 34, 8}, {}, nullptr},
    {1077, "list", "", "", {226, 181, 68, 48}, {}, nullptr},
    {1064, "button", "Set", "设置", {298, 181, 29, 14}, {}, nullptr},
    {-1, "label, right", "BlackMark sensitivity", "黑标检测灵敏度", {1, 184, 71, 8}, Rect{13, 184, 57, 8}, nullptr},
    {1078, "list", "", "", {74, 183, 56, 72}, {}, nullptr},
    {1065, "button", "Set", "设置", {138, 182, 29, 13}, {}, nullptr},
    {-1, "label, right", "Lable Gap sensitivity ", "标签间隙灵敏度", {1, 203, 72, 8}, Rect{13, 204, 57, 8}, nullptr},
    {1079, "list", "", "", {74, 202, 56, 60}, {}, nullptr},
    {1066, "button", "Set", "设置", {138, 198, 29, 14}, {}, nullptr},
    {-1, "label, right", "Black Mark Gap Position", "间隙，黑标位置", {0, 225, 70, 8}, Rect{6, 226, 64, 8}, nullptr},
    {1083, "edit", "", "", {74, 222, 46, 16}, Rect{74, 222, 48, 16}, nullptr},
    {1067, "button", "Set", "设置", {137, 219, 29, 19}, Rect{138, 219, 29, 19}, nullptr},
    {1084, "spin", "Spin1", "Spin1", {124, 220, 9, 20}, {}, nullptr},
    {-1, "label, right", "Language", "系统语言", {186, 203, 34, 8}, {}, nullptr},
    {1085, "list", "", "", {226, 201, 68, 30}, {}, nullptr},
    {1086, "button", "Set", "设置", {298, 199, 29, 14}, {}, nullptr},
    {-1, "label, right", "Sensor", "传感器", {21, 249, 75, 8}, {}, nullptr},
    {-1, "label, right", "Cmd Select", "指令选择", {57, 270, 38, 8}, {}, nullptr},
    {-1, "label, right", "PaperWidth", "纸张宽度选择", {169, 225, 51, 8}, {}, nullptr},
    {1088, "list", "", "", {101, 247, 191, 85}, {}, nullptr},
    {1089, "list", "", "", {101, 268, 192, 57}, {}, nullptr},
    {1090, "list", "", "", {226, 222, 68, 65}, {}, nullptr},
    {1068, "button", "Set", "设置", {298, 245, 29, 16}, {}, nullptr},
    {1070, "button", "Set", "设置", {298, 266, 29, 16}, {}, nullptr},
    {1080, "button", "Set", "设置", {298, 218, 29, 19}, {}, nullptr},
};

struct StringRow {
    int id;
    const char* en;
    const char* zh;
};

const StringRow kStrings[] = {
    {102, "Chinese", "中文"},
    {103, "English", "英文"},
    {104, "Visuable", "显身"},
    {105, "Unvisiable", "隐身"},
    {106, "Enable", "使能"},
    {107, "Disable", "不使能"},
    {108, "Open", "打开"},
    {109, "Close", "关闭"},
    {110, "Simple Chinese", "简体中文"},
    {111, "Tranditional Chinese", "繁体中文"},
    {112, "CPCL", "CPCL标签指令"},
    {113, "ESC/POS", "ESC/POS凭条指令"},
    {114, "Only Open Gap Sensor", "仅打开间隙传感器"},
    {115, "Right BlackMark Sensor1(Sensor on heat)", "右黑标1传感器(传感器在加热面)"},
    {116, "Right BlackMark Sensor2(Sensor on Compress Bar)", "右黑标2传感器(传感器在压杆面)"},
    {117, "Left BlackMark Sensor1(Sensor on heat)", "左黑标1传感器(传感器在加热面)"},
    {118, "Left BlackMark Sensor2(Sensor on Compress Bar)<(no support)>", "左黑标2传感器(传感器在压杆面)<(暂不支持)>"},
    {119, "Close Gap and BlackMark Sensor", "关闭黑标和间隙传感器"},
    {120, "Conect", "连接"},
    {121, "Prompt", "提示"},
    {122, "Please Open Port First!", "请先打开端口"},
    {123, "Printer No Answer!", "打印机无应答"},
    {124, "Request Send Fail", "请求发送失败"},
    {125, "Set Fail!!!", "设置失败"},
    {126, "Set Success", "设置成功"},
    {127, "Read Fail", "读取失败"},
    {128, "Port Open Fail!!", "端口打开失败"},
};

std::vector<std::string> ExpectedStyles(const std::string& kind, int id) {
    std::vector<std::string> s;
    if (kind == "label") s = {"SS_LEFT", "WS_GROUP"};
    if (kind == "label, right") s = {"SS_RIGHT", "WS_GROUP"};
    if (kind == "list") s = {"CBS_DROPDOWNLIST", "WS_TABSTOP", "WS_VSCROLL"};
    if (kind == "edit") s = {"ES_AUTOHSCROLL", "WS_BORDER", "WS_TABSTOP"};
    if (kind == "button") s = {"BS_PUSHBUTTON", "WS_TABSTOP"};
    if (kind == "button" && id == 1055) s = {"BS_PUSHBUTTON", "NOT WS_VISIBLE", "WS_DISABLED", "WS_TABSTOP"};
    if (kind == "spin") s = {"UDS_ARROWKEYS", "UDS_SETBUDDYINT"};
    std::sort(s.begin(), s.end());
    return s;
}

std::string Join(const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v) out += (out.empty() ? "" : " | ") + s;
    return out;
}

void CheckTemplate(const ResourceScript& rc, bool chinese) {
    const char* lang = chinese ? "zh-CN" : "en-US";
    EXPECT_EQ(rc.dialogId, 135) << lang << ": got template " << rc.dialogId << ", expected 135";
    EXPECT_EQ(rc.dialogRect, (Rect{0, 0, 336, 297})) << lang << ": got " << ToString(rc.dialogRect);
    EXPECT_EQ(Styles(rc.style), Styles("DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU"))
        << lang << ": got style " << rc.style;
    // The captions carry the project's one version.
    const std::string caption = std::string(chinese ? "MorvaneV" : "Morvane V") + MORVANE_VERSION;
    EXPECT_EQ(rc.caption, caption) << lang << ": got caption \"" << rc.caption << "\", expected \"" << caption << "\"";
    EXPECT_EQ(rc.font, "10, \"System\"") << lang << ": got font " << rc.font;

    ASSERT_EQ(rc.controls.size(), std::size(kRows))
        << lang << ": got " << rc.controls.size() << " controls, expected " << std::size(kRows);
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const Row& row = kRows[i];
        const Control& c = rc.controls[i];
        const std::string where = std::string(lang) + ", control #" + std::to_string(i + 1);
        const std::string kind = chinese && row.zhKind ? row.zhKind : row.kind;
        const std::string text = chinese ? row.zh : row.en;
        const Rect rect = chinese && row.zhRect ? *row.zhRect : row.enRect;
        EXPECT_EQ(c.id, row.id) << where << ": got id " << c.id << ", expected " << row.id;
        EXPECT_EQ(c.kind, kind) << where << ": got kind " << c.kind << ", expected " << kind;
        EXPECT_EQ(c.text, text) << where << ": got text \"" << c.text << "\", expected \"" << text << "\"";
        EXPECT_EQ(c.rect, rect) << where << ": got position " << ToString(c.rect) << ", expected " << ToString(rect);
        if (kind != "group box") {
            const std::vector<std::string> styles = ExpectedStyles(kind, c.id);
            EXPECT_EQ(c.styles, styles) << where << ": got styles " << Join(c.styles) << ", expected " << Join(styles);
        }
    }
}

void CheckStrings(const ResourceScript& rc, bool chinese) {
    const char* lang = chinese ? "zh-CN" : "en-US";
    std::vector<int> ids;
    for (const StringRow& s : kStrings) ids.push_back(s.id);
    EXPECT_EQ(rc.stringOrder, ids) << lang << ": the string table must hold exactly ids 102 to 128";
    for (const StringRow& s : kStrings) {
        auto it = rc.strings.find(s.id);
        ASSERT_NE(it, rc.strings.end()) << lang << ": string " << s.id << " missing";
        const std::string expected = chinese ? s.zh : s.en;
        EXPECT_EQ(it->second, expected) << lang << ", string " << s.id << ": got \"" << it->second << "\", expected \""
                                        << expected << "\"";
    }
}

TEST_F(Resources, EnglishTemplateAndStrings) {
    const ResourceScript rc = Parse("dialog/lang/en-US.rc");
    EXPECT_EQ(rc.languageLine, "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US") << "got first line " << rc.languageLine;
    CheckTemplate(rc, false);
    CheckStrings(rc, false);
}

TEST_F(Resources, ChineseTemplateAndStrings) {
    const ResourceScript rc = Parse("dialog/lang/zh-CN.rc");
    EXPECT_EQ(rc.languageLine, "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED")
        << "got first line " << rc.languageLine;
    CheckTemplate(rc, true);
    CheckStrings(rc, true);
}

// Both languages side by side: the same ids in the same order, the same
// kinds and styles (the one label whose alignment differs aside).
TEST_F(Resources, BothLanguagesDefineTheSameControlsAndStrings) {
    const ResourceScript en = Parse("dialog/lang/en-US.rc");
    const ResourceScript zh = Parse("dialog/lang/zh-CN.rc");
    ASSERT_EQ(en.controls.size(), zh.controls.size());
    for (size_t i = 0; i < en.controls.size(); ++i) {
        EXPECT_EQ(en.controls[i].id, zh.controls[i].id)
            << "control #" << i + 1 << ": en-US id " << en.controls[i].id << ", zh-CN id " << zh.controls[i].id;
        if (kRows[i].zhKind != nullptr) continue;
        EXPECT_EQ(en.controls[i].kind, zh.controls[i].kind) << "control #" << i + 1;
        EXPECT_EQ(en.controls[i].styles, zh.controls[i].styles) << "control #" << i + 1;
    }
    std::set<int> enIds, zhIds;
    for (const auto& [id, text] : en.strings) enIds.insert(id);
    for (const auto& [id, text] : zh.strings) zhIds.insert(id);
    EXPECT_EQ(enIds, zhIds);
}

TEST_F(Resources, IdsInResourceHeader) {
    const std::map<std::string, int> expected = {
        {"IDD_MORVANE2NEW_DIALOG", 135}, {"ID_HELP", 57670},  {"AFX_IDP_PARSE_STRING_SIZE", 61716},
        {"IDS_LANG_CHINESE", 102},       {"IDS_PROMPT", 121}, {"IDS_PORT_OPEN_FAIL", 128},
    };
    for (const auto& [name, value] : expected) {
        auto it = defines_->find(name);
        ASSERT_NE(it, defines_->end()) << name << " not defined";
        EXPECT_EQ(it->second, value) << name << ": got " << it->second << ", expected " << value;
    }
    // Every button, edit, list and spin of the template has its own id.
    std::set<int> seen;
    for (const Row& row : kRows) {
        if (row.id == -1) continue;
        EXPECT_TRUE(seen.insert(row.id).second) << "id " << row.id << " used twice";
    }
    EXPECT_EQ(seen.size(), 41u);  // 21 buttons, 15 lists, 4 edits, 1 spin
}

// The command line accepts the dialog's English list texts: the catalogue's
// copy of each must be the string the English dialog shows.
TEST_F(Resources, CatalogueTextsAreTheEnglishDialogsItems) {
    const ResourceScript en = Parse("dialog/lang/en-US.rc");
    int checked = 0;
    for (const morvane::Setting& s : morvane::SettingsCatalogue()) {
        for (const morvane::SettingValue& v : s.values) {
            if (v.stringId == 0) continue;
            ++checked;
            auto it = en.strings.find(v.stringId);
            ASSERT_NE(it, en.strings.end()) << s.key << " " << v.name << ": no string " << v.stringId;
            EXPECT_EQ(it->second, v.dialogText) << s.key << " " << v.name << ", string " << v.stringId;
        }
    }
    EXPECT_EQ(checked, 18);  // strings 102 to 119
}

// The framework's stock message exists only in Simplified Chinese.
TEST_F(Resources, StockStringIsChineseOnly) {
    const std::vector<std::string> lines = ReadLines(kSourceDir + "/framework/framework.rc");
    std::vector<std::string> languages;
    bool found = false;
    for (const std::string& raw : lines) {
        const std::string line = Trim(raw);
        if (line.rfind("LANGUAGE", 0) == 0) languages.push_back(line);
        if (line.rfind("AFX_IDP_PARSE_STRING_SIZE", 0) == 0) {
            found = true;
            EXPECT_NE(line.find("\"请输入不多于 %1 个的字符。\""), std::string::npos) << "got " << line;
        }
    }
    EXPECT_TRUE(found);
    ASSERT_EQ(languages.size(), 1u);
    EXPECT_EQ(languages[0], "LANGUAGE LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED");
}

}  // namespace

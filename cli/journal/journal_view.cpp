#include "cli/journal/journal_view.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "cli/text/console.h"
#include "cli/journal/journal.h"
#include "cli/journal/journal_skim.h"
#include "cli/journal/mapped_file.h"
#include "cli/text/output.h"
#include "cli/system/platform.h"

namespace morvane::cli {

namespace {

constexpr std::size_t kOutputPiece = 1 << 16;
constexpr std::size_t kParts = 2;                    // as many as a small machine has cores
constexpr std::size_t kPartBytes = 4 * 1024 * 1024;  // shorter journals are read in one

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// Which printer a record is about: its Bluetooth address, else the serial
// number of a USB device that is the printer itself. A USB-serial cable's
// serial number is the cable's, which stays on the bench: a station's job
// without an address is a printer of its own.
std::string PrinterOf(const JournalEntry& e) {
    if (!e.btAddress.empty()) return "bt " + Upper(e.btAddress);
    if (!e.usbSerial.empty() && (e.kind == "usb-printer" || e.kind == "usb-acm")) return "usb " + e.usbSerial;
    if (e.n != 0) return "job " + std::to_string(e.n);
    return "port " + e.port;
}

namespace {

std::string SettingValue(const JournalEntry& e, const char* key) {
    for (const JournalSetting& s : e.settings)
        if (s.key == key) return s.value;
    return {};
}

// RFC 4180, and never a formula: a spreadsheet runs a cell that starts with
// = + - or @ (or a blank before one), and a printer's name is anybody's text.
std::string CsvField(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        std::string defused;
        defused.reserve(text.size() + 1);
        defused.push_back('\'');
        defused.append(text);
        text.swap(defused);
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string NameOf(const JournalEntry& e) { return !e.btName.empty() ? e.btName : SettingValue(e, "bt-name"); }

std::string CsvLine(const JournalEntry& e) {
    return (e.n != 0 ? std::to_string(e.n) : std::string()) + "," + CsvField(e.btAddress) + "," + CsvField(NameOf(e)) +
           "," + CsvField(SettingValue(e, "bt-password")) + "," + CsvField(e.time) + "," + CsvField(e.result);
}

std::string HumanLine(const JournalEntry& e) {
    const auto shown = [](const std::string& text) { return text.empty() ? std::string("-") : EscapeControls(text); };
    // The slot where a station gave one; else the port.
    return (e.n != 0 ? std::to_string(e.n) : std::string("-")) + "  " + shown(e.time) + "  " +
           (e.slot.empty() || e.slot == e.port ? shown(e.port) : shown(e.slot) + "  " + shown(e.port)) + "  " +
           shown(e.btAddress) + "  \"" + EscapeControls(NameOf(e)) + "\"  " + shown(e.result);
}

// The values set for some keys, from a record's raw settings.
void SettingsIn(std::string_view settingsText, const std::vector<std::string_view>& keys,
                std::vector<JournalSetting>* found) {
    std::vector<std::string_view> settings;
    if (!SkimArray(settingsText, &settings)) return;
    SkimmedFields setting;
    for (std::string_view one : settings) {
        setting.clear();
        if (!SkimObject(one, &setting)) continue;
        std::string key, value;
        for (const auto& [name, raw] : setting) {
            if (name == "key") SkimmedString(raw, &key);
            if (name == "value") SkimmedString(raw, &value);
        }
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) found->push_back({key, value, {}, 0});
    }
}

std::size_t LineCount(std::string_view text) {
    std::size_t lines = 0;
    for (const char* at = text.data(); const void* next = std::memchr(at, '\n', text.data() + text.size() - at);
         at = static_cast<const char*>(next) + 1)
        ++lines;
    return lines;
}

// A long journal is read in parts side by side, split where lines end.
bool ScanInParts(std::string_view text, JournalScan* scan, std::vector<JournalEntry>* entries, std::string* error) {
    const std::size_t parts = text.size() < kPartBytes ? 1 : kParts;
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < text.size() || pieces.empty();) {
        std::size_t end = pieces.size() + 1 == parts ? text.size() : text.find('\n', at + text.size() / parts);
        end = end == std::string_view::npos ? text.size() : std::min(end + 1, text.size());
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    std::vector<JournalScan> scans(pieces.size());
    std::vector<std::vector<JournalEntry>> found(pieces.size());
    std::vector<std::string> errors(pieces.size());
    std::vector<char> ok(pieces.size(), 0);
    RunInParallel(pieces.size(), pieces.size(), [&](std::size_t i) {
        found[i].reserve(LineCount(pieces[i]));
        ok[i] = ScanJournal(pieces[i], 1, &scans[i], &found[i], &errors[i], JournalDetail::Summary);
    });
    // A bad line: read it all again in one, for the line's number.
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) {
        JournalScan whole;
        std::vector<JournalEntry> none;
        return ScanJournal(text, 1, &whole, &none, error, JournalDetail::Top);
    }
    std::size_t total = 0;
    for (const auto& f : found) total += f.size();
    entries->reserve(total);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::size_t base = static_cast<std::size_t>(pieces[i].data() - text.data());
        for (JournalEntry& e : found[i]) {
            e.offset += base;
            entries->push_back(std::move(e));
        }
        scan->records += scans[i].records;
        scan->torn += scans[i].torn;
        scan->highest = std::max(scan->highest, scans[i].highest);
        scan->endsInLine = scans[i].endsInLine;
    }
    return true;
}

}  // namespace

int ShowJournal(const std::string& path, const JournalQuery& q) {
    std::string error;
    const std::unique_ptr<MappedFile> file = MappedFile::Open(path, &error);
    if (!file) {
        TheConsole().Err("morvane-cli: " + error);
        return kExitUsage;
    }
    const std::string_view text = file->Bytes();
    JournalScan scan;
    std::vector<JournalEntry> entries;
    // The settings are read only for what is shown, and only for a table
    // that shows the password.
    if (!ScanInParts(text, &scan, &entries, &error)) {
        TheConsole().Err("morvane-cli: " + path + ": " + error + "; not a journal of morvane-cli");
        return kExitUsage;
    }
    const std::size_t torn = scan.torn + (scan.endsInLine ? 0 : 1);
    if (torn > 0)
        TheConsole().Err("morvane-cli: " + path + ": skipped " + std::to_string(torn) + " line" +
                         (torn == 1 ? "" : "s") + " cut short (a crash or a power cut while it was written)");

    // A claim that never got its job: the station stopped in the middle.
    std::set<long long> jobs;
    for (const JournalEntry& e : entries)
        if (e.type == "job" && e.n != 0) jobs.insert(e.n);
    std::vector<const JournalEntry*> shown;
    std::map<std::string, std::size_t> latest;  // printer -> place in shown
    for (JournalEntry& e : entries) {
        if (e.type == "claim") {
            if (!q.all || jobs.count(e.n) != 0) continue;
            e.result = "interrupted";
        }
        if (!q.address.empty() && Upper(e.btAddress) != Upper(q.address)) continue;
        if (!q.port.empty() && e.port != q.port) continue;
        if (q.all) {
            shown.push_back(&e);
            continue;
        }
        const auto [at, fresh] = latest.emplace(PrinterOf(e), shown.size());
        if (fresh)
            shown.push_back(&e);
        else
            shown[at->second] = &e;  // keeps the printer's first place, shows its last job
    }
    // Written in large pieces: a journal of a hundred thousand printers is
    // read back in well under a second.
    std::string out = q.csv ? "number,address,name,password,time,result\n" : "";
    const auto flush = [&](std::size_t atLeast) {
        if (out.size() < atLeast) return;
        if (!out.empty() && out.back() == '\n') out.pop_back();
        if (!out.empty()) TheConsole().Out(out);
        out.clear();
    };
    for (const JournalEntry* e : shown) {
        if (q.json) {
            out.append(text.substr(e->offset, e->length));
        } else if (q.csv) {
            // The name and password set are among the settings: looked up
            // in the lines shown only.
            JournalEntry full = *e;
            SettingsIn(e->settingsText, {"bt-name", "bt-password"}, &full.settings);
            out += CsvLine(full);
        } else {
            out += HumanLine(*e);
        }
        out += '\n';
        flush(kOutputPiece);
    }
    flush(0);
    return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
}

}  // namespace morvane::cli

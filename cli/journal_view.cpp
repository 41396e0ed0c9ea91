#include "cli/journal_view.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string_view>

#include "cli/console.h"
#include "cli/journal.h"
#include "cli/output.h"

namespace morvane::cli {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Which printer a record is about.
std::string PrinterOf(const JournalEntry& e) {
    if (!e.btAddress.empty()) return "bt " + Upper(e.btAddress);
    if (!e.usbSerial.empty()) return "usb " + e.usbSerial;
    return "port " + e.port;
}

std::string SettingValue(const JournalEntry& e, const char* key) {
    for (const JournalSetting& s : e.settings)
        if (s.key == key) return s.value;
    return {};
}

// RFC 4180, and never a formula: a spreadsheet runs a cell that starts with
// = + - or @, and a printer's name is anybody's text.
std::string CsvField(std::string text) {
    if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos) text = "'" + text;
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
    return (e.n != 0 ? std::to_string(e.n) : std::string("-")) + "  " + e.time + "  " + shown(e.port) + "  " +
           shown(e.btAddress) + "  \"" + EscapeControls(NameOf(e)) + "\"  " + e.result;
}

}  // namespace

int ShowJournal(const std::string& path, const JournalQuery& q) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        TheConsole().Err("morvane-cli: cannot read the journal " + path);
        return kExitUsage;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    JournalScan scan;
    std::vector<JournalEntry> entries;
    std::string error;
    // The settings are read only for what is shown, and only for a table
    // that shows the password.
    if (!ScanJournal(text, 1, &scan, &entries, &error, JournalDetail::Summary)) {
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
    if (q.csv) TheConsole().Out("number,address,name,password,time,result");
    for (const JournalEntry* e : shown) {
        if (q.json) {
            TheConsole().Out(text.substr(e->offset, e->length));
        } else if (q.csv) {
            JournalEntry full = *e;
            JournalScan one;
            std::vector<JournalEntry> parsed;
            if (ScanJournal(text.substr(e->offset, e->length) + "\n", 1, &one, &parsed, &error) && !parsed.empty()) {
                full.settings = parsed.front().settings;
            }
            TheConsole().Out(CsvLine(full));
        } else {
            TheConsole().Out(HumanLine(*e));
        }
    }
    return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
}

}  // namespace morvane::cli

#include "cli/journal/journal.h"

#include <algorithm>
#include <mutex>  // std::lock_guard

#include "cli/journal/journal_skim.h"
#include "cli/system/platform.h"
#include "cli/text/utc_time.h"

namespace morvane::cli {

namespace {

using nlohmann::json;

// 2^53 - 1: a number past it may come back from a JSON reader as another,
// and a number that repeats is a label printed twice.
constexpr long long kLargestNumber = (1LL << 53) - 1;

std::string Text(const json& record, const char* key) {
    const auto it = record.find(key);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long Number(const json& record, const char* key) {
    const auto it = record.find(key);
    return it != record.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

bool IsOurs(const json& record) {
    if (!record.is_object() || Number(record, "v") != kJournalVersion) return false;
    const std::string type = Text(record, "type");
    return type == "claim" || type == "job";
}

// A line that stops in the middle of a record: what a crash or a power cut
// leaves. Anything else that does not parse is not ours.
bool IsCutShort(std::string_view line, const json::parse_error& e) {
    return !line.empty() && line.front() == '{' && e.byte >= line.size();
}

// The fields of a skimmed record, into an entry; false when it is not one
// of ours.
bool SkimmedEntry(const SkimmedFields& fields, bool wantSettings, JournalEntry* e) {
    long long version = 0;
    for (const auto& [key, raw] : fields) {
        if (key == "v") {
            if (!SkimmedNumber(raw, &version)) return false;
        } else if (key == "n") {
            if (!SkimmedNumber(raw, &e->n)) return false;
        } else if (key == "settings") {
            if (!wantSettings) {
                e->settingsText = raw;  // for a reader that wants one of them later
                continue;
            }
            std::vector<std::string_view> elements;
            if (!SkimArray(raw, &elements)) return false;
            for (std::string_view element : elements) {
                SkimmedFields setting;
                if (!SkimObject(element, &setting)) return false;
                JournalSetting one;
                for (const auto& [sKey, sRaw] : setting) {
                    if (sKey == "key") SkimmedString(sRaw, &one.key);
                    if (sKey == "value") SkimmedString(sRaw, &one.value);
                    if (sKey == "result") SkimmedString(sRaw, &one.result);
                    if (sKey == "ms") SkimmedNumber(sRaw, &one.ms);
                }
                e->settings.push_back(std::move(one));
            }
        } else if (key == "identity") {
            SkimmedFields identity;
            if (!SkimObject(raw, &identity)) return false;
            for (const auto& [idKey, idRaw] : identity) {
                if (idKey == "serial_number") SkimmedString(idRaw, &e->usbSerial);
                if (idKey == "kind") SkimmedString(idRaw, &e->kind);
            }
        } else {
            // What a listing or a report shows; the rest only when the whole record is wanted.
            std::string* field = key == "type"                      ? &e->type
                                 : key == "time"                    ? &e->time
                                 : key == "port"                    ? &e->port
                                 : key == "slot"                    ? &e->slot
                                 : key == "host"                    ? &e->host
                                 : key == "user" && wantSettings    ? &e->user
                                 : key == "command" && wantSettings ? &e->command
                                 : key == "profile" && wantSettings ? &e->profile
                                 : key == "bt_address"              ? &e->btAddress
                                 : key == "bt_name"                 ? &e->btName
                                 : key == "result"                  ? &e->result
                                                                    : nullptr;
            if (field != nullptr && !SkimmedString(raw, field)) return false;
        }
    }
    return version == kJournalVersion && (e->type == "claim" || e->type == "job");
}

}  // namespace

void StampRecord(JournalRecord* record) {
    (*record)["time"] = UtcNow();
    (*record)["host"] = HostName();
    (*record)["user"] = UserName();
}

JournalEntry EntryOf(const json& record) {
    JournalEntry e;
    e.type = Text(record, "type");
    e.n = Number(record, "n");
    e.time = Text(record, "time");
    e.host = Text(record, "host");
    e.user = Text(record, "user");
    e.command = Text(record, "command");
    e.port = Text(record, "port");
    e.slot = Text(record, "slot");
    e.profile = Text(record, "profile");
    e.btAddress = Text(record, "bt_address");
    e.btName = Text(record, "bt_name");
    e.result = Text(record, "result");
    if (const auto id = record.find("identity"); id != record.end() && id->is_object()) {
        e.usbSerial = Text(*id, "serial_number");
        e.kind = Text(*id, "kind");
    }
    if (const auto settings = record.find("settings"); settings != record.end() && settings->is_array())
        for (const json& s : *settings)
            if (s.is_object())
                e.settings.push_back({Text(s, "key"), Text(s, "value"), Text(s, "result"), Number(s, "ms")});
    return e;
}

bool ScanJournal(std::string_view text, std::size_t firstLine, JournalScan* scan, std::vector<JournalEntry>* entries,
                 std::string* error, JournalDetail detail) {
    if (entries == nullptr) detail = JournalDetail::Top;
    std::size_t at = 0;
    std::size_t number = firstLine;
    SkimmedFields fields;
    for (;; ++number) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break;
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        JournalEntry entry;
        fields.clear();
        // A quick pass; the parser judges a line the skim cannot take whole.
        if (SkimObject(line, &fields)) {
            if (!SkimmedEntry(fields, detail == JournalDetail::Full, &entry)) {
                *error = "line " + std::to_string(number) + " is not a record of morvane-cli's journal";
                return false;
            }
        } else {
            json record;
            try {
                record = json::parse(line);
            } catch (const json::parse_error& e) {
                if (IsCutShort(line, e)) {
                    ++scan->torn;
                    continue;
                }
                *error = "line " + std::to_string(number) + " is not a record of morvane-cli's journal";
                return false;
            }
            if (!IsOurs(record)) {
                *error = "line " + std::to_string(number) + " is not a record of morvane-cli's journal";
                return false;
            }
            entry = EntryOf(record);
        }
        ++scan->records;
        scan->highest = std::max(scan->highest, entry.n);
        if (entries != nullptr) {
            entry.offset = static_cast<std::size_t>(line.data() - text.data());
            entry.length = line.size();
            entries->push_back(std::move(entry));
        }
    }
    scan->consumed = at;
    scan->endsInLine = at == text.size();
    return true;
}

JournalRecord NewRecord(const std::string& type) { return {{"v", kJournalVersion}, {"type", type}}; }

JournalRecord IdentityObject(const PortInfo& port) {
    JournalRecord j = {{"kind", PortClassName(port.kind)}};
    ForEachIdentityField(port.identity, [&](const char* name, const std::string& value) { j[name] = value; });
    return j;
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, std::string* error) {
    JournalOpened opened = JournalOpened::Refused;
    return Open(path, {}, &opened, error);
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, const JournalOpening& opening, JournalOpened* opened,
                                       std::string* error) {
    *opened = JournalOpened::Refused;
    std::unique_ptr<JournalFile> file = JournalFile::Open(path, error);
    if (!file) return nullptr;
    std::unique_ptr<Journal> journal(new Journal(std::move(file), path));
    *opened = journal->Lock(opening, error);
    if (*opened != JournalOpened::Open) return nullptr;
    *opened = JournalOpened::Refused;
    const bool read = journal->CatchUp(error);
    journal->file_->Unlock();
    if (!read) {
        *error = path + ": " + *error + "; not a journal to add to";
        return nullptr;
    }
    *opened = JournalOpened::Open;
    return journal;
}

JournalOpened Journal::Lock(const JournalOpening& opening, std::string* error) {
    constexpr auto kTry = std::chrono::milliseconds(20);
    const auto giveUp = std::chrono::steady_clock::now() + kJournalLockBound;
    std::string holder;
    for (bool told = false;;) {
        bool held = false;
        if (file_->TryLock(&held, error)) return JournalOpened::Open;
        if (!held) return JournalOpened::Refused;
        if (!told) {
            told = true;
            holder = file_->Holder();
            if (opening.onWait) opening.onWait(holder);
        }
        if (opening.stop != nullptr && opening.stop->load()) return JournalOpened::Stopped;
        if (std::chrono::steady_clock::now() >= giveUp) {
            const std::string now = file_->Holder();
            *error = "the journal " + path_ + " is in use" + (now.empty() ? "" : " by " + now) +
                     ": its lock was held for " + std::to_string(kJournalLockBound.count() / 1000) + " s";
            return JournalOpened::InUse;
        }
        PauseMs(static_cast<unsigned>(kTry.count()));
    }
}

bool Journal::CatchUp(std::string* error) {
    std::string text;
    if (!file_->ReadFrom(scanned_, &text, error)) return false;
    JournalScan more;
    if (!ScanJournal(text, lines_ + 1, &more, nullptr, error)) return false;
    lines_ += static_cast<std::size_t>(
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(more.consumed), '\n'));
    scanned_ += more.consumed;
    scan_.records += more.records;
    scan_.torn += more.torn;
    scan_.highest = std::max(scan_.highest, more.highest);
    scan_.endsInLine = more.endsInLine;
    return true;
}

bool Journal::AppendLocked(const JournalRecord& record, std::string* error) {
    if (!CatchUp(error)) return false;
    // Never glued to a line a crash cut short.
    std::string line = scan_.endsInLine ? "" : "\n";
    line.append(record.dump(-1, ' ', false, json::error_handler_t::replace)).push_back('\n');
    return file_->Append(line, error);
}

bool Journal::Claim(long long start, const std::string& port, long long* n, std::string* error) {
    std::lock_guard<Mutex> one(mu_);
    if (Lock({}, error) != JournalOpened::Open) return false;
    bool ok = CatchUp(error);
    if (ok && (scan_.highest >= kLargestNumber || start > kLargestNumber)) {
        // Before adding one: a highest another program wrote may be the largest a long long holds.
        *error = "the journal " + path_ + " has no number left to give (its highest is " +
                 std::to_string(scan_.highest) + "): the next would be beyond " + std::to_string(kLargestNumber) +
                 ", the largest that every JSON reader keeps exactly; start a new journal";
        ok = false;
    } else if (ok) {
        *n = std::max(scan_.highest + 1, start);
        JournalRecord claim = NewRecord("claim");
        claim["n"] = *n;
        StampRecord(&claim);
        claim["port"] = port;
        ok = AppendLocked(claim, error);
        if (ok) scan_.highest = *n;
    }
    file_->Unlock();
    return ok;
}

bool Journal::Write(const JournalRecord& record, std::string* error) {
    std::lock_guard<Mutex> one(mu_);
    if (Lock({}, error) != JournalOpened::Open) return false;
    const bool ok = AppendLocked(record, error);
    file_->Unlock();
    return ok;
}

}  // namespace morvane::cli

// The machine check on Windows, as far as it goes there: whether each COM
// port of a USB adapter the system maps, and each COM port named with -p,
// opens (for reading, closed at once: nothing is sent), the port library's
// USB and LPT ports listed, and whether the journal can be written. What
// is Linux's (ModemManager, brltty, udev) has no line; what Windows has but
// is not looked at is said to be not checked.
#include <windows.h>

#include <optional>
#include <vector>

#include "cli/doctor/doctor.h"
#include "cli/run/line.h"
#include "cli/ports/port_name.h"
#include "cli/windows/system_error.h"
#include "cli/windows/utf16.h"
#include "common/scoped_handle.h"

namespace morvane::cli {

namespace {

Finding Make(const char* check, Finding::Status status, const std::string& subject, const std::string& text,
             const std::string& fix = {}) {
    return {check, status, subject, text, fix};
}

// Opens the COM port for reading and closes it at once: nothing is sent.
Finding OpenCom(const std::string& shown, int number) {
    const std::string device = "\\\\.\\COM" + std::to_string(number);
    const ScopedHandle h(CreateFileA(device.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (h) return Make("port-access", Finding::Status::Ok, shown, "it opens");
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        return Make("port-access", Finding::Status::Problem, shown, "another program has it open",
                    "close that program (a terminal, a vendor's tool, a printer driver), then try again");
    return Make("port-access", Finding::Status::Problem, shown, "it does not open: " + SystemMessage(error),
                "look at the device in Device Manager, or plug it in again");
}

void CheckPorts(const std::vector<std::string>& named, std::vector<Finding>* out) {
    std::vector<PortName> names;
    for (const std::string& text : named)
        if (const std::optional<PortName> p = ParsePortName(text)) names.push_back(*p);
    const auto isNamed = [&](const PortName& listed) {
        for (const PortName& n : names)
            if (n.kind == listed.kind && n.number == listed.number) return true;
        return false;
    };
    const std::size_t before = out->size();
    std::vector<PortName> seen;
    for (const PortInfo& p : ListPorts()) {
        const std::optional<PortName> name = ParsePortName(p.name);
        if (!name) continue;
        seen.push_back(*name);
        if (!p.serial) {
            out->push_back(Make("port-access", Finding::Status::NotChecked, p.name,
                                "reached through the port library; not opened by the check"));
        } else if (p.kind == PortClass::Bluetooth) {
            out->push_back(Make("port-access", Finding::Status::NotChecked, p.name,
                                "a Bluetooth port is not opened by the check: that would call the printer"));
        } else if (!ProbedByDefault(p.kind) && !isNamed(*name)) {
            // A console or a modem may hang there, as on Linux.
            out->push_back(Make("port-access", Finding::Status::NotChecked, p.name,
                                "a plain serial port is opened only when named: doctor -p " + p.name));
        } else {
            out->push_back(OpenCom(p.name, name->number));
        }
    }
    // Named but not listed: the system's listing need not show every port that opens.
    for (const PortName& n : names) {
        bool listed = false;
        for (const PortName& s : seen) listed = listed || (s.kind == n.kind && s.number == n.number);
        if (listed) continue;
        if (n.kind == PortName::Kind::Com) {
            out->push_back(OpenCom(n.text, n.number));
        } else {
            out->push_back(Make("port-access", Finding::Status::NotChecked, n.text,
                                n.kind == PortName::Kind::Tcp ? "a network printer is not checked"
                                                              : "not a COM port: not opened by the check"));
        }
    }
    if (out->size() == before)
        out->push_back(Make("port-access", Finding::Status::Ok, "",
                            "the system maps no COM port and the port library counts no USB or LPT port: nothing to "
                            "check (a port that opens by its name is still taken with -p)"));
}

// Whether this user's token is granted `rights` on the file or folder by
// its access list; *known false when the system would not say.
bool Granted(const std::wstring& path, DWORD rights, bool* known) {
    *known = false;
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<BYTE> descriptor(size);
    if (!GetFileSecurityW(path.c_str(), parts, descriptor.data(), size, &size)) return false;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &opened)) return false;
    const ScopedHandle process(opened);
    HANDLE duplicate = nullptr;
    if (!DuplicateToken(process.Get(), SecurityImpersonation, &duplicate)) return false;
    const ScopedHandle token(duplicate);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD wanted = rights;
    MapGenericMask(&wanted, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    const BOOL checked =
        AccessCheck(descriptor.data(), token.Get(), wanted, &mapping, &privileges, &privilegesSize, &granted, &allowed);
    *known = checked != FALSE;
    return checked && allowed;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(written);
    return full;
}

void CheckJournal(const MachineCheckOptions& o, std::vector<Finding>* out) {
    const std::wstring journal = FullPath(Utf16(o.journal.empty() ? "." : o.journal));
    const DWORD attributes = o.journal.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(journal.c_str());
    bool known = false;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const std::string name = Utf8(journal);
        const bool may = (attributes & FILE_ATTRIBUTE_READONLY) == 0 &&
                         Granted(journal, FILE_GENERIC_READ | FILE_APPEND_DATA, &known);
        if (may)
            out->push_back(Make("journal", Finding::Status::Ok, name, "this user may read it and add to it"));
        else if (!known && (attributes & FILE_ATTRIBUTE_READONLY) == 0)
            out->push_back(Make("journal", Finding::Status::NotChecked, name, "the system would not tell its access"));
        else
            out->push_back(Make("journal", Finding::Status::Problem, name, "this user may not add to it",
                                "name another journal, or give this user the right to write it"));
        return;
    }
    // A new journal is made in its folder.
    std::wstring folder = journal;
    if (!o.journal.empty()) {
        const std::size_t slash = folder.find_last_of(L"\\/");
        folder = slash == std::wstring::npos ? L"." : folder.substr(0, slash + 1);
    }
    const std::string where = Utf8(folder);
    const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        out->push_back(Make("journal", Finding::Status::Problem, where, "the journal's folder does not exist",
                            "make it (mkdir), or name a journal in another folder"));
    } else if (Granted(folder, FILE_ADD_FILE, &known)) {
        out->push_back(Make("journal", Finding::Status::Ok, where, "this user may make the journal in this folder"));
    } else if (!known) {
        out->push_back(Make("journal", Finding::Status::NotChecked, where, "the system would not tell its access"));
    } else {
        out->push_back(Make("journal", Finding::Status::Problem, where, "this user may not make files in this folder",
                            "name a journal in a folder this user may write to (--journal FOLDER\\FILE)"));
    }
}

}  // namespace

std::vector<Finding> CheckMachine(const MachineCheckOptions& options) {
    std::vector<Finding> findings;
    CheckPorts(options.ports, &findings);
    findings.push_back(Make("print-queue", Finding::Status::NotChecked, "",
                            "whether the print spooler holds a USB printer is not checked on Windows"));
    findings.push_back(
        Make("autosuspend", Finding::Status::NotChecked, "", "USB selective suspend is not checked on Windows"));
    findings.push_back(
        Make("device-events", Finding::Status::Ok, "", "the station lists the ports every 250 ms on Windows"));
    CheckJournal(options, &findings);
    return findings;
}

}  // namespace morvane::cli

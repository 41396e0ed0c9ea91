// The machine check, `doctor`: what stands between this machine and its
// printers, each finding with its fix. The platform reads the system
// (cli/posix, cli/windows); this part reports and sets the exit status.
#pragma once
#include <string>
#include <vector>

namespace morvane::cli {

struct Finding {
    enum class Status { Ok, Problem, NotChecked };
    std::string check;  // "port-access", "modemmanager", "brltty", "print-queue", ...
    Status status = Status::Ok;
    std::string subject;  // what it is about (a port, a process, a folder); may be empty
    std::string text;     // what was seen: the problem, or why all is well
    std::string fix;      // what to do about a problem
};
const char* FindingStatusName(Finding::Status status);  // "ok", "problem", "not-checked"

struct MachineCheckOptions {
    std::string journal;  // the journal the station will write; empty: one in the current folder
    // Ports named with -p: checked as well, printer ports or not (a plain
    // serial port is looked at only when named).
    std::vector<std::string> ports;
};

// The platform's checks, in order. They only read: no port is opened for
// writing and nothing is sent.
std::vector<Finding> CheckMachine(const MachineCheckOptions& options);

// "problem      modemmanager  ModemManager (pid 812) is running: ...; fix: ...",
// or one JSON object.
std::string FormatFinding(const Finding& finding, bool json);
// 0 when nothing stands in the way, 1 when a finding is a problem.
int DoctorStatus(const std::vector<Finding>& findings);

// The command: the findings, one a line, or with udevRule the rule for
// that selector; returns the exit status.
int RunDoctor(const MachineCheckOptions& options, const std::string& udevRule, bool json);

}  // namespace morvane::cli

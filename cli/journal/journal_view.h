// `journal FILE`: what a journal says, for the labels on the boxes and for
// a spreadsheet. By default the latest job of each printer, known by its
// Bluetooth address, else its USB serial number, else its port.
#pragma once
#include <string>

namespace morvane::cli {

struct JournalQuery {
    bool all = false;     // every record, claims that never got a job too
    std::string address;  // only this printer
    std::string port;     // only jobs on this port
    bool csv = false;     // number, address, name, password, time, result
    bool json = false;    // the records as they stand
};

// The exit status: 0, 2 for a file that cannot be read or is no journal.
int ShowJournal(const std::string& path, const JournalQuery& query);

struct JournalEntry;
// Which printer a record is about, as the views tell printers apart.
std::string PrinterOf(const JournalEntry& e);

}  // namespace morvane::cli

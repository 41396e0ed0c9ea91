// The command against a printer on TCP, case by case: the same table runs
// natively (tests/cli) and with morvane-cli.exe under Wine (tests/e2e), so
// that both lines are held to one set of records.
#pragma once
#include <string>
#include <vector>

#include "reply_shaper.h"

namespace morvane::test {

struct TcpCase {
    const char* name;
    std::vector<vprinter::Behaviour> queued;  // one per frame, in order
    vprinter::Behaviour run;                  // every frame after those
    std::vector<std::string> args;            // "{profile}" stands for a file holding `profile`
    const char* profile;
    std::vector<const char*> results;  // one record per key, in order
    int status;
    const char* detail;  // in the records, when not empty
};

inline const std::vector<TcpCase>& TcpCases() {
    static const std::vector<TcpCase> cases = {
        {"a profile",
         {},
         {},
         {"apply", "{profile}"},
         "bt-name = \"Till {n}\"\nbt-password = 4321\ndarkness = 5\nposition = -28\nbaud = 115200\n",
         {"ok", "ok", "ok", "ok", "ok"},
         0,
         ""},
        {"the three reads", {}, {}, {"get", "bt-name", "bt-address", "bt-password"}, "", {"ok", "ok", "ok"}, 0, ""},
        {"refused",
         {vprinter::Behaviour::AnswerFF()},
         {},
         {"set", "darkness=4", "beeper=on"},
         "",
         {"refused", "ok"},
         1,
         "refused"},
        {"silent",
         {vprinter::Behaviour::Silent()},
         {},
         {"set", "darkness=4", "beeper=on"},
         "",
         {"no-answer", "not-sent"},
         3,
         "may or may not have taken it"},
        // Every answer comes after the next frame has left: darkness's answer
        // is dropped while position waits, and never taken for its own.
        {"late, crossing the next frame",
         {},
         vprinter::Behaviour::Late(1200),
         {"set", "darkness=4", "position=1000", "--keep-going", "--timeout", "1000"},
         "",
         {"no-answer", "no-answer"},
         3,
         "no answer"},
        {"reset mid-job",
         {vprinter::Behaviour::Normal(), vprinter::Behaviour::Hangup()},
         {},
         {"set", "darkness=4", "beeper=on", "sleep=9"},
         "",
         {"ok", "error", "not-sent"},
         3,
         "the connection was reset"},
    };
    return cases;
}

}  // namespace morvane::test

// virtual-printer: a printer on a pseudo-terminal, for running the tool
// without hardware. See --help.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tcp_serve.h"
#include "virtual_printer.h"

namespace {

const char kUsage[] =
    "Usage: virtual-printer [OPTION]...\n"
    "\n"
    "Opens a pseudo-terminal and answers printer configuration frames\n"
    "(1D 46 code argument) on it like a printer: set frames get the status\n"
    "reply 1D 46 code 00 (FF when the value is out of range, which is then not\n"
    "stored), the reads of name (72), address (74) and password (77) get\n"
    "1D 46 code L text. Unknown codes are taken as 4-byte frames and refused\n"
    "with 1D 46 code FF. Bytes before 1D 46 are skipped; a frame cut off by\n"
    "500 ms of silence is dropped.\n"
    "\n"
    "The first line on standard output is the slave side's path (e.g.\n"
    "/dev/pts/7); after a hangup and reopen each new path follows on a line of\n"
    "its own. Runs until SIGTERM or SIGINT, then removes its links.\n"
    "\n"
    "Options:\n"
    "  --tcp [ADDR:]PORT    a network printer instead: listen on ADDR (default\n"
    "                       127.0.0.1; [::1] for IPv6) at PORT (0: any free port)\n"
    "                       and serve one client at a time, the next ones waiting\n"
    "                       in the listen queue; prints tcp://ADDR:PORT. Faults\n"
    "                       as on the pseudo-terminal; hangup resets the\n"
    "                       connection. --pace: as slow as a network module's\n"
    "                       115200-baud link to the printer\n"
    "  --count N            with --tcp: N printers in this one process on N\n"
    "                       consecutive ports, each with its own settings, name\n"
    "                       (VirtualPrinter-1, ...) and address; one line each\n"
    "  --link PATH          make PATH a symbolic link to the slave side (replacing\n"
    "                       what is there), e.g. $WINEPREFIX/dosdevices/com1;\n"
    "                       may be given several times\n"
    "  --log FILE           log every frame received and every reply sent, in\n"
    "                       hex with a timestamp (seconds since start), to FILE\n"
    "                       (default: standard error)\n"
    "  --no-log             log nothing (for measurements: no line is formatted)\n"
    "  --name TEXT          Bluetooth name to start with\n"
    "  --address TEXT       Bluetooth address to start with (read only)\n"
    "  --password TEXT      pairing password to start with\n"
    "\n"
    "The line, as a printer's UART sees it:\n"
    "  --pace               frames and answers take their time on the wire: 10\n"
    "                       bits a byte at the speed the other end set on the\n"
    "                       line; a frame is in its length in byte times after\n"
    "                       its first byte, answer byte k leaves k byte times\n"
    "                       after that\n"
    "  --baud N             the printer's own speed: 2400, 4800, 9600 (default),\n"
    "                       19200, 38400, 57600 or 115200; an accepted baud\n"
    "                       setting (code 78, value 1..7) changes it once its\n"
    "                       status reply is written\n"
    "  --strict-speed       answer only while the line's speed equals the\n"
    "                       printer's own; frames at another speed are ignored\n"
    "                       and logged\n"
    "\n"
    "Misbehaviour for every frame of the run:\n"
    "  --fault NAME         none (default), silent (no answer), late (answer\n"
    "                       after --delay), pieces (answer in --piece-size byte\n"
    "                       pieces, --delay apart), wrong-length (--extra zero\n"
    "                       bytes added: a 5-byte status reply), truncated (only\n"
    "                       the first --cut-to bytes), answer-ff (byte 3 is FF),\n"
    "                       prefix11 (an 11 byte first), stray (--stray bytes\n"
    "                       first), value-length (value replies carry\n"
    "                       --value-length as length byte), hangup (no answer;\n"
    "                       the line hangs up --delay after the frame and comes\n"
    "                       back on a new pseudo-terminal --reopen-after later)\n"
    "  --delay MS           for late, pieces and hangup (default 0)\n"
    "  --piece-size N       for pieces (default 1)\n"
    "  --cut-to N           for truncated (default 3)\n"
    "  --extra N            for wrong-length (default 1)\n"
    "  --value-length N     for value-length, 0..255\n"
    "  --pad                for value-length: send exactly N text bytes, the\n"
    "                       stored text padded with 'A' (default: the stored\n"
    "                       text as it is)\n"
    "  --stray HEX          for stray, e.g. 00,55,AA (default)\n"
    "  --reopen-after MS    for hangup (default 1000; -1 stays down)\n"
    "  --help               show this text\n"
    "\n"
    "Faults change only the answer: every frame is still logged and applied.\n";

bool ParseInt(const std::string& text, long low, long high, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseHexList(const std::string& text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    std::string digits;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == ':') continue;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        bytes->push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool IsPrinterSpeed(long bps) {
    for (int value = 1; value <= 7; ++value) {
        if (vprinter::BaudForSetting(value) == bps) return true;
    }
    return false;
}

int Fail(const std::string& message) {
    std::cerr << "virtual-printer: " << message << "\nTry 'virtual-printer --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> links;
    std::string logPath;
    std::string name, address, password;
    bool haveName = false, haveAddress = false, havePassword = false;
    vprinter::Behaviour behaviour;
    bool reopenGiven = false;
    vprinter::LineOptions lineOptions;
    std::string tcp;
    bool noLog = false;
    long count = 1;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string value;
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--tcp") {
            if (!next(&tcp)) return Fail("--tcp needs [ADDR:]PORT");
        } else if (arg == "--count") {
            if (!next(&value) || !ParseInt(value, 1, 20000, &count)) return Fail("bad --count: 1 to 20000");
        } else if (arg == "--link") {
            if (!next(&value)) return Fail("--link needs a path");
            links.push_back(value);
        } else if (arg == "--log") {
            if (!next(&logPath)) return Fail("--log needs a file");
        } else if (arg == "--no-log") {
            noLog = true;
        } else if (arg == "--name") {
            if (!next(&name)) return Fail("--name needs a text");
            haveName = true;
        } else if (arg == "--address") {
            if (!next(&address)) return Fail("--address needs a text");
            haveAddress = true;
        } else if (arg == "--password") {
            if (!next(&password)) return Fail("--password needs a text");
            havePassword = true;
        } else if (arg == "--pace") {
            lineOptions.pace = true;
        } else if (arg == "--strict-speed") {
            lineOptions.strictSpeed = true;
        } else if (arg == "--baud") {
            if (!next(&value) || !ParseInt(value, 1, 115200, &number) || !IsPrinterSpeed(number))
                return Fail("bad --baud: one of 2400 4800 9600 19200 38400 57600 115200");
            lineOptions.baud = static_cast<int>(number);
        } else if (arg == "--fault") {
            if (!next(&value) || !vprinter::ParseFault(value, &behaviour.fault)) return Fail("unknown fault");
        } else if (arg == "--delay") {
            if (!next(&value) || !ParseInt(value, 0, 600000, &number)) return Fail("bad --delay");
            behaviour.delayMs = static_cast<int>(number);
        } else if (arg == "--piece-size") {
            if (!next(&value) || !ParseInt(value, 1, 255, &number)) return Fail("bad --piece-size");
            behaviour.pieceSize = static_cast<std::size_t>(number);
        } else if (arg == "--cut-to") {
            if (!next(&value) || !ParseInt(value, 0, 255, &number)) return Fail("bad --cut-to");
            behaviour.cutTo = static_cast<std::size_t>(number);
        } else if (arg == "--extra") {
            if (!next(&value) || !ParseInt(value, 0, 255, &number)) return Fail("bad --extra");
            behaviour.extraBytes = static_cast<std::size_t>(number);
        } else if (arg == "--value-length") {
            if (!next(&value) || !ParseInt(value, 0, 255, &number)) return Fail("bad --value-length");
            behaviour.valueLength = static_cast<int>(number);
        } else if (arg == "--pad") {
            behaviour.padValue = true;
        } else if (arg == "--stray") {
            if (!next(&value) || !ParseHexList(value, &behaviour.stray)) return Fail("bad --stray");
        } else if (arg == "--reopen-after") {
            if (!next(&value) || !ParseInt(value, -1, 600000, &number)) return Fail("bad --reopen-after");
            behaviour.reopenAfterMs = static_cast<int>(number);
            reopenGiven = true;
        } else {
            return Fail("unknown option " + arg);
        }
    }
    if (behaviour.fault == vprinter::Fault::Hangup && !reopenGiven) behaviour.reopenAfterMs = 1000;

    std::ofstream logFile;
    std::ostream* log = &std::cerr;
    if (!logPath.empty()) {
        logFile.open(logPath, std::ios::out | std::ios::trunc);
        if (!logFile) return Fail("cannot write " + logPath);
        log = &logFile;
    }
    if (noLog) log = nullptr;

    // The worker thread inherits this mask, so the signals reach sigtimedwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!tcp.empty()) {
        vprinter::TcpServeOptions serve;
        if (!vprinter::ParseTcpSpec(tcp, &serve)) return Fail("bad --tcp: [ADDR:]PORT, e.g. 127.0.0.5:9100");
        if (!links.empty()) return Fail("--link is for the pseudo-terminal, not --tcp");
        serve.count = static_cast<std::size_t>(count);
        if (haveName) serve.name = name;
        if (haveAddress) serve.address0 = address;
        if (havePassword) serve.password = password;
        serve.behaviour = behaviour;
        serve.line = lineOptions;
        return vprinter::ServeTcp(serve, log, stopSignals);
    }
    if (count != 1) return Fail("--count is for --tcp");

    vprinter::VirtualPrinter printer(log);
    if (haveName) printer.SetName(name);
    if (haveAddress) printer.SetAddress(address);
    if (havePassword) printer.SetPassword(password);
    printer.SetBehaviour(behaviour);
    printer.SetLineOptions(lineOptions);
    std::string error;
    if (!printer.Start(&error)) {
        std::cerr << "virtual-printer: " << error << "\n";
        return 1;
    }
    std::string shown = printer.SlavePath();
    std::cout << shown << std::endl;
    int status = 0;
    for (const std::string& link : links) {
        if (!printer.AddLink(link, &error)) {
            std::cerr << "virtual-printer: " << error << "\n";
            status = 1;
        }
    }
    if (status != 0) {
        printer.Stop();
        return status;
    }

    for (;;) {
        const timespec tick = {0, 200 * 1000 * 1000};
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal > 0) break;
        const std::string path = printer.SlavePath();
        if (path != shown && printer.IsOpen()) {
            shown = path;
            std::cout << shown << std::endl;
        }
    }
    printer.Stop();
    return 0;
}

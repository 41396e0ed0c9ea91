#include "cli/posix/print_queues.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <sstream>
#include <string_view>

namespace morvane::cli {

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "Receipt%20Printer" -> "Receipt Printer"; CUPS writes '+' for a blank in
// the query.
std::string Decoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

// A field of an IEEE 1284 device id, under any of its names.
std::string Field1284(const std::string& id, std::initializer_list<const char*> names) {
    std::istringstream fields(id);
    for (std::string field; std::getline(fields, field, ';');) {
        const std::size_t colon = field.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = Lower(Trimmed(field.substr(0, colon)));
        for (const char* name : names)
            if (key == name) return Trimmed(field.substr(colon + 1));
    }
    return {};
}

bool Same(const std::string& a, const std::string& b) { return !a.empty() && Lower(a) == Lower(b); }

}  // namespace

std::vector<PrintQueue> ParsePrintersConf(const std::string& text) {
    std::vector<PrintQueue> queues;
    std::istringstream lines(text);
    std::optional<PrintQueue> open;
    for (std::string line; std::getline(lines, line);) {
        line = Trimmed(line);
        if (line.rfind("<Printer ", 0) == 0 || line.rfind("<DefaultPrinter ", 0) == 0) {
            const std::size_t blank = line.find(' ');
            open = PrintQueue{Trimmed(line.substr(blank + 1, line.size() - blank - 2)), {}};
        } else if (line == "</Printer>" || line == "</DefaultPrinter>") {
            if (open && !open->uri.empty()) queues.push_back(*open);
            open.reset();
        } else if (open && line.rfind("DeviceURI ", 0) == 0) {
            open->uri = Trimmed(line.substr(10));
        }
    }
    return queues;
}

std::vector<PrintQueue> ParseLpstatDevices(const std::string& text) {
    std::vector<PrintQueue> queues;
    std::istringstream lines(text);
    constexpr std::string_view kLead = "device for ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kLead, 0) != 0) continue;
        // A queue's name holds no ':' or blank; the URI may hold ':'.
        const std::size_t colon = line.find(": ", kLead.size());
        if (colon == std::string::npos) continue;
        queues.push_back({line.substr(kLead.size(), colon - kLead.size()), Trimmed(line.substr(colon + 2))});
    }
    return queues;
}

std::optional<UsbQueueTarget> ParseUsbUri(const std::string& uri) {
    constexpr std::string_view kScheme = "usb://";
    if (Lower(uri.substr(0, kScheme.size())) != kScheme) return std::nullopt;
    std::string rest = uri.substr(kScheme.size());
    std::string query;
    if (const std::size_t q = rest.find('?'); q != std::string::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    UsbQueueTarget target;
    const std::size_t slash = rest.find('/');
    target.make = Decoded(rest.substr(0, slash));
    if (slash != std::string::npos) target.model = Decoded(rest.substr(slash + 1));
    std::istringstream pairs(query);
    for (std::string pair; std::getline(pairs, pair, '&');)
        if (pair.rfind("serial=", 0) == 0) target.serial = Decoded(pair.substr(7));
    return target;
}

bool QueueNames(const UsbQueueTarget& target, const UsbPrinterNames& printer) {
    if (!target.serial.empty())
        return Same(target.serial, printer.serial) ||
               Same(target.serial, Field1284(printer.ieee1284, {"sn", "sern", "serialnumber"}));
    const std::string make = Field1284(printer.ieee1284, {"mfg", "manufacturer"});
    const std::string model = Field1284(printer.ieee1284, {"mdl", "model"});
    return (Same(target.make, make) && Same(target.model, model)) ||
           (Same(target.make, printer.manufacturer) && Same(target.model, printer.product));
}

}  // namespace morvane::cli

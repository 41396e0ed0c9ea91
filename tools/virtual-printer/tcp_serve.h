// virtual-printer --tcp [ADDR:]PORT [--count N]: the command's network mode.
#pragma once

#include <csignal>
#include <optional>
#include <ostream>
#include <string>

#include "printer_model.h"
#include "reply_shaper.h"
#include "virtual_printer.h"

namespace vprinter {

struct TcpServeOptions {
    std::string address = "127.0.0.1";  // never reachable from the network unless asked
    int port = 0;
    std::size_t count = 1;
    std::optional<std::string> name, address0, password;  // given with --name, --address, --password
    Behaviour behaviour;
    LineOptions line;
};

// "9100", "127.0.0.5:9100", "[::1]:9100"; false for anything else.
bool ParseTcpSpec(const std::string& text, TcpServeOptions* options);

// Serves until one of `stopSignals` comes (they are blocked already);
// prints each printer's tcp:// address on a line of its own first.
int ServeTcp(const TcpServeOptions& options, std::ostream* log, const sigset_t& stopSignals);

}  // namespace vprinter

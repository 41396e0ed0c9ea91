#include "tcp_serve.h"

#include <cstdlib>
#include <iostream>

#include "tcp_printers.h"

namespace vprinter {

bool ParseTcpSpec(const std::string& text, TcpServeOptions* options) {
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        options->address = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        options->address = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || value < 0 || value > 65535 || options->address.empty()) return false;
    options->port = static_cast<int>(value);
    return true;
}

int ServeTcp(const TcpServeOptions& options, std::ostream* log, const sigset_t& stopSignals) {
    TcpPrinters printers(log);
    printers.SetLineOptions(options.line);
    std::string error;
    if (!printers.Start(options.address, options.port, options.count, &error)) {
        std::cerr << "virtual-printer: " << error << "\n";
        return 1;
    }
    for (std::size_t i = 0; i < options.count; ++i) {
        if (options.name) printers.SetName(i, *options.name);
        if (options.address0 && i == 0) printers.SetAddress(i, *options.address0);
        if (options.password) printers.SetPassword(i, *options.password);
        printers.SetBehaviour(i, options.behaviour);
        std::cout << printers.Url(i) << "\n";
    }
    std::cout << std::flush;
    int signal = 0;
    do {
        signal = sigwaitinfo(&stopSignals, nullptr);
    } while (signal < 0);
    printers.Stop();
    return 0;
}

}  // namespace vprinter

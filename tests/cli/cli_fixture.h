// The native morvane-cli against virtual printers on real pseudo-terminals:
// the fixture the command's tests share.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "command.h"
#include "virtual_printer.h"

namespace clitest {

using vprinter::Behaviour;
using vprinter::VirtualPrinter;

class CliTest : public ::testing::Test {
protected:
    VirtualPrinter& AddPrinter() {
        printers_.push_back(std::make_unique<VirtualPrinter>());
        std::string error;
        EXPECT_TRUE(printers_.back()->Start(&error)) << error;
        return *printers_.back();
    }
    void SetUp() override { AddPrinter(); }
    VirtualPrinter& Printer(std::size_t i = 0) { return *printers_.at(i); }
    std::string Port(std::size_t i = 0) { return Printer(i).SlavePath(); }

    // The command on the first printer, with a short time-out.
    CommandResult Cli(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.end(), {"-p", Port(), "--timeout", "300"});
        return RunCli(args, input);
    }

    std::string WriteProfile(const std::string& text) {
        char path[] = "/tmp/morvane-profile-XXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        close(fd);
        std::ofstream(path) << text;
        profiles_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const std::string& p : profiles_) std::remove(p.c_str());
    }

    static std::vector<nlohmann::json> Json(const CommandResult& r) {
        std::vector<nlohmann::json> objects;
        for (const std::string& line : r.Lines()) objects.push_back(nlohmann::json::parse(line));
        return objects;
    }
    // The records of a batch, by port: printers' lines may interleave.
    static std::map<std::string, std::vector<nlohmann::json>> ByPort(const CommandResult& r) {
        std::map<std::string, std::vector<nlohmann::json>> ports;
        for (const nlohmann::json& j : Json(r)) ports[j["port"]].push_back(j);
        return ports;
    }

    std::vector<std::unique_ptr<VirtualPrinter>> printers_;
    std::vector<std::string> profiles_;
};

// A profile with each of the 16 keys a printer takes.
inline constexpr const char* kEverySetting =
    "# every setting a printer takes\n"
    "bt-name = \"Shop 7\"\n"
    "bt-password = 4321\n"
    "bt-visible = visible\n"
    "bt-mode = Disable\n"
    "darkness = 4\n"
    "beeper = off\n"
    "sleep = 200\n"
    "chinese = traditional\n"
    "mark-sensitivity = 7\n"
    "gap-sensitivity = 3\n"
    "position = -28\n"
    "language = english\n"
    "paper-sensor = none\n"
    "command-set = cpcl\n"
    "paper-width = 80mm\n"
    "baud = 9600\n";

// A printer as a real UART: it hears only frames at its own speed.
inline void StrictAt(VirtualPrinter& printer, int baud) {
    vprinter::LineOptions line;
    line.pace = true;
    line.baud = baud;
    line.strictSpeed = true;
    printer.SetLineOptions(line);
}

}  // namespace clitest

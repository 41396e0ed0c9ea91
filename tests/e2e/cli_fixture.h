// morvane-cli.exe under Wine, beside the real port library in a run folder,
// with a virtual printer on COM1 (and, on request, on USB1: through the
// library's TarnPort.ini).
#pragma once
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "printer_fixture.h"

namespace e2e {

class CliFixture : public PrinterTest {
protected:
    struct CliRun {
        int status = -1;
        std::vector<std::string> lines;
    };

    void PrepareFolder(bool usb1 = false) {
        folder_ = std::make_unique<RunFolder>(RunFolder::Library::Real);
        namespace fs = std::filesystem;
        fs::copy_file(fs::path(Paths::WinBuild()) / "Morvane" / "morvane-cli.exe",
                      fs::path(folder_->Path()) / "morvane-cli.exe");
        if (!usb1) return;
        std::string error;
        ASSERT_TRUE(printer_->AddLink(folder_->Path() + "/usb1-cable", &error)) << error;
        folder_->WriteFile("TarnPort.ini", "[Ports]\r\nUSB1=" + folder_->WinPath("usb1-cable") + "\r\n");
    }

    CliRun RunCli(const std::vector<std::string>& args, int timeoutMs = 60000) {
        std::vector<std::string> argv = {"wine", "morvane-cli.exe"};
        argv.insert(argv.end(), args.begin(), args.end());
        Process p;
        CliRun run;
        if (!p.Start(argv, WineEnv(), folder_->Path(), true)) return run;
        std::string line;
        while (p.ReadLine(&line, timeoutMs)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            run.lines.push_back(line);
        }
        int status = 0;
        if (p.WaitExit(timeoutMs, &status) && WIFEXITED(status)) run.status = WEXITSTATUS(status);
        return run;
    }
};

}  // namespace e2e

// A virtual printer plugged into the Wine prefix as COM1, and the program
// started beside it, for the tests that talk to a printer.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "harness.h"
#include "virtual_printer.h"

namespace e2e {

class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        log_.open(Paths::Artifacts() + "/printer-" + info->test_suite_name() + "." + info->name() + ".log");
        printer_ = std::make_unique<vprinter::VirtualPrinter>(&log_);
        std::string error;
        ASSERT_TRUE(printer_->Start(&error)) << error;
        // COM1 of the prefix is plugged into this cable socket (tests/wine/ensure-prefix.sh).
        ASSERT_TRUE(printer_->AddLink(Paths::Prefix() + "/cables/com1", &error)) << error;
    }
    void TearDown() override {
        app_.reset();
        folder_.reset();
        printer_->Stop();
    }

    // Starts the program with the real port library (or the stand-in).
    Morvane& Start(RunFolder::Library library = RunFolder::Library::Real,
                   const std::map<std::string, std::string>& env = {}) {
        folder_ = std::make_unique<RunFolder>(library);
        app_ = std::make_unique<Morvane>(*folder_, env);
        EXPECT_TRUE(app_->Started()) << "the dialog did not show";
        return *app_;
    }

    std::string LastFrame() const {
        auto frames = printer_->Frames();
        return frames.empty() ? std::string("<none>") : HexBytes(frames.back());
    }

    // Clicks a button and returns "caption|text" of the message it ends in.
    std::string ClickForMessage(int id, int timeoutMs = 20000) {
        app_->Click(id);
        return app_->TakeMessage(timeoutMs);
    }

    static double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

    std::ofstream log_;
    std::unique_ptr<vprinter::VirtualPrinter> printer_;
    std::unique_ptr<RunFolder> folder_;
    std::unique_ptr<Morvane> app_;
};

constexpr const char* kSetSuccess = "Prompt|Set Success";
constexpr const char* kSetFail = "Prompt|Set Fail!!!";
constexpr const char* kNoAnswer = "Prompt|Printer No Answer!";
constexpr const char* kOpenFirst = "Prompt|Please Open Port First!";
constexpr const char* kReadFail = "Prompt|Read Fail";
constexpr const char* kSendFail = "Prompt|Request Send Fail";

}  // namespace e2e

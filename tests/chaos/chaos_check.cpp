// The chaos checker: random jobs of the real morvane-cli against virtual
// printers that misbehave at random (see tools/virtual-printer/chaos.h),
// every record judged against the printers' own account of what they did
// (see judge.h). Workers run side by side, each on lines of its own; a
// worker's jobs and its printers' fates come from the seed alone, so a
// violation replays with the line this prints.
//
//   chaos_check [--seed N] [--keys N] [--workers N] [--tcp N] [--timeout MS] [--key-slack MS]
//               [--only-worker W] [--show-missed] [--logs DIR] [--cli PATH]
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "judge.h"
#include "jobs.h"
#include "tcp_printers.h"
#include "virtual_printer.h"

namespace {

using chaos::Job;
using Clock = std::chrono::steady_clock;

struct Settings {
    std::uint64_t seed = 0;
    std::uint64_t keys = 2000;
    int workers = 16;
    int tcpWorkers = 2;
    int timeoutMs = 120;
    int keySlackMs = 100;
    int onlyWorker = -1;
    bool showMissed = false;
    std::string logs;  // a folder for each printer's log
    std::string cli;   // another copy of the command (a soak's own, left alone by rebuilds)
};

// A 64-bit mix, so that nearby seeds give unrelated streams.
std::uint64_t Mix(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a ^ (b + 0x9E3779B97F4A7C15ULL + (a << 6) + (a >> 2));
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    return x;
}

// One line of a worker: a printer on a pseudo-terminal (reached by a link
// that follows it when it hangs up and comes back) or on TCP.
struct Line {
    std::string port;
    vprinter::VirtualPrinter* pty = nullptr;
    vprinter::TcpPrinters* tcp = nullptr;
    std::size_t tcpIndex = 0;
    std::uint64_t Next() const { return pty ? pty->ChaosNext() : tcp->ChaosNext(tcpIndex); }
    std::vector<vprinter::ChaosEntry> Since(std::uint64_t seq) const {
        return pty ? pty->ChaosSince(seq) : tcp->ChaosSince(tcpIndex, seq);
    }
    vprinter::ChaosLine Kind() const { return pty ? pty->GetChaosLine() : tcp->GetChaosLine(tcpIndex); }
};

struct Shared {
    Settings settings;
    std::string folder;
    std::atomic<std::uint64_t> keys{0};
    std::mutex mu;
    chaos::Tally tally;
    std::uint64_t jobs = 0;
    std::vector<std::string> violations;
};

void RunWorker(Shared& shared, int w, std::vector<Line> lines) {
    const Settings& s = shared.settings;
    std::mt19937_64 rng(Mix(s.seed, static_cast<std::uint64_t>(w) * 2 + 1));
    const std::string profile = shared.folder + "/profile-" + std::to_string(w);
    const std::string journal = shared.folder + "/journal-" + std::to_string(w) + ".jsonl";
    for (std::uint64_t n = 0; shared.keys.load() < s.keys; ++n) {
        const Job job = chaos::DrawJob(rng, lines.size(), s.timeoutMs);
        if (job.command == "apply") std::ofstream(profile) << chaos::ProfileText(job);
        std::vector<std::string> ports;
        std::vector<std::uint64_t> from;
        for (std::size_t i : job.lines) {
            ports.push_back(lines[i].port);
            from.push_back(lines[i].Next());
        }
        clitest::RunOptions run;
        run.timeoutMs = 120000;
        run.program = s.cli;
        const Clock::time_point start = Clock::now();
        if (job.signalAfterMs >= 0) {
            run.signal = SIGINT;
            run.signalWhen = [&] { return Clock::now() - start >= std::chrono::milliseconds(job.signalAfterMs); };
        }
        const std::vector<std::string> args = chaos::Arguments(job, ports, s.timeoutMs, profile, journal);
        const clitest::CommandResult result = clitest::RunCli(args, run);
        std::string commandLine = "morvane-cli";
        for (const std::string& a : args) commandLine += " " + a;
        if (job.signalAfterMs >= 0) commandLine += "   (SIGINT after " + std::to_string(job.signalAfterMs) + " ms)";
        chaos::CommandRun ran{result.status, result.out, result.err, result.secondsAfterSignal >= 0,
                              result.killedBy == SIGINT && result.out.empty() && result.err.empty()};

        // The printers take what left before the command ended: wait until
        // they have, or (a hang-up lost the rest) until they stay as they are.
        std::vector<chaos::LineAccount> accounts;
        for (std::size_t k = 0; k < job.lines.size(); ++k) {
            const Line& line = lines[job.lines[k]];
            const std::size_t sent = chaos::SentFrames(result.err, line.port).size();
            const auto giveUp = Clock::now() + std::chrono::milliseconds(300);
            while (line.Next() - from[k] < sent && Clock::now() < giveUp)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            accounts.push_back({line.port, line.Kind(), line.Since(from[k])});
        }
        const chaos::Verdict verdict = chaos::Judge(job, ran, accounts, s.timeoutMs, s.keySlackMs);
        shared.keys += verdict.tally.keys;
        std::lock_guard<std::mutex> lock(shared.mu);
        shared.tally.Add(verdict.tally);
        ++shared.jobs;
        if (s.showMissed)
            for (const std::string& what : verdict.missed)
                std::cerr << "MISSED (worker " << w << ", job " << n << "): " << what << "\n--- trace ---\n"
                          << result.err << std::endl;
        for (const std::string& what : verdict.violations) {
            const std::string text = "VIOLATION (worker " + std::to_string(w) + ", job " + std::to_string(n) +
                                     "): " + what + "\n  replay: chaos_check --seed " + std::to_string(s.seed) +
                                     " --workers " + std::to_string(s.workers) + " --tcp " +
                                     std::to_string(s.tcpWorkers) + " --timeout " + std::to_string(s.timeoutMs) +
                                     " --key-slack " + std::to_string(s.keySlackMs) + " --only-worker " +
                                     std::to_string(w) + " --keys " + std::to_string(shared.keys.load());
            shared.violations.push_back(text);
            std::cerr << text << "\n--- command ---\n"
                      << commandLine << "\n--- output ---\n"
                      << result.out << "--- trace ---\n"
                      << result.err << std::endl;
        }
    }
}

bool Parse(int argc, char** argv, Settings* s) {
    std::random_device device;
    s->seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--show-missed") {
            s->showMissed = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (a == "--seed") {
            s->seed = std::stoull(value);
        } else if (a == "--keys") {
            s->keys = std::stoull(value);
        } else if (a == "--workers") {
            s->workers = std::max(1, std::stoi(value));
        } else if (a == "--tcp") {
            s->tcpWorkers = std::max(0, std::stoi(value));
        } else if (a == "--timeout") {
            s->timeoutMs = std::max(20, std::stoi(value));
        } else if (a == "--key-slack") {
            s->keySlackMs = std::max(0, std::stoi(value));
        } else if (a == "--only-worker") {
            s->onlyWorker = std::stoi(value);
        } else if (a == "--logs") {
            s->logs = value;
        } else if (a == "--cli") {
            s->cli = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Shared shared;
    Settings& s = shared.settings;
    if (!Parse(argc, argv, &s)) {
        std::cerr << "usage: chaos_check [--seed N] [--keys N] [--workers N] [--tcp N] [--timeout MS] "
                     "[--key-slack MS] [--only-worker W]\n";
        return 2;
    }
    std::cout << "chaos: seed " << s.seed << ", " << s.keys << " keys, " << s.workers << " workers (" << s.tcpWorkers
              << " on TCP), time-out " << s.timeoutMs << " ms" << std::endl;
    char folder[] = "/tmp/morvane-chaos-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 2;
    shared.folder = folder;

    // Each worker: 1 to 3 lines. The first tcpWorkers workers' lines are on TCP.
    std::vector<std::unique_ptr<std::ofstream>> logs;
    const auto logFor = [&](const std::string& name) -> std::ostream* {
        if (s.logs.empty()) return nullptr;
        logs.push_back(std::make_unique<std::ofstream>(s.logs + "/" + name + ".log"));
        return logs.back().get();
    };
    std::vector<std::unique_ptr<vprinter::VirtualPrinter>> ptys;
    std::vector<std::vector<Line>> benches(static_cast<std::size_t>(s.workers));
    std::mt19937_64 layout(Mix(s.seed, 0));
    std::size_t tcpCount = 0;
    std::vector<std::pair<int, std::size_t>> tcpLines;  // worker, line
    for (int w = 0; w < s.workers; ++w) {
        const int n = std::uniform_int_distribution<int>(1, 3)(layout);
        for (int l = 0; l < n; ++l) {
            Line line;
            if (w < s.tcpWorkers) {
                line.tcpIndex = tcpCount++;
                tcpLines.push_back({w, static_cast<std::size_t>(l)});
            } else {
                ptys.push_back(std::make_unique<vprinter::VirtualPrinter>(
                    logFor("line-" + std::to_string(w) + "-" + std::to_string(l))));
                std::string error;
                if (!ptys.back()->Start(&error)) {
                    std::cerr << "chaos: " << error << "\n";
                    return 2;
                }
                line.port = shared.folder + "/line-" + std::to_string(w) + "-" + std::to_string(l);
                ptys.back()->AddLink(line.port, &error);
                ptys.back()->SetChaos(Mix(s.seed, 1000 + static_cast<std::uint64_t>(w) * 8 + l), s.timeoutMs);
                line.pty = ptys.back().get();
            }
            benches[static_cast<std::size_t>(w)].push_back(line);
        }
    }
    vprinter::TcpPrinters tcp(logFor("tcp"));
    if (tcpCount > 0) {
        std::string error;
        if (!tcp.Start("127.0.0.1", 0, tcpCount, &error)) {
            std::cerr << "chaos: " << error << "\n";
            return 2;
        }
        for (std::size_t k = 0; k < tcpCount; ++k) {
            Line& line = benches[static_cast<std::size_t>(tcpLines[k].first)][tcpLines[k].second];
            line.tcp = &tcp;
            line.port = tcp.Url(k);
            tcp.SetChaos(k, Mix(s.seed, 1000 + static_cast<std::uint64_t>(tcpLines[k].first) * 8 + tcpLines[k].second),
                         s.timeoutMs);
        }
    }
    for (int w = 0; w < s.workers; ++w) {
        std::string kinds;
        for (const Line& line : benches[static_cast<std::size_t>(w)])
            kinds += std::string(kinds.empty() ? "" : ", ") + vprinter::ChaosLineName(line.Kind()) +
                     (line.tcp ? " (tcp)" : "");
        if (s.onlyWorker < 0 || s.onlyWorker == w) std::cout << "  worker " << w << ": " << kinds << "\n";
    }

    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < s.workers; ++w)
        if (s.onlyWorker < 0 || s.onlyWorker == w)
            threads.emplace_back(RunWorker, std::ref(shared), w, benches[static_cast<std::size_t>(w)]);
    for (std::thread& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    tcp.Stop();
    for (auto& p : ptys) p->Stop();
    std::filesystem::remove_all(shared.folder);

    const chaos::Tally& t = shared.tally;
    const double missedShare =
        t.prompt == 0 ? 0 : 100.0 * static_cast<double>(t.missed) / static_cast<double>(t.prompt);
    std::printf(
        "chaos: %llu keys in %llu jobs, %.1f s: %llu ok, %llu refused, %llu no-answer, %llu error, %llu not-sent\n"
        "chaos: false ok %llu, false refused %llu, other violations %llu; prompt answers missed %llu of %llu "
        "(%.3f %%); the slowest key took %.0f %% of its bound\n",
        static_cast<unsigned long long>(t.keys), static_cast<unsigned long long>(shared.jobs), seconds,
        static_cast<unsigned long long>(t.ok), static_cast<unsigned long long>(t.refused),
        static_cast<unsigned long long>(t.noAnswer), static_cast<unsigned long long>(t.error),
        static_cast<unsigned long long>(t.notSent), static_cast<unsigned long long>(t.falseOk),
        static_cast<unsigned long long>(t.falseRefused), static_cast<unsigned long long>(t.otherViolations),
        static_cast<unsigned long long>(t.missed), static_cast<unsigned long long>(t.prompt), missedShare,
        100.0 * t.worstBoundShare);
    for (const std::string& v : shared.violations) std::printf("%s\n", v.c_str());
    std::printf("chaos: seed %llu\n", static_cast<unsigned long long>(s.seed));
    return t.falseOk + t.falseRefused + t.otherViolations == 0 ? 0 : 1;
}

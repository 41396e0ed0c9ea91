#include "jobs.h"

#include <algorithm>

namespace chaos {

namespace {

int Uniform(std::mt19937_64& rng, int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

template <typename T>
const T& Pick(std::mt19937_64& rng, const std::vector<T>& from) {
    return from[static_cast<std::size_t>(Uniform(rng, 0, static_cast<int>(from.size()) - 1))];
}

std::string Text(std::mt19937_64& rng, int low, int high, const std::string& alphabet) {
    std::string text;
    const int n = Uniform(rng, low, high);
    for (int i = 0; i < n; ++i)
        text += alphabet[static_cast<std::size_t>(Uniform(rng, 0, static_cast<int>(alphabet.size()) - 1))];
    return text;
}

// Every key the printer takes but the speed: a pseudo-terminal carries a
// late answer across a change of speed intact, which a UART never does.
Key SetKey(std::mt19937_64& rng) {
    struct Choice {
        const char* key;
        std::uint8_t code;
        std::vector<std::string> values;
    };
    static const std::vector<Choice> choices = {
        {"bt-name", 0x72, {}},
        {"bt-password", 0x77, {}},
        {"bt-visible", 0x73, {"visible", "hidden"}},
        {"bt-mode", 0x7F, {"enable", "disable"}},
        {"darkness", 0x7C, {"1", "2", "3", "4", "5"}},
        {"beeper", 0x79, {"on", "off"}},
        {"sleep", 0x7A, {}},
        {"chinese", 0x55, {"simplified", "traditional"}},
        {"mark-sensitivity", 0x7D, {"1", "2", "3", "4", "5", "6", "7"}},
        {"gap-sensitivity", 0x7E, {"1", "2", "3", "4", "5", "6", "7"}},
        {"position", 0x82, {}},
        {"language", 0x7B, {"chinese", "english"}},
        {"paper-sensor", 0x86, {"gap", "right-mark-1", "right-mark-2", "left-mark-1", "left-mark-2", "none"}},
        {"command-set", 0x87, {"cpcl", "escpos"}},
        {"paper-width", 0x88, {"44", "58", "76", "80", "114"}},
    };
    const Choice& c = Pick(rng, choices);
    Key k{c.key, "", false, false, c.code};
    if (k.key == "bt-name") {
        k.text = true;
        k.value = Text(rng, 1, 12, "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789-");
    } else if (k.key == "bt-password") {
        k.text = true;
        k.value = Text(rng, 4, 6, "0123456789");
    } else if (k.key == "sleep") {
        k.value = std::to_string(Uniform(rng, 0, 255));
    } else if (k.key == "position") {
        k.value = std::to_string(Uniform(rng, -255, 255));
    } else {
        k.value = Pick(rng, c.values);
    }
    if (k.key == "chinese" && k.value == "traditional") k.code = 0xAA;  // the code byte carries the choice
    return k;
}

Key ReadKey(const std::string& key) {
    const std::uint8_t code = key == "bt-name" ? 0x72 : key == "bt-address" ? 0x74 : 0x77;
    return {key, "", true, false, code};
}

}  // namespace

std::vector<Key> RecordedKeys(const Job& job) {
    std::vector<Key> keys = job.keys;
    if (job.journal) {
        keys.push_back(ReadKey("bt-address"));
        keys.push_back(ReadKey("bt-name"));
    }
    return keys;
}

Job DrawJob(std::mt19937_64& rng, std::size_t lines, int timeoutMs) {
    Job job;
    const int kind = Uniform(rng, 1, 100);
    job.command = kind <= 55 ? "set" : kind <= 75 ? "apply" : "get";
    // One line, or a batch over some of the worker's lines.
    std::vector<std::size_t> all(lines);
    for (std::size_t i = 0; i < lines; ++i) all[i] = i;
    std::shuffle(all.begin(), all.end(), rng);
    const int taken = lines > 1 && Uniform(rng, 1, 100) <= 30 ? Uniform(rng, 2, static_cast<int>(lines)) : 1;
    job.lines.assign(all.begin(), all.begin() + taken);

    if (job.command == "get") {
        std::vector<std::string> reads = {"bt-name", "bt-address", "bt-password"};
        std::shuffle(reads.begin(), reads.end(), rng);
        const int n = Uniform(rng, 1, 3);
        for (int i = 0; i < n; ++i) job.keys.push_back(ReadKey(reads[static_cast<std::size_t>(i)]));
    } else {
        const int n = Uniform(rng, 1, 6);
        while (static_cast<int>(job.keys.size()) < n) {
            Key k = SetKey(rng);
            const bool taken =
                std::any_of(job.keys.begin(), job.keys.end(), [&](const Key& o) { return o.key == k.key; });
            if (!taken) job.keys.push_back(k);
        }
        job.verify = Uniform(rng, 1, 100) <= 20;
        job.skipSame = Uniform(rng, 1, 100) <= 10;
        job.journal = Uniform(rng, 1, 100) <= 8;
        // The journal's reads come last: never right after a key of the same code.
        if (job.journal && job.keys.back().code == 0x74) job.journal = false;
    }
    job.keepGoing = Uniform(rng, 1, 100) <= 35;
    if (Uniform(rng, 1, 100) <= 10) job.signalAfterMs = Uniform(rng, 0, 3 * timeoutMs);
    return job;
}

std::vector<std::string> Arguments(const Job& job, const std::vector<std::string>& ports, int timeoutMs,
                                   const std::string& profilePath, const std::string& journalPath) {
    std::vector<std::string> args = {job.command};
    if (job.command == "apply") {
        args.push_back(profilePath);
    } else {
        for (const Key& k : job.keys) args.push_back(k.read ? k.key : k.key + "=" + k.value);
    }
    std::string list;
    for (const std::string& p : ports) list += (list.empty() ? "" : ",") + p;
    args.insert(args.end(), {"-p", list, "--json", "--trace", "--codepage", "utf-8", "--timeout",
                             std::to_string(timeoutMs), "--connect-timeout", "2000"});
    if (job.verify) args.push_back("--verify");
    if (job.keepGoing) args.push_back("--keep-going");
    if (job.skipSame) args.push_back("--skip-same");
    if (job.journal) args.insert(args.end(), {"--journal", journalPath});
    return args;
}

std::string ProfileText(const Job& job) {
    std::string text = "# drawn by the chaos checker\n";
    for (const Key& k : job.keys) text += k.key + " = " + (k.text ? "\"" + k.value + "\"" : k.value) + "\n";
    return text;
}

}  // namespace chaos

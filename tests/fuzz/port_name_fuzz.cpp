// Port names: the port library's reading of them and the program's serial
// device names. Input: a zero-free name (bytes after a zero are dropped).
// A name the library takes must come back the same from its own key, with
// and without ':' and in lower case; a device name is the name itself or
// "\\.\COMn" with n >= 10, and only for names the library reads as COM ports.
#include <cctype>
#include <string>

#include "fuzz_check.h"
#include "libs/tarnport/port_name.h"
#include "port/serial_device_name.h"

using tarnport::ParsePortName;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));

    if (const auto id = ParsePortName(name.c_str())) {
        FUZZ_CHECK(id->number >= 1 && id->number <= tarnport::kMaxPortNumber);
        FUZZ_CHECK(id->key == std::string(tarnport::KindPrefix(id->kind)) + std::to_string(id->number));
        std::string lower = id->key;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& again : {id->key, id->key + ":", lower}) {
            const auto same = ParsePortName(again.c_str());
            FUZZ_CHECK(same && same->kind == id->kind && same->number == id->number && same->key == id->key);
        }
    } else {
        // A name the library refuses is never one of its own keys.
        for (const char* prefix : {"COM", "USB", "LPT"})
            for (int n = 1; n <= tarnport::kMaxPortNumber; n += 127) FUZZ_CHECK(name != prefix + std::to_string(n));
    }

    const std::string device = morvane::SerialDeviceName(name);
    if (device != name) {
        const auto id = ParsePortName(name.c_str());
        FUZZ_CHECK(id && id->kind == tarnport::PortKind::Com && id->number >= 10);
        FUZZ_CHECK(device.rfind("\\\\.\\COM", 0) == 0);
        const std::string digits = device.substr(7);
        FUZZ_CHECK(!digits.empty() && digits.size() <= 6 && digits.front() != '0');
        for (char c : digits) FUZZ_CHECK(c >= '0' && c <= '9');
        FUZZ_CHECK(std::stoul(digits) >= 10);
    }
    return 0;
}

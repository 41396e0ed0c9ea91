// A stand-in port library for the end-to-end tests, dropped beside
// Morvane.exe in place of TarnPortDll.dll. It reports the port counts a test
// chooses, logs every call with its arguments, and answers reads with a
// reply the test chooses. All of it comes from environment variables that
// the test sets for the program it starts:
//   MORVANE_FAKE_COUNTS  "com,usb,lpt"   (default "2,0,0")
//   MORVANE_FAKE_LOG     file that receives one line per call
//   MORVANE_FAKE_REPLY   hex bytes handed out by ReadData after a SendData
//   MORVANE_FAKE_READ_RESULT  a number ReadData returns instead of the count
//   MORVANE_FAKE_SEND_RESULT  a number SendData returns instead of the length
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/hex.h"

namespace {

std::string Env(const char* name) {
    char buf[2048];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

int Count(int which) {
    std::string counts = Env("MORVANE_FAKE_COUNTS");
    if (counts.empty()) counts = "2,0,0";
    int v[3] = {0, 0, 0};
    std::sscanf(counts.c_str(), "%d,%d,%d", &v[0], &v[1], &v[2]);
    return v[which];
}

void Log(const std::string& line) {
    std::string path = Env("MORVANE_FAKE_LOG");
    if (path.empty()) return;
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string Hex(const unsigned char* p, int n) {
    return morvane::HexDigits(std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)));
}

bool g_replyDue = false;  // a reply is handed out once per SendData

}  // namespace

extern "C" {

int WINAPI GetCOMMax(void) {
    Log("GetCOMMax");
    return Count(0);
}
int WINAPI GetUSBPort(void) {
    Log("GetUSBPort");
    return Count(1);
}
int WINAPI GetLPTMax(void) {
    Log("GetLPTMax");
    return Count(2);
}

int WINAPI ClosePort(const char* port) {
    Log(std::string("ClosePort '") + (port ? port : "") + "'");
    return 1;
}

int WINAPI SetComParam(const char* port, int baud, int dataBits, char parity, int stopBits, int flags) {
    char b[256];
    std::snprintf(b, sizeof b, "SetComParam '%s' %d %d %c %d %d", port ? port : "", baud, dataBits, parity, stopBits,
                  flags);
    Log(b);
    return 1;
}

int WINAPI SendData(const char* port, const unsigned char* data, int length) {
    Log(std::string("SendData '") + (port ? port : "") + "' " + Hex(data, length > 0 ? length : 0));
    g_replyDue = true;
    std::string forced = Env("MORVANE_FAKE_SEND_RESULT");
    return forced.empty() ? length : std::atoi(forced.c_str());
}

int WINAPI ReadData(const char* port, unsigned char* buffer, int maxCount) {
    std::string reply = Env("MORVANE_FAKE_REPLY");
    int n = 0;
    if (g_replyDue && !reply.empty()) {
        // A reply that is not hex is a mistake in the test: nothing is read.
        const std::string bytes = morvane::ParseHexDigits(reply).value_or(std::string());
        if (bytes.empty()) Log("MORVANE_FAKE_REPLY is not hex: " + reply);
        for (char c : bytes)
            if (n < maxCount) buffer[n++] = static_cast<unsigned char>(c);
        g_replyDue = false;
    }
    std::string forced = Env("MORVANE_FAKE_READ_RESULT");
    if (!forced.empty() && n > 0) n = std::atoi(forced.c_str());
    char b[256];
    std::snprintf(b, sizeof b, "ReadData '%s' %d -> %d", port ? port : "", maxCount, n);
    Log(b);
    return n;
}

}  // extern "C"

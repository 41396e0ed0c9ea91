// The port library, loaded for USB and LPT ports from the program's own
// folder only (never from the search path), and resolved by name.
#pragma once
#include <string>

namespace morvane::cli {

struct PortLibraryCalls {
    int(__stdcall* GetUSBPort)();
    int(__stdcall* GetLPTMax)();
    int(__stdcall* ClosePort)(const char*);
    int(__stdcall* SetComParam)(const char*, int, int, char, int, int);
    int(__stdcall* SendData)(const char*, const unsigned char*, int);
    int(__stdcall* ReadData)(const char*, unsigned char*, int);
};

// Loaded once, on first use; nullptr with a reason when it cannot be.
const PortLibraryCalls* PortLibrary(std::string* error);

}  // namespace morvane::cli

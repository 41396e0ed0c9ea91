// TarnPortDll.dll's exports: what programs bind when they load (C linkage,
// WINAPI, the undecorated names of TarnPortDll.def).
#pragma once
#include <windows.h>

extern "C" {
int WINAPI GetCOMMax(void);
int WINAPI GetUSBPort(void);
int WINAPI GetLPTMax(void);
int WINAPI ClosePort(const char* portName);
int WINAPI SetComParam(const char* portName, int baudRate, int dataBits, char parity, int stopBits, int flags);
int WINAPI SendData(const char* portName, const unsigned char* data, int length);
int WINAPI ReadData(const char* portName, unsigned char* buffer, int maxCount);
}

namespace tarnport {

// What the exports return for a failure: always negative.
constexpr int kBadName = -1;      // a name that is no port
constexpr int kNoDevice = -2;     // a port that cannot be opened, or is no device
constexpr int kBadArgument = -3;  // arguments the call cannot use
constexpr int kIoFailed = -4;     // a refused or abandoned transfer

}  // namespace tarnport

// One printer of TcpPrinters: what it stores and records, and its two
// sockets. Used only by the loop and the control calls, under their lock.
#pragma once

#include <chrono>
#include <deque>
#include <string>

#include "tcp_printers.h"

namespace vprinter {

struct TcpPrinters::Station {
    std::string name;  // "127.0.0.1:9100", in log lines
    int port = 0;
    int listenFd = -1;
    int clientFd = -1;            // -1: waiting for a client
    bool watchingOutput = false;  // the client socket is polled for room to write

    PrinterCore core;  // what it stores, records and has scheduled
    int ownBaud = 9600;

    FrameReader reader;
    Clock::time_point lastByte;
    Clock::time_point frameStart;
    Bytes output;  // waiting for the socket to take it

    std::size_t received = 0;
    std::size_t discarded = 0;
    std::size_t connections = 0;
    std::size_t resets = 0;
};

}  // namespace vprinter

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

    Settings settings;
    Behaviour runBehaviour;
    std::deque<Behaviour> queued;
    int ownBaud = 9600;

    FrameReader reader;
    Clock::time_point lastByte;
    Clock::time_point frameStart;
    Clock::time_point inboundFree;  // the last frame's end on the serial link
    Bytes output;                   // waiting for the socket to take it
    EventQueue events{VirtualPrinter::kMaxScheduled};

    std::deque<Bytes> frames;
    std::deque<Bytes> replies;
    std::size_t frameCount = 0;
    std::size_t received = 0;
    std::size_t discarded = 0;
    std::size_t connections = 0;
    std::size_t resets = 0;
};

}  // namespace vprinter

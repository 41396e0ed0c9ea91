// A network printer's raw socket (tcp://HOST[:PORT]) as a line: the same
// byte stream as a cable, its replies on the same connection. One
// connection per job, closed with the line. TCP_NODELAY is set, so that a
// frame of a few bytes leaves at once. There is no line speed and no 0x11
// form: replies are read as on the port library's path.
//
// The failures are told apart: a host name that resolves to nothing, a
// refused connection, one not made within the connect time-out, and one
// reset (or closed) mid-job, which is a line error.
#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "cli/run/line.h"

namespace morvane::cli {

// The connect time-out when none is given: the reply time-out's default.
constexpr std::chrono::milliseconds kDefaultConnectTimeout{1000};

// Resolves the host name (once) and connects, both within connectTimeout
// and until *stop is set; nothing, with the reason in *error, when it
// cannot. A name's lookup never blocks a thread past that bound: on Linux
// it runs inside the job's own wait (c-ares), on Windows on a thread of a
// bounded few.
std::unique_ptr<Line> OpenTcpLine(const PortName& port, std::chrono::milliseconds connectTimeout, std::string* error,
                                  const std::atomic<bool>* stop = nullptr);

}  // namespace morvane::cli

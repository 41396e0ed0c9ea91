// A wait on one socket, as poll(2) on a single descriptor. Inside a job of
// RunSocketJobs it gives the thread to the other jobs while it waits;
// anywhere else it is poll(2) itself.
#pragma once

namespace morvane::cli {

// 1 when the socket is ready for `events` (or failed: POLLERR, POLLHUP),
// 0 when timeoutMs passed first (-1: no time-out), -1 on an error of poll.
int WaitForSocket(int fd, short events, int timeoutMs);

}  // namespace morvane::cli

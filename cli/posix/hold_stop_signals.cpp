// Stop signals are held from before main() runs: a Ctrl-C that comes while
// the command is still starting waits for WatchStopSignals(), which gives
// every key its record, instead of ending the process with none.
#include <csignal>

#include <pthread.h>

namespace {

__attribute__((constructor(101))) void HoldStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

}  // namespace

// Network jobs by the hundred. Such a job waits on its socket nearly all of
// the time, and a thread apiece spends the machine on switching between
// threads: 256 printers took six times as long as one. Here each job runs
// on a stack of its own (a ucontext), one thread per core carries them, and
// a job that waits on its socket hands its thread to the others. One
// poll(2) over a thread's waiting sockets wakes whichever are ready.
//
// A job never waits while it holds a lock (a record is written whole, and
// the lock let go, before the next wait), so jobs sharing a thread cannot
// block each other on one.
#include <poll.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "cli/system/platform.h"
#include "cli/run/deadline.h"
#include "cli/posix/socket_wait.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace morvane::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Deep enough for name resolution and record formatting; only the pages a
// job touches take memory.
constexpr std::size_t kStackBytes = 512 * 1024;

struct Fiber {
    ucontext_t context{};
    void* memory = nullptr;  // the stack, a guard page at its low end
    std::size_t size = 0;
    std::size_t job = 0;
    bool done = false;
    pollfd want{};  // what it waits for
    Clock::time_point deadline = Clock::time_point::max();
    int result = 0;
    void* fakeStack = nullptr;  // AddressSanitizer's, while switched out
};

struct Shared {
    const std::function<void(std::size_t)>* job = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;  // the first, set once by whoever flips `failed`
};

// One thread's jobs.
struct Carrier {
    Shared* shared = nullptr;
    ucontext_t home{};
    Fiber* running = nullptr;
    void* homeFakeStack = nullptr;
    const void* homeBottom = nullptr;
    std::size_t homeSize = 0;
};

thread_local Carrier* t_carrier = nullptr;

// AddressSanitizer must be told of every switch to another stack.
void StartSwitch([[maybe_unused]] void** fakeStack, [[maybe_unused]] const void* bottom,
                 [[maybe_unused]] std::size_t size) {
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(fakeStack, bottom, size);
#endif
}
// A stack handed to a new job still bears the marks of the frames of the
// one before, which never returned.
void ForgetFrames([[maybe_unused]] void* stack, [[maybe_unused]] std::size_t size) {
#if defined(__SANITIZE_ADDRESS__)
    __asan_unpoison_memory_region(stack, size);
#endif
}
void FinishSwitch([[maybe_unused]] void* fakeStack, [[maybe_unused]] const void** bottom,
                  [[maybe_unused]] std::size_t* size) {
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(fakeStack, bottom, size);
#endif
}

void Fail(Shared& shared) {
    if (!shared.failed.exchange(true)) shared.failure = std::current_exception();
}

// From a job to its thread's loop; back when the loop resumes it.
void SwitchHome(Carrier& c, Fiber& f) {
    StartSwitch(f.done ? nullptr : &f.fakeStack, c.homeBottom, c.homeSize);
    swapcontext(&f.context, &c.home);
    FinishSwitch(f.fakeStack, &c.homeBottom, &c.homeSize);
}

void FiberMain() {
    Carrier& c = *t_carrier;
    Fiber& f = *c.running;
    FinishSwitch(nullptr, &c.homeBottom, &c.homeSize);
    try {
        (*c.shared->job)(f.job);
    } catch (...) {
        Fail(*c.shared);
    }
    f.done = true;
    SwitchHome(c, f);  // never resumed
}

Fiber* NewFiber() {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = kStackBytes + page;
    void* memory =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    mprotect(memory, page, PROT_NONE);  // an overflow faults instead of writing over a neighbour
    auto* f = new Fiber;
    f->memory = memory;
    f->size = size;
    return f;
}

void FreeFiber(Fiber* f) {
    munmap(f->memory, f->size);
    delete f;
}

// A fiber, new or one whose job has ended, set to start `job` on its stack.
void Prepare(Fiber& f, std::size_t job) {
    const std::size_t guard = f.size - kStackBytes;
    f.job = job;
    f.done = false;
    f.deadline = Clock::time_point::max();
    getcontext(&f.context);
    f.context.uc_stack.ss_sp = static_cast<char*>(f.memory) + guard;
    f.context.uc_stack.ss_size = kStackBytes;
    ForgetFrames(f.context.uc_stack.ss_sp, kStackBytes);
    f.context.uc_link = nullptr;
    makecontext(&f.context, FiberMain, 0);
}

// Runs `f` until it waits or ends.
void Resume(Carrier& c, Fiber& f) {
    c.running = &f;
    StartSwitch(&c.homeFakeStack, f.context.uc_stack.ss_sp, f.context.uc_stack.ss_size);
    swapcontext(&c.home, &f.context);
    FinishSwitch(c.homeFakeStack, nullptr, nullptr);
    c.running = nullptr;
}

// One thread: up to `atOnce` jobs at a time, taken from the shared count.
void Carry(Shared& shared, std::size_t atOnce) {
    Carrier c;
    c.shared = &shared;
    t_carrier = &c;
    std::vector<Fiber*> live;
    std::vector<Fiber*> spare;  // ended: their stacks serve the next jobs
    std::vector<pollfd> fds;
    for (;;) {
        while (live.size() < atOnce && !shared.failed) {
            const std::size_t i = shared.next++;
            if (i >= shared.count) break;
            Fiber* f = nullptr;
            if (!spare.empty()) {
                f = spare.back();
                spare.pop_back();
            } else {
                f = NewFiber();
            }
            if (f == nullptr) {  // no stack to be had: this one runs here, waits and all
                try {
                    (*shared.job)(i);
                } catch (...) {
                    Fail(shared);
                }
                continue;
            }
            Prepare(*f, i);
            live.push_back(f);
            Resume(c, *f);
        }
        const auto ended = std::partition(live.begin(), live.end(), [](const Fiber* f) { return !f->done; });
        spare.insert(spare.end(), ended, live.end());
        live.erase(ended, live.end());
        if (live.empty()) {
            if (shared.next >= shared.count || shared.failed) break;
            continue;
        }

        fds.clear();
        Clock::time_point first = Clock::time_point::max();
        for (const Fiber* f : live) {
            fds.push_back(f->want);
            first = std::min(first, f->deadline);
        }
        poll(fds.data(), fds.size(), MsUntil(first, Clock::now()));  // EINTR: look again
        const auto now = Clock::now();
        for (std::size_t k = 0; k < live.size(); ++k) {
            Fiber& f = *live[k];
            if (fds[k].revents == 0 && now < f.deadline) continue;
            f.result = fds[k].revents != 0 ? 1 : 0;
            Resume(c, f);
        }
    }
    std::for_each(spare.begin(), spare.end(), FreeFiber);
    t_carrier = nullptr;
}

}  // namespace

int WaitForSocket(int fd, short events, int timeoutMs) {
    Carrier* c = t_carrier;
    // Even a wait that is over hands the thread on: a job whose socket
    // never stops talking must not hold up the others on its thread.
    if (c == nullptr || c->running == nullptr) {
        pollfd p{fd, events, 0};
        return poll(&p, 1, timeoutMs);
    }
    Fiber& f = *c->running;
    f.want = pollfd{fd, events, 0};
    f.deadline = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    SwitchHome(*c, f);
    return f.result;
}

void RunSocketJobs(std::size_t count, std::size_t maxAtOnce, const std::function<void(std::size_t)>& job) {
    if (count == 0) return;
    maxAtOnce = std::clamp<std::size_t>(maxAtOnce, 1, count);
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min(cores, maxAtOnce);
    Shared shared;
    shared.job = &job;
    shared.count = count;
    const auto share = [&](std::size_t t) { return maxAtOnce / threads + (t < maxAtOnce % threads ? 1 : 0); };
    std::vector<std::thread> others;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            others.emplace_back(Carry, std::ref(shared), share(t));
        } catch (const std::system_error&) {
            break;  // no more threads: the ones there take the rest
        }
    }
    Carry(shared, share(0));
    for (std::thread& t : others) t.join();
    if (shared.failure) std::rethrow_exception(shared.failure);
}

}  // namespace morvane::cli

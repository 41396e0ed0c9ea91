#include <mutex>

#include "cli/system/mutex.h"

namespace morvane::cli {

struct Mutex::Impl {
    std::mutex mu;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::lock() { impl_->mu.lock(); }
bool Mutex::try_lock() { return impl_->mu.try_lock(); }
void Mutex::unlock() { impl_->mu.unlock(); }

}  // namespace morvane::cli

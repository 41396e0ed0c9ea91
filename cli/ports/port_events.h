// Word that ports may have come or gone: the system's device events where
// it sends them (udev's monitor), else only the time passing. The station
// lists the ports again after each wait either way.
#pragma once
#include <memory>

namespace morvane::cli {

class PortEvents {
public:
    static std::unique_ptr<PortEvents> Open();
    virtual ~PortEvents() = default;
    // True when device events come: waits may then be long.
    virtual bool Live() const = 0;
    // Returns after an event, or after `ms`.
    virtual void Wait(unsigned ms) = 0;
};

}  // namespace morvane::cli

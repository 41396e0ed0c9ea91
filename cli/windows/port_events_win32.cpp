// On Windows the station lists the ports again on time.
#include "cli/system/platform.h"
#include "cli/ports/port_events.h"

namespace morvane::cli {

namespace {
class Quiet : public PortEvents {
public:
    bool Live() const override { return false; }
    void Wait(unsigned ms) override { PauseMs(ms); }
};
}  // namespace

std::unique_ptr<PortEvents> PortEvents::Open() { return std::make_unique<Quiet>(); }

}  // namespace morvane::cli

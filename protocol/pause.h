#pragma once

namespace morvane {

// The blocking pause of the user-interface thread; tests substitute a clock.
class Pause {
public:
    virtual ~Pause() = default;
    virtual void Sleep(unsigned milliseconds) = 0;
};

}  // namespace morvane

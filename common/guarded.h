// A library export's body run so that no C++ exception leaves the library:
// its caller is another program with a runtime of its own.
#pragma once

namespace morvane {

template <typename Body>
int Guarded(int failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace morvane

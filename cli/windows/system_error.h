// The system's own text for an error code, in UTF-8, for messages a
// technician can act on instead of a bare number.
#pragma once
#include <windows.h>

#include <string>

namespace morvane::cli {

// "Access is denied. (error 5)"; the number alone when the system has no text.
std::string SystemMessage(DWORD code);

}  // namespace morvane::cli

// Wine shows the whole Unix file system as drive Z:.
#pragma once
#include <string>
#include <string_view>

namespace tarnport {

// "/tmp/run/usb1-cable" -> "Z:\tmp\run\usb1-cable"
std::string WinePathOf(std::string_view unixPath);

}  // namespace tarnport

// What a Windows device instance id says of a port's device:
//   USB\VID_0416&PID_5011\PRN42               ids and the serial number
//   FTDIBUS\VID_0403+PID_6001+A9XK3L2QA\0000  an FTDI adapter's
//   BTHENUM\{...}_LOCALMFG&0002\7&2A&0&001BDC0F1122_C00000000
//                                             a Bluetooth peer's address
// A serial number Windows made up (it has '&' in it) is none.
#pragma once
#include <string_view>

#include "cli/ports/port_info.h"

namespace morvane::cli {

void AddInstanceIdentity(std::string_view instanceId, PortIdentity* identity);

}  // namespace morvane::cli

#pragma once

#include <cstdint>

namespace lotrix {

using ProcessId = std::int32_t;

// True exactly while a process with this id exists. One of our own children that has ended
// but not been reaped yet counts as ended. Holds nothing between calls.
bool IsRunning(ProcessId id);

}  // namespace lotrix

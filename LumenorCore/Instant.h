#pragma once

#include <chrono>

/// A wall-clock point in time; on the wire it is written in whole seconds.
using Instant = std::chrono::system_clock::time_point;

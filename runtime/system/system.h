// Process services: the clock. No state.
#pragma once

#include <cstdint>

// Whole seconds since 1970-01-01 00:00:00 UTC, whatever the local time zone.
[[nodiscard]] int64_t system_time();

#include "runtime/system/system.h"

#include "runtime/system/platform.h"

int64_t system_time() { return platform_time(); }

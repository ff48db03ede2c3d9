#include "runtime/system/system.h"

#include "runtime/system/platform.h"
#include "runtime/system/temporary.h"

int64_t system_time() { return platform_time(); }

int32_t system_execute(Slice command) {
    if (!append_character(command)) return -1;
    return platform_system(command.data);
}

// Process entry: the arguments after the program name become a SliceArray for run.
#include <cstdlib>

#include "driver/run.h"

int main(int argc, char** argv) {
    int64_t count = argc > 1 ? argc - 1 : 0;
    if (count == 0) return run(SliceArray{nullptr, 0});
    Slice* items = static_cast<Slice*>(std::malloc(sizeof(Slice) * static_cast<size_t>(count)));
    if (!items) return exit_failure;
    for (int64_t i = 0; i < count; ++i) items[i] = slice_from_cstr(argv[i + 1]);
    int status = run(SliceArray{items, count});
    std::free(items);
    return status;
}

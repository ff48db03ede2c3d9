#include "runtime/media/encoded_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

int64_t encoded_bytes_read(EncodedBytes& bytes, int64_t count, void* destination) {
    if (count <= 0 || bytes.position >= bytes.size) return 0;
    int64_t n = std::min(count, bytes.size - bytes.position);
    std::memcpy(destination, bytes.data + bytes.position, static_cast<size_t>(n));
    bytes.position += n;
    return n;
}

int64_t encoded_bytes_seek(EncodedBytes& bytes, int64_t offset, int whence) {
    int64_t base = 0;
    if (whence == SEEK_CUR) base = bytes.position;
    else if (whence == SEEK_END) base = bytes.size;
    else if (whence != SEEK_SET) return -1;
    // Tested as differences so that neither bound can overflow.
    if (offset < -base || (offset > 0 && offset > INT64_MAX - base)) return -1;
    bytes.position = base + offset;
    return bytes.position;
}

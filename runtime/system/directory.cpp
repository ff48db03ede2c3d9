#include "runtime/system/directory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/system/platform.h"
#include "runtime/system/temporary.h"

alignas(dynamic_alignment) char dynamic_buffer[dynamic_ring_size];
int32_t dynamic_pos = 0;

namespace {

// A list entry is a Slice: pointer and length.
constexpr int64_t entry_bytes = sizeof(Slice);
static_assert(entry_bytes == 16 && alignof(Slice) <= dynamic_alignment);
// A list's first block holds 8 entries (128 bytes); each growth doubles it.
constexpr int64_t first_capacity = 8;
constexpr int64_t first_block_bytes = first_capacity * entry_bytes;
// Appended to the path to make the search pattern, without a terminator.
constexpr Slice search_suffix = slice_literal("/*");
// The overflow block is at least twice the ring, and twice what it must hold when a
// listing moves in, so a growing listing copies itself only a logarithmic number of times.
constexpr int64_t overflow_growth = 2;
constexpr int64_t overflow_minimum = overflow_growth * dynamic_ring_size;

struct List {
    Slice* items;
    int64_t count;
    int64_t capacity;
};

// Where a listing takes its names and list blocks. A listing starts in the ring and
// moves to the overflow block, for good, the first time the ring cannot give it a block.
// The two differ in what happens to a block that does not fit past the fill position:
//  - the ring (dynamic_buffer) restarts at 0, the rule every taker of the ring shares,
//    as far as the listing's watch allows (see RingWatch);
//  - the overflow block, sized for the listing when it moved in, refuses the block.
enum class StoreKind : uint8_t { ring, overflow };

// A listing in the ring must never reach its own bytes. Its takings may restart the ring
// once; after that each must end at or before the listing's first block. add_string
// leaves the watch off: its caller owns the list and what the ring may reach.
struct RingWatch {
    bool on;
    int64_t first_block;  // start of the listing's first block; -1 before it has one
    bool wrapped;         // the ring has restarted since the first block
};

struct Store {
    StoreKind kind;
    char* base;
    int64_t size;
    int64_t fill;     // the next block starts here, rounded up to dynamic_alignment
    RingWatch watch;  // off for the overflow block
};

// The overflow block, kept for the rest of the process once a listing needed it.
char* overflow_base = nullptr;
int64_t overflow_size = 0;

struct Listing {
    Store store;
    List directories;
    List files;
};

int64_t align_up(int64_t offset) { return (offset + dynamic_alignment - 1) & -int64_t{dynamic_alignment}; }

Store ring_store(bool watched) {
    int64_t fill = std::max<int64_t>(dynamic_pos, 0);
    return Store{StoreKind::ring, dynamic_buffer, dynamic_ring_size, fill, RingWatch{watched, -1, false}};
}

Store overflow_store(char* base, int64_t size) {
    return Store{StoreKind::overflow, base, size, 0, RingWatch{false, -1, false}};
}

// Whether the watch lets the listing take a block ending at `end`, the ring restarting
// for it when `restart`. Looks only; watch_note records the taking.
bool watch_permits(const RingWatch& watch, int64_t end, bool restart) {
    if (!watch.on || watch.first_block < 0) return true;
    if (restart && watch.wrapped) return false;
    return !(restart || watch.wrapped) || end <= watch.first_block;
}

void watch_note(RingWatch& watch, int64_t at, bool restart) {
    if (!watch.on) return;
    if (watch.first_block < 0) {
        watch.first_block = at;
    } else if (restart) {
        watch.wrapped = true;
    }
}

// Takes [at, at + k) when the watch permits it; the fill position then ends the block.
bool ring_claim(Store& store, int64_t at, int64_t k, bool restart) {
    if (!watch_permits(store.watch, at + k, restart)) return false;
    watch_note(store.watch, at, restart);
    store.fill = at + k;
    return true;
}

// Start of a k-byte block by the store's rule, or -1 (nothing taken) when it cannot be
// had: larger than the store, past the overflow block's end, or refused by the watch.
int64_t store_take(Store& store, int64_t k) {
    if (k > store.size) return -1;
    int64_t at = align_up(store.fill);
    bool restart = at + k > store.size;
    if (store.kind == StoreKind::overflow) {
        if (restart) return -1;
        store.fill = at + k;
        return at;
    }
    if (restart) at = 0;
    return ring_claim(store, at, k, restart) ? at : -1;
}

// The list of `s` bytes ending at the fill position, grown to 2s bytes where it stands.
// In the ring it stays only while three times `s` fit past the fill position; otherwise
// it moves to the start of the ring after all. Null, nothing changed, when it cannot.
Slice* grow_in_place(Store& store, Slice* items, int64_t s) {
    int64_t fill = store.fill + s;
    if (store.kind == StoreKind::overflow) {
        if (fill > store.size) return nullptr;
        store.fill = fill;
        return items;
    }
    if (fill + 2 * s <= store.size) return ring_claim(store, store.fill, s, false) ? items : nullptr;
    if (2 * s > store.size || !ring_claim(store, 0, 2 * s, true)) return nullptr;
    std::memmove(store.base, items, static_cast<size_t>(s));
    return reinterpret_cast<Slice*>(store.base);
}

// The list's entries in a block twice as large; null (nothing changed) when the store
// cannot give one.
Slice* store_grow(Store& store, Slice* items, int64_t capacity) {
    if (capacity > store.size / (2 * entry_bytes)) return nullptr;
    int64_t s = capacity * entry_bytes;
    if (reinterpret_cast<char*>(items) + s == store.base + store.fill) return grow_in_place(store, items, s);
    int64_t at = store_take(store, 2 * s);
    if (at < 0) return nullptr;
    // At the start of the ring the new block may overlap the old one.
    std::memmove(store.base + at, items, static_cast<size_t>(s));
    return reinterpret_cast<Slice*>(store.base + at);
}

bool store_add(Store& store, List& list, Slice text) {
    if (list.capacity == 0) {
        int64_t at = store_take(store, first_block_bytes);
        if (at < 0) return false;
        list.items = reinterpret_cast<Slice*>(store.base + at);
        list.capacity = first_capacity;
    } else if (list.count >= list.capacity) {
        Slice* grown = store_grow(store, list.items, list.capacity);
        if (!grown) return false;
        list.items = grown;
        list.capacity *= 2;
    }
    list.items[list.count++] = text;
    return true;
}

// Bytes a list and its names take when laid out afresh.
int64_t list_bytes(const List& list) {
    int64_t bytes = list.capacity * entry_bytes;
    for (int64_t i = 0; i < list.count; ++i) bytes += align_up(list.items[i].length + 1);
    return bytes;
}

// The name, its NUL included, copied into `to`; false (nothing copied) when it has no room.
bool copy_name(Store& to, Slice& name) {
    int64_t at = store_take(to, name.length + 1);
    if (at < 0) return false;
    std::memcpy(to.base + at, name.data, static_cast<size_t>(name.length + 1));
    name.data = to.base + at;
    return true;
}

// The list's block and names copied into `to`; false when it has no room for them.
bool copy_list(Store& to, List& list) {
    if (list.capacity == 0) return true;
    int64_t at = store_take(to, list.capacity * entry_bytes);
    if (at < 0) return false;
    auto items = reinterpret_cast<Slice*>(to.base + at);
    for (int64_t i = 0; i < list.count; ++i) {
        items[i] = list.items[i];
        if (!copy_name(to, items[i])) return false;
    }
    list.items = items;
    return true;
}

// Moves the listing so far, and a `pending` name not yet in a list (may be null), into
// an overflow block with `extra` bytes to spare. The block of an earlier large listing
// is reused when large enough; the listing's own old block is freed once copied out.
// False, with the listing where it was, when no block can be had.
bool move_to_overflow(Listing& listing, Slice* pending, int64_t extra) {
    bool in_ring = listing.store.kind == StoreKind::ring;
    if (in_ring) dynamic_pos = static_cast<int32_t>(listing.store.fill);
    int64_t needed = list_bytes(listing.directories) + list_bytes(listing.files) + extra;
    if (pending) needed += align_up(pending->length + 1);
    int64_t size = std::max(overflow_minimum, overflow_growth * needed);
    // The listing's own block (when it already lives there) is read while it is copied.
    bool reuse = in_ring && overflow_size >= size;
    char* block = reuse ? overflow_base : static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!block) return false;
    Store fresh = overflow_store(block, reuse ? overflow_size : size);
    Listing moved{fresh, listing.directories, listing.files};
    Slice name = pending ? *pending : Slice{nullptr, 0};
    bool copied = copy_list(moved.store, moved.directories) && copy_list(moved.store, moved.files) &&
                  (!pending || copy_name(moved.store, name));
    if (!copied) {
        // Sized from what it holds, the block has room; this only keeps the old one safe.
        if (!reuse) std::free(block);
        return false;
    }
    if (!reuse) {
        std::free(overflow_base);
        overflow_base = block;
        overflow_size = size;
    }
    if (pending) *pending = name;
    listing = moved;
    return true;
}

// Takes room for the entry's name, its NUL included, and copies it there.
char* take_name(Listing& listing, const PlatformFindData& entry) {
    int64_t size = int64_t{entry.name_length} + 1;
    int64_t at = store_take(listing.store, size);
    if (at < 0) {
        if (!move_to_overflow(listing, nullptr, size)) return nullptr;
        at = store_take(listing.store, size);
        if (at < 0) return nullptr;
    }
    char* name = listing.store.base + at;
    std::memcpy(name, entry.name, static_cast<size_t>(size));
    return name;
}

bool listing_add(Listing& listing, const PlatformFindData& entry) {
    char* name = take_name(listing, entry);
    if (!name) return false;
    Slice text{name, entry.name_length};
    bool is_directory = (entry.attributes & platform_attribute_directory) != 0;
    List& list = is_directory ? listing.directories : listing.files;
    if (store_add(listing.store, list, text)) return true;
    int64_t extra = list.capacity == 0 ? first_block_bytes : 2 * list.capacity * entry_bytes;
    return move_to_overflow(listing, &text, extra) && store_add(listing.store, list, text);
}

// The path followed by "/*", placed in the temporary ring by its taking rule, then its
// path form; null when too long for the ring or holding a NUL.
const PlatformPath* search_pattern(Slice path) {
    if (path.length < 0 || (!path.data && path.length > 0)) return nullptr;
    int64_t k = path.length + search_suffix.length;
    if (k > temporary_ring_size) return nullptr;
    char* pattern = temporary_buffer + temporary_take(k);
    // The path may itself lie in the ring.
    if (path.length > 0) std::memmove(pattern, path.data, static_cast<size_t>(path.length));
    std::memcpy(pattern + path.length, search_suffix.data, static_cast<size_t>(search_suffix.length));
    return to_platform_path(Slice{pattern, k});
}

}  // namespace

int32_t directory_create(Slice path) {
    const PlatformPath* native = to_platform_path(path);
    return native ? platform_create_directory(native) : 0;
}

int32_t directory_delete(Slice path) {
    const PlatformPath* native = to_platform_path(path);
    return native ? platform_remove_directory(native) : 0;
}

int32_t directory_rename(Slice old_path, Slice new_path) {
    const PlatformPath* native_old;
    const PlatformPath* native_new;
    if (!to_platform_path_pair(old_path, new_path, &native_old, &native_new)) return 0;
    if (!platform_is_directory(platform_attributes(native_old))) return 0;
    return platform_move(native_old, native_new);
}

int32_t directory_exists(Slice path) {
    const PlatformPath* native = to_platform_path(path);
    return native && platform_is_directory(platform_attributes(native)) ? 1 : 0;
}

void directory_get_content(DirectoryContent* result, Slice path) {
    if (!result) return;
    *result = DirectoryContent{SliceArray{nullptr, 0}, SliceArray{nullptr, 0}};
    const PlatformPath* pattern = search_pattern(path);
    if (!pattern) return;
    PlatformFindData entry;
    PlatformSearch* search = platform_find_first(pattern, &entry);
    if (!search) return;
    Listing listing{ring_store(true), List{nullptr, 0, 0}, List{nullptr, 0, 0}};
    bool listed = listing_add(listing, entry);
    while (listed && platform_find_next(search, &entry)) listed = listing_add(listing, entry);
    platform_find_close(search);
    if (listing.store.kind == StoreKind::ring) dynamic_pos = static_cast<int32_t>(listing.store.fill);
    if (!listed) return;
    result->directories = SliceArray{listing.directories.items, listing.directories.count};
    result->files = SliceArray{listing.files.items, listing.files.count};
}

bool add_string(Slice*& items, int64_t& count, int64_t& capacity, Slice text) {
    bool consistent = count >= 0 && count <= capacity && (capacity == 0 || items);
    if (!consistent) return false;
    List list{items, count, capacity};
    Store ring = ring_store(false);
    if (!store_add(ring, list, text)) return false;
    dynamic_pos = static_cast<int32_t>(ring.fill);
    items = list.items;
    count = list.count;
    capacity = list.capacity;
    return true;
}

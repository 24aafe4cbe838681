#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "columns/columns.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace corvane {

namespace {

constexpr std::size_t kAlignment = 64;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Mappings double with what the arena holds, from 1 MiB (small tables keep small pages) to 64 MiB.
constexpr std::size_t kFirstMapping = std::size_t{1} << 20;
constexpr std::size_t kLargestMapping = std::size_t{64} << 20;

std::size_t round_up(std::size_t bytes, std::size_t to) {
    if (bytes > std::numeric_limits<std::size_t>::max() - to) throw std::bad_alloc();
    return (bytes + to - 1) / to * to;
}

#if defined(__linux__)
// `size` bytes on a huge-page boundary, asking for huge pages when the mapping can hold some.
void* map(std::size_t size) {
    const bool huge = size >= 2 * kHugePage;
    const std::size_t slack = huge ? kHugePage : 0;
    void* mapped = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    if (!huge) return mapped;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned != start) munmap(mapped, aligned - start);
    if (const std::uintptr_t after = start + size + slack - (aligned + size); after != 0) {
        munmap(reinterpret_cast<void*>(aligned + size), after);
    }
    void* base = reinterpret_cast<void*>(aligned);
    madvise(base, size, MADV_HUGEPAGE);
    return base;
}

void unmap(void* base, std::size_t size) { munmap(base, size); }
#else
void* map(std::size_t size) {
    void* base = std::malloc(size);
    if (base == nullptr) throw std::bad_alloc();
    return base;
}

void unmap(void* base, std::size_t) { std::free(base); }
#endif

}  // namespace

ColumnArena::~ColumnArena() {
    for (const Mapping& mapping : mappings_) unmap(mapping.base, mapping.size);
}

void* ColumnArena::allocate(std::size_t bytes) {
    bytes = round_up(std::max(bytes, kAlignment), kAlignment);
    if (const auto found = released_.lower_bound(bytes); found != released_.end() && found->first / 2 <= bytes) {
        void* block = found->second;
        released_.erase(found);
        return block;
    }
    if (static_cast<std::size_t>(end_ - next_) < bytes) map_more(bytes);
    void* block = next_;
    next_ += bytes;
    return block;
}

void ColumnArena::release(void* block, std::size_t bytes) {
    released_.emplace(round_up(std::max(bytes, kAlignment), kAlignment), block);
}

void ColumnArena::map_more(std::size_t bytes) {
    const std::size_t size = round_up(std::max(bytes, std::clamp(mapped_, kFirstMapping, kLargestMapping)), kHugePage);
    void* base = map(size);
    mappings_.push_back({base, size});
    mapped_ += size;
    // What is left of the mapping before serves smaller requests.
    if (end_ - next_ >= static_cast<std::ptrdiff_t>(kAlignment)) release(next_, static_cast<std::size_t>(end_ - next_));
    next_ = static_cast<std::byte*>(base);
    end_ = next_ + size;
}

}  // namespace corvane

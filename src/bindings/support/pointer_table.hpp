// A hash table keyed by address, for the few distinct table texts that many values point at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::py {

// Open addressing: a lookup is a probe or two. Keys must not be null; entries are never removed.
template <class Key, class Payload>
class PointerTable {
public:
    PointerTable() : slots_(kInitialSlots) {}

    // The payload stored for `key`, or null.
    Payload* find(const Key* key) {
        Slot& slot = probe(key);
        return slot.key == nullptr ? nullptr : &slot.payload;
    }

    Payload& insert(const Key* key, Payload payload) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        Slot& slot = probe(key);
        if (slot.key == nullptr) ++used_;
        slot = {key, std::move(payload)};
        return slot.payload;
    }

    template <class Visit>
    void for_each(Visit visit) {
        for (Slot& slot : slots_) {
            if (slot.key != nullptr) visit(slot.payload);
        }
    }

private:
    struct Slot {
        const Key* key = nullptr;
        Payload payload{};
    };
    static constexpr std::size_t kInitialSlots = 256;

    Slot& probe(const Key* key) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t index = (reinterpret_cast<std::uintptr_t>(key) >> 4) * 0x9E3779B97F4A7C15u >> 32 & mask;
        while (slots_[index].key != nullptr && slots_[index].key != key) index = (index + 1) & mask;
        return slots_[index];
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (Slot& slot : old) {
            if (slot.key != nullptr) probe(slot.key) = std::move(slot);
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace corvane::py

// Writes section-4 data most significant bit first, as BitReader reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace corvane {

class BitWriter {
public:
    std::uint64_t position() const { return position_; }

    // The low `width` (0..64) bits of `value`.
    void write(std::uint64_t value, unsigned width) {
        if (width == 0) return;
        if (width < 64) value &= (std::uint64_t{1} << width) - 1;
        const unsigned free = 64 - pending_bits_;
        if (width < free) {
            pending_ = (pending_ << width) | value;
            pending_bits_ += width;
        } else {
            const unsigned rest = width - free;
            // Shifting by 64 is undefined: a full word of pending bits is the value itself.
            const std::uint64_t word = free == 64 ? value : (pending_ << free) | (value >> rest);
            flush_word(word);
            pending_ = rest == 0 ? 0 : value & ((std::uint64_t{1} << rest) - 1);
            pending_bits_ = rest;
        }
        position_ += width;
    }

    // `count` values of `width` (0..64) bits, the i-th `value_of(i)`: the state stays in registers
    // from one to the next, which stores through the bytes would otherwise prevent.
    template <class ValueOf>
    void write_each(std::size_t count, unsigned width, ValueOf&& value_of) {
        if (width == 0 || count == 0) return;
        std::uint64_t pending = pending_;
        unsigned pending_bits = pending_bits_;
        const std::uint64_t mask = width < 64 ? (std::uint64_t{1} << width) - 1 : ~std::uint64_t{0};
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t value = value_of(i) & mask;
            const unsigned free = 64 - pending_bits;
            if (width < free) {
                pending = (pending << width) | value;
                pending_bits += width;
                continue;
            }
            const unsigned rest = width - free;
            flush_word(free == 64 ? value : (pending << free) | (value >> rest));
            pending = rest == 0 ? 0 : value & ((std::uint64_t{1} << rest) - 1);
            pending_bits = rest;
        }
        pending_ = pending;
        pending_bits_ = pending_bits;
        position_ += std::uint64_t{width} * count;
    }

    // The bytes written, the last one filled with zero bits.
    std::vector<std::uint8_t> bytes() const& {
        std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(used_));
        finish(out);
        return out;
    }
    std::vector<std::uint8_t> bytes() && {
        bytes_.resize(used_);
        finish(bytes_);
        return std::move(bytes_);
    }

private:
    void finish(std::vector<std::uint8_t>& out) const {
        for (unsigned shift = pending_bits_; shift > 0;) {
            const unsigned taken = shift >= 8 ? 8 : shift;
            shift -= taken;
            out.push_back(static_cast<std::uint8_t>(((pending_ >> shift) & ((1u << taken) - 1)) << (8 - taken)));
        }
    }

    void flush_word(std::uint64_t word) {
        // Grown ahead of the words, so that most flushes only store.
        if (used_ + 8 > bytes_.size()) bytes_.resize(bytes_.size() * 2 + 64);
        std::uint8_t* out = bytes_.data() + used_;
        for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(word >> (56 - 8 * i));
        used_ += 8;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;       // of bytes_, which runs ahead
    std::uint64_t pending_ = 0;  // the low `pending_bits_` bits, not yet a whole word
    unsigned pending_bits_ = 0;
    std::uint64_t position_ = 0;
};

}  // namespace corvane

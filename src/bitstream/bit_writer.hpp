// Writes section-4 data most significant bit first, as BitReader reads it.
#pragma once

#include <cstdint>
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

    // The bytes written, the last one filled with zero bits.
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out = bytes_;
        for (unsigned shift = pending_bits_; shift > 0;) {
            const unsigned taken = shift >= 8 ? 8 : shift;
            shift -= taken;
            out.push_back(static_cast<std::uint8_t>(((pending_ >> shift) & ((1u << taken) - 1)) << (8 - taken)));
        }
        return out;
    }

private:
    void flush_word(std::uint64_t word) {
        for (int shift = 56; shift >= 0; shift -= 8) bytes_.push_back(static_cast<std::uint8_t>(word >> shift));
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t pending_ = 0;  // the low `pending_bits_` bits, not yet a whole word
    unsigned pending_bits_ = 0;
    std::uint64_t position_ = 0;
};

}  // namespace corvane

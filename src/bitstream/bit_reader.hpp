// Reads section-4 data most significant bit first; never seeks back.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "error/error.hpp"

namespace corvane {

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data)
        : data_(data.data()), length_(data.size()), total_bits_(static_cast<std::uint64_t>(data.size()) * 8) {}

    std::uint64_t position() const { return position_; }
    std::uint64_t total_bits() const { return total_bits_; }

    // The next `width` (0..64) bits as an unsigned number.
    Result<std::uint64_t> read_u64(std::uint16_t width) {
        std::uint64_t value;
        if (try_read_u64(width, value)) return value;
        return read_error(width);
    }

    // ceil(width / 8) bytes; a final partial byte has its bits at the high end.
    Result<std::vector<std::uint8_t>> read_bytes(std::uint16_t width);

    // The hot-path form of read_u64: false (nothing consumed) when the read cannot be done;
    // read_error(width) then names the failure.
    bool try_read_u64(std::uint16_t width, std::uint64_t& value) {
        if (width == 0) {
            value = 0;
            return true;
        }
        if (width > 64 || position_ + width > total_bits_) return false;
        if (width <= 56) {
            value = extract(position_, width);
        } else {
            value = (extract(position_, 32) << (width - 32)) | extract(position_ + 32, width - 32);
        }
        position_ += width;
        return true;
    }

    // Passes over `bits` bits unread: false (nothing consumed) when fewer are left.
    bool try_skip(std::uint64_t bits) {
        if (bits > total_bits_ - position_) return false;
        position_ += bits;
        return true;
    }

    BufrError read_error(std::uint16_t width) const;

private:
    // `width` (1..56) bits starting at bit `bit`, which the caller has bounds-checked.
    std::uint64_t extract(std::uint64_t bit, unsigned width) const {
        const std::uint64_t first = bit >> 3;
        std::uint64_t word = 0;
        if (first + 8 <= length_) {
            std::memcpy(&word, data_ + first, 8);
            word = __builtin_bswap64(word);
        } else {
            for (std::uint64_t i = first; i < length_; ++i) word |= std::uint64_t{data_[i]} << (56 - 8 * (i - first));
        }
        return (word << (bit & 7)) >> (64 - width);
    }

    const std::uint8_t* data_;
    std::uint64_t length_;
    std::uint64_t total_bits_;
    std::uint64_t position_ = 0;
};

}  // namespace corvane

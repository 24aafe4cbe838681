#include "bitstream/bit_reader.hpp"

#include <string>

namespace corvane {

BufrError BitReader::read_error(std::uint16_t width) const {
    if (width > 64) return BufrError::unsupported("cannot read " + std::to_string(width) + " bits into u64");
    return BufrError::data_truncated("not enough bits while reading section 4 at bit " + std::to_string(position_) +
                                     " for width " + std::to_string(width) + " (" + std::to_string(total_bits_) +
                                     " bits available)");
}

Result<std::vector<std::uint8_t>> BitReader::read_bytes(std::uint16_t width) {
    const std::uint64_t whole = width / 8;
    const auto tail = static_cast<std::uint16_t>(width % 8);
    if (position_ + width > total_bits_) {
        // Whole bytes that fit are consumed; the error names the first chunk that does not.
        const std::uint64_t fitting = (total_bits_ - position_) / 8;
        if (fitting < whole) {
            position_ += fitting * 8;
            return read_error(8);
        }
        position_ += whole * 8;
        return read_error(tail);
    }
    std::vector<std::uint8_t> bytes(whole + (tail != 0 ? 1 : 0));
    for (std::uint64_t i = 0; i < whole; ++i) {
        bytes[i] = static_cast<std::uint8_t>(extract(position_, 8));
        position_ += 8;
    }
    if (tail != 0) {
        bytes[whole] = static_cast<std::uint8_t>(extract(position_, tail) << (8 - tail));
        position_ += tail;
    }
    return bytes;
}

}  // namespace corvane

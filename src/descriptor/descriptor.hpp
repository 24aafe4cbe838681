// Descriptor codes: F-X-Y carried as the integer F*100000 + X*1000 + Y.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/error.hpp"

namespace corvane {

inline constexpr std::uint32_t kAssociatedFieldCode = 999999;

// The parts of a code as the walks read them: F and Y wrap modulo 256.
constexpr std::uint32_t descriptor_f(std::uint32_t code) { return (code / 100000) % 256; }
constexpr std::uint32_t descriptor_x(std::uint32_t code) { return (code % 100000) / 1000; }
constexpr std::uint32_t descriptor_y(std::uint32_t code) { return (code % 1000) % 256; }
constexpr std::uint32_t make_code(std::uint32_t f, std::uint32_t x, std::uint32_t y) {
    return f * 100000 + x * 1000 + y;
}
// Class 31 holds replication factors and bitmap bits: no associated field, and by default never
// missing.
constexpr bool is_class31(std::uint32_t code) {
    const std::uint32_t xy = code % 100000;
    return xy >= 31000 && xy <= 31999;
}

// A descriptor as a value: any 0..255 parts, as given.
struct Descriptor {
    std::uint8_t f = 0;
    std::uint8_t x = 0;
    std::uint8_t y = 0;

    constexpr std::uint32_t fxy() const { return make_code(f, x, y); }
    static constexpr Descriptor from_fxy(std::uint32_t code) {
        return {static_cast<std::uint8_t>((code / 100000) % 256), static_cast<std::uint8_t>((code % 100000) / 1000),
                static_cast<std::uint8_t>((code % 1000) % 256)};
    }
};

// Table-file text to a code: trims white space, then double quotes at either end.
Result<std::uint32_t> parse_code(std::string_view text);

}  // namespace corvane

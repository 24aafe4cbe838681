#include "walk/element_reading.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "text/text.hpp"

namespace corvane::detail {

namespace {

constexpr double squaring_power(std::uint64_t exponent) {
    double result = 1.0;
    double base = 10.0;
    while (exponent != 0) {
        if ((exponent & 1) != 0) result *= base;
        exponent >>= 1;
        if (exponent != 0) base *= base;
    }
    return result;
}

// Every exponent a real table reaches, so that scaling costs no loop.
constexpr std::int64_t kTabulated = 340;

const auto kPowers = [] {
    std::array<double, 2 * kTabulated + 1> powers{};
    for (std::int64_t e = -kTabulated; e <= kTabulated; ++e) {
        const double magnitude = squaring_power(static_cast<std::uint64_t>(e < 0 ? -e : e));
        powers[static_cast<std::size_t>(e + kTabulated)] = e < 0 ? 1.0 / magnitude : magnitude;
    }
    return powers;
}();

constexpr std::int64_t wrapping_mul(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

}  // namespace

BufrError too_many_values() { return BufrError::limit_exceeded("decoded value count exceeds 16777216"); }

BufrError width_error(std::uint32_t width) {
    return BufrError::unsupported("cannot read " + std::to_string(width) + " bits into u64");
}

double power_of_ten(std::int64_t exponent) {
    if (exponent >= -kTabulated && exponent <= kTabulated) {
        return kPowers[static_cast<std::size_t>(exponent + kTabulated)];
    }
    const std::uint64_t magnitude = exponent < 0 ? 0 - static_cast<std::uint64_t>(exponent)
                                                 : static_cast<std::uint64_t>(exponent);
    const double power = squaring_power(magnitude);
    return exponent < 0 ? 1.0 / power : power;
}

NumericField element_field(const ElementDefinition& element, const OperatorState& operators) {
    NumericField field;
    if (element.is_text()) {
        field.width = operators.text_width_set ? operators.text_width_bits : element.width;
        return field;
    }
    std::int64_t reference = element.reference;
    if (!operators.new_references.empty()) {
        const auto found = operators.new_references.find(element.code);
        if (found != operators.new_references.end()) reference = found->second;
    }
    // 201YYY, 202YYY and 207YYY leave code and flag tables alone.
    const bool changed = !element.is_code_or_flag();
    if (operators.local_width_pending) {
        field.width = operators.local_width;
    } else {
        const std::int64_t width = std::int64_t{element.width} + (changed ? operators.width_delta : 0);
        field.width = width < 0 ? 0 : static_cast<std::uint32_t>(width);
    }
    field.reference = changed ? wrapping_mul(reference, operators.reference_multiplier) : reference;
    // Past the int32 range 10^scale is infinite or zero either way.
    field.scale = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{element.scale} + (changed ? operators.scale_delta : 0),
                                 std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    field.divisor = power_of_ten(field.scale);
    return field;
}

NumericField attached_field(const HistoryEntry& entry, bool difference_statistics) {
    NumericField field;
    field.width = entry.width;
    if (entry.element->is_text()) {
        if (difference_statistics) field.width = std::min<std::uint32_t>(field.width + 1, 65535);
        return field;
    }
    field.scale = entry.scale;
    field.reference = entry.reference;
    field.divisor = power_of_ten(entry.scale);
    if (difference_statistics) {
        // -(2^width) wraps in 64 bits like all reference arithmetic: exact up to 2^63.
        const std::uint64_t power = field.width >= 64 ? 0 : std::uint64_t{1} << field.width;
        field.reference = static_cast<std::int64_t>(0 - power);
        field.width += 1;
    }
    return field;
}

Status read_field_bytes(BitReader& reader, std::uint16_t width, std::uint8_t* out) {
    const unsigned whole = width / 8;
    const auto tail = static_cast<std::uint16_t>(width % 8);
    std::uint64_t bits;
    for (unsigned i = 0; i < whole; ++i) {
        if (!reader.try_read_u64(8, bits)) return reader.read_error(8);
        out[i] = static_cast<std::uint8_t>(bits);
    }
    if (tail != 0) {
        if (!reader.try_read_u64(tail, bits)) return reader.read_error(tail);
        out[whole] = static_cast<std::uint8_t>(bits << (8 - tail));
    }
    return {};
}

std::optional<std::string_view> decode_ia5_text(FieldScratch& field, std::size_t size, const DecodeOptions& options) {
    std::uint8_t* const bytes = field.data();
    const bool nul_padded = options.nul_padded_texts;
    const auto padding = [nul_padded](std::uint8_t b) { return b == 0xFF || (nul_padded && b == 0); };
    if (std::all_of(bytes, bytes + size, padding)) return std::nullopt;
    const std::size_t length =
        trim_ascii_space_end(std::string_view(reinterpret_cast<const char*>(bytes), size), nul_padded).size();
    if (!options.latin1_texts) {
        std::replace_if(
            bytes, bytes + length, [](std::uint8_t b) { return b >= 0x80; }, std::uint8_t{'?'});
        return std::string_view(reinterpret_cast<const char*>(bytes), length);
    }
    // Fill bytes padded with blanks are still no text, as ecCodes reads them.
    if (length != 0 && std::all_of(bytes, bytes + length, [](std::uint8_t b) { return b == 0xFF; })) {
        return std::nullopt;
    }
    // From the end, so that no byte is overwritten before it is read.
    const auto high = static_cast<std::size_t>(
        std::count_if(bytes, bytes + length, [](std::uint8_t b) { return b >= 0x80; }));
    std::size_t out = length + high;
    for (std::size_t in = length; out != in;) {
        const std::uint8_t b = bytes[--in];
        if (b < 0x80) {
            bytes[--out] = b;
        } else {
            bytes[--out] = static_cast<std::uint8_t>(0x80 | (b & 0x3F));
            bytes[--out] = static_cast<std::uint8_t>(0xC0 | (b >> 6));
        }
    }
    return std::string_view(reinterpret_cast<const char*>(bytes), length + high);
}

std::int64_t sign_magnitude(std::uint64_t bits, std::uint32_t width) {
    if (width == 0) return 0;
    const std::uint32_t magnitude_bits = std::min<std::uint32_t>(width - 1, 63);
    const auto magnitude = static_cast<std::int64_t>(bits & all_ones(magnitude_bits));
    const bool negative = width <= 64 && ((bits >> (width - 1)) & 1) != 0;
    return negative ? -magnitude : magnitude;
}

std::uint64_t replication_count(std::optional<double> factor) {
    if (!factor || !(*factor >= 1.0)) return 0;
    if (*factor >= 18446744073709551616.0) return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(*factor);
}

}  // namespace corvane::detail

// Private to the walk: how one element is read under the operators in force, and the
// limits and errors both layouts share.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "bitstream/bit_reader.hpp"
#include "descriptor/descriptor.hpp"
#include "error/error.hpp"
#include "tables/table_set.hpp"
#include "walk/coding_state.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// The widest byte field: a 16-bit width in bits.
inline constexpr std::size_t kMaxFieldBytes = 8192;

// Room for one text field, and for its decoding as UTF-8 in place (two bytes for each byte of
// Latin-1). Every read fills what it then uses, so it is never zeroed: a decode call would
// otherwise clear 16 KiB for nothing.
struct FieldScratch {
    FieldScratch() {}
    std::uint8_t* data() { return bytes.data(); }
    std::array<std::uint8_t, 2 * kMaxFieldBytes> bytes;
};

// What every walk over section 4 reads with, whatever it writes to: each walk adds its own
// state and output after these. `Reader` is where the bits come from: the message's, or an
// encoder's source that writes each value as the walk asks for its bits.
template <class Reader = BitReader>
struct SectionWalk {
    const TableSet& tables;
    const DecodeOptions options;
    Reader& reader;
    std::uint64_t steps = 0;
    FieldScratch field{};
    // Within a 203YYY definition, which may outlast its subset.
    bool defining = false;

    WalkValue value(ValueKind kind, std::uint32_t code, const ElementDefinition* element = nullptr,
                    const NumericField* read_with = nullptr) const {
        return {kind, defining, code, element, read_with, nullptr};
    }
};

BufrError too_many_values();
// Widths past 64 can exceed the reader's 16-bit width once operators are added.
BufrError width_error(std::uint32_t width);

// How an element is read under the operators in force.
NumericField element_field(const ElementDefinition& element, const OperatorState& operators);

// The history entry of an element that was read with `field`.
inline HistoryEntry history_entry(const ElementDefinition& element, const NumericField& field) {
    return {&element, field.reference, field.scale, static_cast<std::uint16_t>(field.width)};
}

// How a value that a bitmap attaches to `entry` is read: with the entry's field. 225255
// (`difference_statistics`) adds one bit and takes the reference -(2^width).
NumericField attached_field(const HistoryEntry& entry, bool difference_statistics);

// Whether all ones is missing for an element read as a value (not as a replication factor).
// Class 31 holds factors and bitmap bits; the package reads its other elements as any other,
// but never 031031, whose bits a bitmap may be made of.
constexpr bool missing_when_all_ones(std::uint32_t code, const DecodeOptions& options) {
    return !is_class31(code) || (options.missing_class31_values && code != 31031);
}

// 10^exponent in floating point by repeated squaring; a negative exponent gives the reciprocal.
double power_of_ten(std::int64_t exponent);

constexpr std::uint64_t all_ones(std::uint32_t width) {
    return width == 0 ? 0 : width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

constexpr bool is_missing(std::uint64_t raw, std::uint32_t width, bool check_missing) {
    return check_missing && width <= 63 && raw == all_ones(width);
}

// The `width` bits of a numeric field that the walk reads as `value` says. Another bit source
// has its own overload, found beside its type.
inline bool read_value_bits(BitReader& reader, const WalkValue&, std::uint16_t width, std::uint64_t& raw) {
    return reader.try_read_u64(width, raw);
}

// A compressed column's NBINC: the width of its increments (octets, for a text column).
inline bool read_increment_width(BitReader& reader, const WalkValue&, std::uint64_t& nbinc) {
    return reader.try_read_u64(6, nbinc);
}

// Where a compressed column's increments come from once R0 and NBINC are read: the message's
// bits, or the bits an encoder's source has just written for the column.
inline BitReader& column_increments(BitReader& reader) { return reader; }

// Reads `width` bits as bytes exactly as BitReader::read_bytes does, into `out`
// (at least ceil(width / 8) bytes), so that no buffer is allocated per value.
Status read_field_bytes(BitReader& reader, std::uint16_t width, std::uint8_t* out);

// The `width` bits of a text field (an element's or character data) that the walk reads as
// `value` says, into `out`; another bit source has its own overload, as for read_value_bits.
inline Status read_text_bits(BitReader& reader, const WalkValue&, std::uint16_t width, std::uint8_t* out) {
    return read_field_bytes(reader, width, out);
}

// The text of a CCITT IA5 field of `size` bytes at the start of `field`, decoded in place (the
// view points into `field`); nothing when the field is empty or all ones. DecodeOptions say
// whether NULs count as padding too, and whether bytes above 0x7F are Latin-1 or "?".
std::optional<std::string_view> decode_ia5_text(FieldScratch& field, std::size_t size, const DecodeOptions& options);

// The leftmost of `width` bits is the sign, the rest the magnitude.
std::int64_t sign_magnitude(std::uint64_t bits, std::uint32_t width);

// How many times a delayed replication repeats, from its factor's value.
std::uint64_t replication_count(std::optional<double> factor);

}  // namespace corvane::detail

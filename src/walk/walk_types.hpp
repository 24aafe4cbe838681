// Private to the walk: the types that walk.hpp gives its users, who include walk.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "tables/table_set.hpp"

namespace corvane {

// A decode that would produce more values fails instead: a message of a few bytes can
// describe astronomically many.
inline constexpr std::size_t kMaxDecodedValues = std::size_t{1} << 24;

// Where the package reads data as ecCodes does rather than as `_corvane` does; the defaults
// are `_corvane`'s.
struct DecodeOptions {
    // Texts padded with NULs, as many encoders write them: trailing NULs go with trailing
    // blanks, and a text of NUL and 0xFF bytes only is missing.
    bool nul_padded_texts = false;
    // A 206YYY width other than the element's Table B width means that the table entry does not
    // describe the bits: they are read unscaled, as for an element that the tables lack.
    bool plain_mismatched_local_widths = false;
    // Text bytes above 0x7F are Latin-1, kept as UTF-8 (two bytes each), rather than "?".
    bool latin1_texts = false;
    // A class-31 element that is no replication factor and no 031031 is missing when all its bits
    // are ones, like any other element.
    bool missing_class31_values = false;
};

// How the corvane package reads data, for values and columns alike.
inline constexpr DecodeOptions kPackageDecodeOptions{.nul_padded_texts = true,
                                                     .plain_mismatched_local_widths = true,
                                                     .latin1_texts = true,
                                                     .missing_class31_values = true};

// What a value is, as the walk that read it says.
enum class ValueKind : std::uint8_t {
    Element,              // a Table B element
    ReplicationFactor,    // the factor of a delayed replication
    Marker,               // an operator that reads nothing, kept in its place
    AssociatedField,      // 204YYY bits before an element
    BitmapAttached,       // a value that a bitmap attaches to an element read before
    CharacterData,        // 205YYY text
    ReferenceDefinition,  // a new reference value, or anything else within a 203YYY definition
    UnknownLocalElement,  // 206YYY bits of an element that the tables lack or do not describe
};

// How a numeric element is read: its width may exceed 64, which makes the read fail. A text
// has its width alone.
struct NumericField {
    std::uint32_t width = 0;
    std::int32_t scale = 0;  // of which `divisor` is the power of ten
    std::int64_t reference = 0;
    double divisor = 1.0;
};

// (raw + reference) exactly, then to the nearest double, then scaled.
inline double scaled_value(std::uint64_t raw, std::int64_t reference, double divisor) {
    std::int64_t sum;
    if (raw <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
        !__builtin_add_overflow(static_cast<std::int64_t>(raw), reference, &sum)) {
        return static_cast<double>(sum) / divisor;
    }
    __extension__ using wide = __int128;
    return static_cast<double>(static_cast<wide>(raw) + reference) / divisor;
}

// The element that a bitmap-attached value refers to.
struct BitmapReference {
    std::uint32_t operator_code = 0;  // 223255, 224255, 225255 or 232255
    std::uint64_t history_index = 0;  // among the elements the subset (compressed: message) read
    const ElementDefinition* element = nullptr;
};

// What the walk tells of every value it reads.
struct WalkValue {
    // As read: a ReferenceDefinition here is a new reference value.
    ValueKind kind = ValueKind::Element;
    // Within a 203YYY definition (from its operator to the next 203YYY of the message): the value
    // describes the coding, not the data.
    bool defining = false;
    std::uint32_t code = 0;  // 999999 for associated fields
    // The definition it was read with: null for associated fields, character data and unknown
    // local elements. A bitmap-attached value has the definition of the element it refers to.
    const ElementDefinition* element = nullptr;
    // How its bits were read; null for character data.
    const NumericField* field = nullptr;
    // For BitmapAttached, the element the value refers to; for a class-33 element after
    // 222000, the element it qualifies.
    const BitmapReference* attached = nullptr;
    // Elements and replication factors: the index the value takes in the history (an element
    // that a bitmap takes as its entry takes none, and the next one takes its index).
    std::uint64_t history_index = 0;

    // The kind the value keeps: whatever stands within a definition is ReferenceDefinition.
    ValueKind kept_kind() const { return defining ? ValueKind::ReferenceDefinition : kind; }
    // Read as an element, so a code table may give its raw bits a meaning.
    bool has_meaning() const { return element != nullptr && kind != ValueKind::ReferenceDefinition; }
};

// Cell writers that a column sink may hand to the walk for columns it does not keep: the walk
// then passes over their bits without reading each cell it does not need.
struct SkipCells {
    void all(std::uint64_t, bool) {}
    void cell(std::uint64_t, std::uint64_t, bool) {}
};
struct SkipTexts {
    void all(std::optional<std::string_view>) {}
    void text(std::uint64_t, std::optional<std::string_view>) {}
};

// What every sink receives besides values; a sink that does not care inherits these.
struct SinkBase {
    // A replication (1XXYYY) repeats its group `count` times: every repetition is walked between
    // begin_repetition(r) and end_repetition(r), r from 0.
    void begin_replication(std::uint32_t, std::uint64_t) {}
    void begin_repetition(std::uint64_t) {}
    void end_repetition(std::uint64_t) {}
    void end_replication(std::uint32_t) {}
};

}  // namespace corvane

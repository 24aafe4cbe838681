// Decoding the data section of one message into a flat list of values, subset after subset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "data/decoded_value.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
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

// Decodes compressed messages too. The values borrow names and meanings from `tables`,
// which must outlive them.
Result<DecodedValues> decode_uncompressed_values(const BufrMessage& message, const TableSet& tables,
                                                 std::span<const std::uint8_t> section4_data,
                                                 DecodeOptions options = {});

}  // namespace corvane

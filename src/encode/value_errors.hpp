// Private to the encoder: what it says of descriptors and values it cannot write, and texts as
// Latin-1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "encode/encode.hpp"
#include "error/error.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// Fails for a code that is no FXXYYY descriptor.
Status valid_descriptors(std::span<const std::uint32_t> descriptors);

// Subsets are counted from 0 here and from 1 in the texts, as the reader numbers them.
BufrError too_few_values(std::uint32_t subset, std::size_t given, const WalkValue& needed);
BufrError surplus_values(std::uint32_t subset, std::size_t given, std::size_t used);
BufrError number_misfit(std::uint32_t subset, const WalkValue& value, double number, std::uint32_t width,
                        bool all_ones_missing);
BufrError reference_misfit(std::uint32_t subset, const WalkValue& value, double number, std::uint32_t width);
BufrError wrong_type(std::uint32_t subset, const WalkValue& value, const InputValue& input);
BufrError text_misfit(std::uint32_t subset, const WalkValue& value, std::string_view text, std::size_t size,
                      std::string_view why);
// A compressed message's delayed replication factor that is `first` in the first subset and
// `other` in `subset`.
BufrError differing_factor(std::uint32_t subset, const WalkValue& value, std::uint64_t first, std::uint64_t other);
// A compressed message's new reference value (`width` bits, sign and magnitude) that is `first` in
// the first subset and `other` in `subset`.
BufrError differing_reference(std::uint32_t subset, const WalkValue& value, std::uint64_t first, std::uint64_t other,
                              std::uint32_t width);
// A column whose values differ more than its increments can tell.
BufrError uncompressible(const WalkValue& value, std::string_view why);

// `text` (UTF-8) as Latin-1 into `out`, at most `size` bytes: their count, or why it cannot be.
Result<std::size_t> latin1_text(std::string_view text, std::uint8_t* out, std::size_t size);

}  // namespace corvane::detail

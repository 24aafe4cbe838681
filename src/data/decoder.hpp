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

// Decodes compressed messages too. The values borrow names and meanings from `tables`,
// which must outlive them.
Result<DecodedValues> decode_uncompressed_values(const BufrMessage& message, const TableSet& tables,
                                                 std::span<const std::uint8_t> section4_data);

}  // namespace corvane

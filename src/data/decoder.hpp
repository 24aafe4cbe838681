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
#include "walk/walk.hpp"

namespace corvane {

// Decodes compressed messages too. The values borrow names and meanings from `tables`,
// which must outlive them.
Result<DecodedValues> decode_uncompressed_values(const BufrMessage& message, const TableSet& tables,
                                                 std::span<const std::uint8_t> section4_data,
                                                 DecodeOptions options = {});

}  // namespace corvane

// Private to the decoders: the column-by-column walk of a compressed message.
#pragma once

#include <vector>

#include "bitstream/bit_reader.hpp"
#include "data/decoded_value.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace corvane::detail {

// All values of the message, subset after subset.
Result<std::vector<DecodedValue>> decode_compressed_values(const BufrMessage& message, const TableSet& tables,
                                                           BitReader& reader);

}  // namespace corvane::detail

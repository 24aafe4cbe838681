// Private to the decoders: the subset-by-subset walk of an uncompressed message.
#pragma once

#include "bitstream/bit_reader.hpp"
#include "data/decoded_value.hpp"
#include "data/decoder.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace corvane::detail {

// Every subset in turn, each with fresh operator and bitmap state, from the reader's position.
Result<DecodedValues> decode_uncompressed_subsets(const BufrMessage& message, const TableSet& tables,
                                                  BitReader& reader, DecodeOptions options);

}  // namespace corvane::detail

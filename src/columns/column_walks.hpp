// Private to the columns subsystem: the sinks of the walk for both data layouts, writing each
// value into its column as it is read.
#pragma once

#include "bitstream/bit_reader.hpp"
#include "columns/table_builder.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

// Subset after subset, each with fresh operator and bitmap state.
Status decode_uncompressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                   BitReader& reader, TableBuilder& out);

// Column after column of the message, each into the rows of all its subsets at once.
Status decode_compressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                 BitReader& reader, TableBuilder& out);

}  // namespace corvane::detail

// Private to the rows subsystem: the sinks of the walk for both data layouts, tracking the
// chosen keys of each structure and keeping its rows.
#pragma once

#include <cstddef>

#include "bitstream/bit_reader.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "rows/row_table.hpp"
#include "tables/table_set.hpp"

namespace corvane::detail {

// The rows of message `index`, subset after subset.
Status walk_uncompressed_rows(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                              BitReader& reader, RowTable& out, std::size_t index);

// The one structure of a compressed message, then the rows of each of its subsets.
Status walk_compressed_rows(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                            BitReader& reader, RowTable& out, std::size_t index);

}  // namespace corvane::detail

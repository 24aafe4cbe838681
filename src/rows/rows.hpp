// The rows that a reader of observations expects, decided as section 4 is walked: a row per
// level of a profile, per sensor height or cloud layer, with the keys of the levels above it.
// They are the rows of pdbufr's reader, but for its one plain fault (see the end).
//
// Within a subset the chosen keys come in data order, each at a level. An element of classes
// 01 to 09 (a coordinate) stands at the current level and opens the one below for what follows
// it; when a coordinate comes again, the levels opened since it came last close and it takes
// its old level. A chosen key completes the row:
// - when the row holds it already: the keys that joined the row since that key did leave it
//   (so a cloud group's amount and height stay beside each of its cloud types);
// - when it stands at a shallower level than the last key kept: the keys below its level
//   leave it.
// A complete row is kept when a key joined it since it was last kept, and it holds every
// filtered and required key. A filter that fails at a level passes over the keys below it, up
// to the next key at that level or above. The row pending at the end of a subset is kept too. A
// missing value is a value; only an absent key is absent.
//
// pdbufr lets a key that comes again at a deeper level overwrite the row's value instead: a
// SYNOP's first-order statistic of the air temperature (0.1 K) replaced the air temperature.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "columns/columns.hpp"
#include "data/decoder.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_provider.hpp"

namespace corvane {

namespace detail {
class RowTable;
}

struct RowColumn {
    std::string name;      // "key" (every occurrence) or "#n#key" (the n-th of the subset)
    bool required = true;  // a row that lacks the key is dropped
};

struct RowRequest {
    std::vector<RowColumn> columns;
    // On keys chosen or not; a row lacking a filtered key is dropped.
    std::vector<ColumnFilter> filters;
};

// Builds one table of rows from messages given one at a time: columns "message", "subset"
// (from 1) and the chosen columns in their order. A column's type is that of its first value,
// as for ColumnBuilder; a column that no message holds is Float64.
class RowBuilder {
public:
    // Fails for a column or filter that names no occurrence, such as "#0#key".
    static Result<RowBuilder> create(const RowRequest& request, DecodeOptions options = {});

    RowBuilder(RowBuilder&&) noexcept;
    RowBuilder& operator=(RowBuilder&&) noexcept;
    ~RowBuilder();

    // As ColumnBuilder::add_message: a message that fails to decode gives an error and no rows.
    Status add_message(std::size_t index, std::size_t offset, std::span<const std::uint8_t> bytes,
                       const TableProvider& tables);
    void add_error(std::size_t index, std::size_t offset, std::string text);
    // A parsed message whose section 4 data is `data`: its rows, or its failure, which leaves
    // no rows and is not kept as an error. add_message also checks the size of the table.
    Status add_parsed(std::size_t index, const BufrMessage& message, std::span<const std::uint8_t> data,
                      const TableSet& tables);

    ColumnTable finish() &&;

private:
    RowBuilder(std::unique_ptr<detail::RowTable> table, DecodeOptions options);
    std::unique_ptr<detail::RowTable> table_;
    DecodeOptions options_;
};

// Every message of `buffer` as scan_messages finds it.
Result<ColumnTable> decode_rows(std::span<const std::uint8_t> buffer, const TableProvider& tables,
                                const RowRequest& request, DecodeOptions options = {});

}  // namespace corvane

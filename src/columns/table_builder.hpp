// Private to the columns subsystem: the table that the column walks fill, message by message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "columns/column_cells.hpp"
#include "columns/columns.hpp"
#include "data/decoded_value.hpp"
#include "tables/table_set.hpp"

namespace corvane::detail {

// What a value is, as far as its column goes: its name (in its table set, or one of the labels
// of values that Table B does not define), its code and its kind, as a DecodedValue tells them.
struct ValueSource {
    const std::string* name = nullptr;
    std::uint32_t code = 0;
    ValueKind kind = ValueKind::Element;
    bool operator==(const ValueSource&) const = default;
};

inline constexpr std::int32_t kNoColumn = -1;

// Codes 0XXYYY with XX < 64 and YYY < 256, as descriptors hold them, index the builder's
// direct-mapped caches; other codes are not cached.
inline constexpr std::size_t kCachedCodes = std::size_t{64} << 8;
constexpr std::size_t cache_slot(std::uint32_t code) {
    const std::uint32_t x = code / 1000;
    const std::uint32_t y = code % 1000;
    return x < 64 && y < 256 ? std::size_t{x} << 8 | y : kCachedCodes;
}

// "key" or "#n#key" as (key, n); n is 0 for a bare key.
struct ColumnName {
    std::string key;
    std::uint32_t rank = 0;
};
Result<ColumnName> parse_column_name(std::string_view name);

class TableBuilder {
public:
    // No `keys`: every key. A filtered column is selected too.
    TableBuilder(std::optional<std::vector<ColumnName>> keys, std::vector<std::pair<ColumnName, ColumnFilter>> filters);

    // Rows for the subsets of a message, whose values are decoded with `tables`. Room is taken
    // as rows are written, for one row of this message until plan_rows says more: a few bytes
    // can declare 65,535 subsets.
    void begin_message(std::uint64_t subsets, const TableSet& tables);
    // The message holds about `rows` rows, as far as its bits tell: columns take room for them,
    // and for as many in each message to come, at once.
    void plan_rows(std::uint64_t rows);
    // Keeps the rows of message `index` that pass the filters. Fails when the table passed
    // kMaxColumnCells.
    Status end_message(std::size_t index);
    // Drops what the message wrote, and the columns it added.
    void abandon_message();
    void add_error(MessageError error) { errors_.push_back(std::move(error)); }

    std::size_t base_row() const { return base_; }
    void expect_messages(std::size_t count) { expected_messages_ = count; }

    // The definition of `code` in the message's tables, or null: the walks ask for every
    // element they meet.
    const ElementDefinition* element(std::uint32_t code) {
        const std::size_t slot = cache_slot(code);
        if (slot < kCachedCodes && cached_elements_[slot].tables == tables_) return cached_elements_[slot].element;
        return element_slowly(code, slot);
    }

    // Uncompressed messages: the column of each value of a subset in turn (kNoColumn when not
    // selected). Subsets that repeat the values of the one before cost one comparison a value.
    void begin_subset();
    void end_subset();
    std::int32_t value_column(const ValueSource& source) {
        if (in_step_ && position_ < slots_.size() && slots_[position_].source == source) {
            return slots_[position_++].column;
        }
        return value_column_slowly(source);
    }

    // Compressed messages: the column of each column of the message in turn.
    std::int32_t message_column(const ValueSource& source);

    ColumnType type(std::int32_t column) const { return types_[static_cast<std::size_t>(column)]; }

    // One present value (numbers: never NaN) of row `row`; rows of a column come in order.
    void put_number(std::int32_t column, std::size_t row, double value);
    void put_text(std::int32_t column, std::size_t row, std::string_view text);
    // Every row of the message in a Float64 or Int64 column, to be written whole.
    double* float_rows(std::int32_t column);
    std::int64_t* integer_rows(std::int32_t column);

    ColumnTable finish();

private:
    struct SourceHash {
        std::size_t operator()(const ValueSource& source) const {
            return std::hash<const void*>()(source.name) ^ (std::size_t{source.code} * 0x9E3779B97F4A7C15u);
        }
    };
    struct Key {
        ColumnInfo info;  // rank 0, name empty
        bool every_occurrence = false;
        std::set<std::uint32_t> occurrences;
        // The column of rank r at r - 1: kNoColumn when not selected, kUnsettled before the
        // rank is first met.
        std::vector<std::int32_t> column_of_rank;
    };
    // The keys of values by cache_slot: a hit is the same name pointer, which alone tells a
    // Table B value from a labelled one of the same code.
    struct CachedKey {
        const std::string* name = nullptr;
        std::uint32_t key = 0;
    };
    // Definitions by cache_slot, for the tables they were found in.
    struct CachedElement {
        const TableSet* tables = nullptr;
        const ElementDefinition* element = nullptr;
    };
    struct Occurrence {
        std::uint32_t key;
        std::uint32_t rank;
    };
    struct Slot {
        ValueSource source;
        std::int32_t column = kNoColumn;
        std::uint32_t key = 0;
    };
    struct Filter {
        ColumnName name;
        ColumnFilter test;
    };

    const ElementDefinition* element_slowly(std::uint32_t code, std::size_t slot);
    std::int32_t value_column_slowly(const ValueSource& source);
    std::uint32_t key_of(const ValueSource& source);
    std::uint32_t key_of_slowly(const ValueSource& source);
    std::uint32_t next_rank(std::uint32_t key);
    std::int32_t column_of(std::uint32_t key, std::uint32_t rank, bool create);
    std::int32_t labelled_column(std::uint32_t key, const ValueSource& source);
    Column& column(std::int32_t index) { return columns_[static_cast<std::size_t>(index)]; }
    void reset_counts();
    void write_row_columns(std::size_t index);
    std::int32_t filter_column(const Filter& filter);
    bool passes(const Filter& filter, std::int32_t column, std::size_t row) const;

    std::optional<std::vector<ColumnName>> selection_;
    std::vector<Filter> filters_;

    const TableSet* tables_ = nullptr;
    std::vector<CachedElement> cached_elements_;
    std::vector<CachedKey> cached_keys_;
    std::unordered_map<ValueSource, std::uint32_t, SourceHash> key_of_source_;
    std::unordered_map<std::string, std::uint32_t> key_ids_;
    std::vector<Key> keys_;
    std::unique_ptr<ColumnArena> arena_;
    std::vector<Column> columns_;
    std::vector<ColumnType> types_;
    Column message_;
    Column subset_;
    std::vector<MessageError> errors_;

    std::size_t rows_ = 0;  // kept rows of finished messages
    std::size_t base_ = 0;  // the first row of the message being decoded
    std::size_t end_ = 0;   // one past its last row
    std::size_t columns_before_ = 0;
    // Rows that all messages will take if the ones to come are like the ones so far.
    std::size_t expected_messages_ = 0;
    std::size_t messages_begun_ = 0;
    std::size_t messages_finished_ = 0;
    std::size_t planned_rows_ = 0;
    std::vector<Occurrence> occurrences_added_;
    bool too_large_ = false;
    std::vector<std::uint8_t> kept_;

    // Occurrence counts of the subset or message being decoded.
    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> counted_;
    // The values of the subset before, for subsets that repeat it.
    std::vector<Slot> slots_;
    std::size_t position_ = 0;
    bool in_step_ = true;
};

}  // namespace corvane::detail

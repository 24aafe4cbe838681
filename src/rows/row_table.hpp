// Private to the rows subsystem: the keys a read tracks, the events of a subset's structure and
// the rows they give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "columns/column_cells.hpp"
#include "columns/columns.hpp"
#include "columns/table_builder.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

inline constexpr std::uint32_t kUntracked = 0xFFFFFFFFu;

// A chosen column or filtered key.
struct TrackedKey {
    ColumnName name;  // rank 0: every occurrence
    // "percentConfidence" for "key->percentConfidence": a value that qualifies the element,
    // from 222000 quality information, a 22x255 operator or a 204YYY associated field.
    std::string attribute;
    std::int32_t column = -1;  // among the chosen columns; -1 for a key only filtered
    std::int32_t filter = -1;
    bool required = false;
};

// A tracked value of the structure: its level, and its cells (one per subset the structure
// stands for) among the numbers or the texts.
struct RowEvent {
    std::uint32_t key = 0;
    std::uint32_t level = 0;
    std::uint32_t cell = 0;
    bool text = false;
    // An attribute whose value has not come (yet): the row rule passes over it.
    bool pending = false;
};

struct TextCell {
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
    bool missing = true;
};

class RowTable {
public:
    RowTable(std::vector<TrackedKey> keys, std::vector<ColumnInfo> columns, std::vector<ColumnFilter> filters);

    void begin_message(const TableSet& tables);
    // Fails when the table passed kMaxColumnCells.
    Status end_message();
    void abandon_message();
    void add_error(MessageError error) { errors_.push_back(std::move(error)); }
    ColumnTable finish();

    const ElementDefinition* element(std::uint32_t code) {
        const std::size_t slot = cache_slot(code);
        if (slot < kCachedCodes && elements_[slot].tables == tables_) return elements_[slot].element;
        return element_slowly(code, slot);
    }

    // A structure is one subset of an uncompressed message, or a compressed message whose
    // `subsets` share it.
    void begin_structure(std::uint64_t subsets);
    // Every value the walk reads, in order: its level, and the first of its cells when a key
    // tracks it.
    std::optional<std::uint32_t> track(const WalkValue& value);
    double* numbers(std::uint32_t cell) { return numbers_.data() + cell; }
    void set_text(std::uint32_t cell, std::string_view text);
    // Keeps the rows of subset `subset` (of the message, from 0) that cell column `column` of
    // the structure gives.
    void end_structure(std::size_t message, std::uint64_t subset, std::uint64_t column);

private:
    struct CachedElement {
        const TableSet* tables = nullptr;
        const ElementDefinition* element = nullptr;
    };
    struct CachedName {
        const std::string* name = nullptr;
        std::uint32_t id = kUntracked;
    };
    struct Coordinate {
        std::uint32_t code;
        std::uint32_t level;
    };
    // An attribute event waiting for the value that refers to its element.
    struct Waiting {
        std::uint32_t event;
        std::uint64_t history_index;
    };

    const ElementDefinition* element_slowly(std::uint32_t code, std::size_t slot);
    std::uint32_t name_id(const WalkValue& value);
    std::uint32_t level_of(const WalkValue& value);
    std::optional<std::uint32_t> add_cells(bool text);
    std::optional<std::uint32_t> attach(const WalkValue& value);
    // The type and definition of a column, from its first value.
    void settle_column(std::int32_t column, std::uint32_t code, const ElementDefinition* element);
    bool passes(const RowEvent& event, std::uint64_t column) const;
    void keep_row(std::size_t message, std::uint64_t subset, std::uint64_t column);
    // Keeps the row, then lets go of the keys below `level`.
    void complete_row(std::size_t message, std::uint64_t subset, std::uint64_t column, std::uint32_t level);

    std::vector<TrackedKey> keys_;
    std::vector<ColumnFilter> filters_;
    std::unordered_map<std::string, std::uint32_t> name_ids_;
    std::vector<std::vector<std::uint32_t>> keys_of_name_;

    const TableSet* tables_ = nullptr;
    std::vector<CachedElement> elements_;
    std::vector<CachedName> names_;

    // The structure being walked.
    std::uint64_t subsets_ = 1;
    std::vector<Coordinate> coordinates_;
    std::uint32_t level_ = 0;
    std::vector<std::uint32_t> counts_;
    std::vector<RowEvent> events_;
    std::vector<Waiting> waiting_;
    // The cells of the 204YYY field read just before the element being read, if any.
    std::optional<std::uint32_t> associated_;
    bool wants_associated_ = false;
    std::vector<double> numbers_;
    std::vector<TextCell> texts_;
    std::string chars_;

    // The row being built: the event of each key in it, or -1.
    std::vector<std::int64_t> row_;
    // Whether a key joined the row since it was last kept.
    bool fresh_ = false;

    std::unique_ptr<ColumnArena> arena_;
    Column message_;
    Column subset_;
    std::vector<Column> columns_;
    std::vector<bool> settled_;
    std::vector<MessageError> errors_;
    std::size_t rows_ = 0;
    std::size_t base_ = 0;
    bool too_large_ = false;
};

}  // namespace corvane::detail

#include "columns/table_builder.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "data/decoded_value.hpp"
#include "text/text.hpp"

namespace corvane::detail {

namespace {

// Past this many rows, columns grow as they go instead of taking room ahead.
constexpr std::uint64_t kMaxPlannedRows = std::uint64_t{1} << 24;

constexpr std::int32_t kUnsettled = -2;

}  // namespace

Result<ColumnName> parse_column_name(std::string_view name) {
    if (name.empty() || name.front() != '#') {
        if (name.empty()) return BufrError::bad_argument("a column name must not be empty");
        return ColumnName{std::string(name), 0};
    }
    const std::size_t second = name.find('#', 1);
    std::uint64_t rank = 0;
    IntParseFailure failure;
    if (second == std::string_view::npos || second + 1 == name.size() ||
        !parse_unsigned(name.substr(1, second - 1), std::numeric_limits<std::uint32_t>::max(), rank, failure) ||
        rank == 0) {
        return BufrError::bad_argument("bad column name " + quote_text(name) +
                                       ": write \"key\" for every occurrence or \"#n#key\" for the n-th, n from 1");
    }
    return ColumnName{std::string(name.substr(second + 1)), static_cast<std::uint32_t>(rank)};
}

TableBuilder::TableBuilder(std::optional<std::vector<ColumnName>> keys,
                           std::vector<std::pair<ColumnName, ColumnFilter>> filters)
    : selection_(std::move(keys)),
      cached_elements_(kCachedCodes),
      cached_keys_(kCachedCodes),
      arena_(std::make_unique<ColumnArena>()),
      message_(ColumnCells::row_column(*arena_, "message")),
      subset_(ColumnCells::row_column(*arena_, "subset")) {
    for (auto& [name, test] : filters) {
        std::sort(test.numbers.begin(), test.numbers.end());
        if (name.rank == 0) name.rank = 1;
        filters_.push_back({std::move(name), std::move(test)});
    }
}

void TableBuilder::begin_message(std::uint64_t subsets, const TableSet& tables) {
    tables_ = &tables;
    base_ = rows_;
    end_ = rows_ + subsets;
    columns_before_ = columns_.size();
    occurrences_added_.clear();
    if (end_ * (columns_.size() + 2) > kMaxColumnCells) too_large_ = true;
    reset_counts();
    ++messages_begun_;
    plan_rows(std::min<std::uint64_t>(subsets, 1));
}

void TableBuilder::plan_rows(std::uint64_t rows) {
    // The rows that finished messages kept tell what the ones to come hold; before any, this
    // one does, unless filters are to drop rows.
    const std::uint64_t per_message = messages_finished_ != 0 ? rows_ / messages_finished_
                                      : filters_.empty()      ? rows
                                                              : 0;
    const std::uint64_t to_come = expected_messages_ > messages_begun_ ? expected_messages_ - messages_begun_ : 0;
    const std::uint64_t planned = base_ + rows + per_message * to_come;
    planned_rows_ = static_cast<std::size_t>(planned <= kMaxPlannedRows ? planned : base_ + rows);
}

void TableBuilder::write_row_columns(std::size_t index) {
    std::int64_t* messages = ColumnCells::integer_rows(*arena_, message_, base_, end_, planned_rows_);
    std::int64_t* subsets = ColumnCells::integer_rows(*arena_, subset_, base_, end_, planned_rows_);
    for (std::size_t row = 0; row < end_ - base_; ++row) {
        messages[row] = static_cast<std::int64_t>(index);
        subsets[row] = static_cast<std::int64_t>(row + 1);
    }
}

Status TableBuilder::end_message(std::size_t index) {
    if (too_large_) {
        return BufrError::limit_exceeded("the columns would hold more than " + std::to_string(kMaxColumnCells) +
                                         " cells");
    }
    write_row_columns(index);
    std::size_t kept = end_ - base_;
    if (!filters_.empty() && kept != 0) {
        kept_.assign(end_ - base_, 1);
        for (const Filter& filter : filters_) {
            const std::int32_t index_of_column = filter_column(filter);
            for (std::size_t row = base_; row < end_; ++row) {
                if (kept_[row - base_] != 0 && !passes(filter, index_of_column, row)) kept_[row - base_] = 0;
            }
        }
        kept = static_cast<std::size_t>(std::count(kept_.begin(), kept_.end(), std::uint8_t{1}));
        if (kept != end_ - base_) {
            ColumnCells::keep_rows(message_, ColumnType::Int64, base_, kept_.data());
            ColumnCells::keep_rows(subset_, ColumnType::Int64, base_, kept_.data());
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                ColumnCells::keep_rows(columns_[i], types_[i], base_, kept_.data());
            }
        }
    }
    rows_ = base_ + kept;
    ++messages_finished_;
    return {};
}

void TableBuilder::abandon_message() {
    for (Column& column : columns_) ColumnCells::truncate(column, base_);
    for (std::size_t i = columns_before_; i < columns_.size(); ++i) ColumnCells::release(*arena_, columns_[i]);
    columns_.resize(columns_before_);
    types_.resize(columns_before_);
    for (const auto [key, rank] : occurrences_added_) keys_[key].column_of_rank[rank - 1] = kUnsettled;
    occurrences_added_.clear();
    slots_.clear();
    in_step_ = true;
    too_large_ = false;
    end_ = base_;
}

std::int32_t TableBuilder::column_of(std::uint32_t key, std::uint32_t rank, bool create) {
    Key& entry = keys_[key];
    std::vector<std::int32_t>& columns = entry.column_of_rank;
    if (rank <= columns.size() && columns[rank - 1] != kUnsettled) return columns[rank - 1];
    if (!create) return kNoColumn;
    if (rank > columns.size()) columns.resize(rank, kUnsettled);
    if (!entry.every_occurrence && !entry.occurrences.contains(rank)) {
        columns[rank - 1] = kNoColumn;
        return kNoColumn;
    }
    if (end_ * (columns_.size() + 3) > kMaxColumnCells) {
        too_large_ = true;
        return kNoColumn;
    }
    ColumnInfo info = entry.info;
    info.rank = rank;
    info.name = rank == 1 ? info.key : "#" + std::to_string(rank) + "#" + info.key;
    columns_.push_back(ColumnCells::make(*arena_, std::move(info)));
    types_.push_back(entry.info.type);
    const auto index = static_cast<std::int32_t>(columns_.size() - 1);
    columns[rank - 1] = index;
    occurrences_added_.push_back({key, rank});
    return index;
}

void TableBuilder::put_number(std::int32_t index, std::size_t row, double value) {
    ColumnCells::put_number(*arena_, column(index), types_[static_cast<std::size_t>(index)], row, value, planned_rows_);
}

void TableBuilder::put_text(std::int32_t index, std::size_t row, std::string_view text) {
    ColumnCells::put_text(*arena_, column(index), types_[static_cast<std::size_t>(index)], row, text, planned_rows_);
}

double* TableBuilder::float_rows(std::int32_t index) {
    if (types_[static_cast<std::size_t>(index)] != ColumnType::Float64) return nullptr;
    return ColumnCells::float_rows(*arena_, column(index), base_, end_, planned_rows_);
}

std::int64_t* TableBuilder::integer_rows(std::int32_t index) {
    if (types_[static_cast<std::size_t>(index)] != ColumnType::Int64) return nullptr;
    return ColumnCells::integer_rows(*arena_, column(index), base_, end_, planned_rows_);
}

std::int32_t TableBuilder::filter_column(const Filter& filter) {
    const auto key = key_ids_.find(filter.name.key);
    if (key == key_ids_.end()) return kNoColumn;
    return column_of(key->second, filter.name.rank, false);
}

bool TableBuilder::passes(const Filter& filter, std::int32_t index, std::size_t row) const {
    if (index == kNoColumn) return false;
    const Column& tested = columns_[static_cast<std::size_t>(index)];
    if (row >= tested.size()) return false;
    switch (types_[static_cast<std::size_t>(index)]) {
        case ColumnType::Float64: {
            const double number = tested.floats()[row];
            return !std::isnan(number) && filter_accepts(filter.test, number);
        }
        case ColumnType::Int64: {
            const std::int64_t code = tested.integers()[row];
            return code != kMissingCode && filter_accepts(filter.test, static_cast<double>(code));
        }
        case ColumnType::Text: {
            const std::optional<std::string_view> text = tested.text(row);
            return text && filter_accepts(filter.test, *text);
        }
    }
    return false;
}

ColumnTable TableBuilder::finish() {
    return finished_table(std::move(arena_), std::move(message_), std::move(subset_), std::move(columns_), rows_,
                          std::move(errors_));
}

}  // namespace corvane::detail

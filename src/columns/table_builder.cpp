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

ColumnInfo row_column_info(const char* name) {
    ColumnInfo info;
    info.name = info.key = name;
    info.type = ColumnType::Int64;
    return info;
}

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

// The buffers of a column as the builder fills them: `size_` rows are written, and every
// write comes after them.
struct TableBuilder::Cells {
    static void reserve(ColumnArena& arena, Column& column, ColumnType type, std::size_t rows, std::size_t planned) {
        const std::size_t used = column.size_;
        switch (type) {
            case ColumnType::Float64:
                column.floats_.reserve(arena, rows, used, planned);
                break;
            case ColumnType::Int64:
                column.integers_.reserve(arena, rows, used, planned);
                break;
            case ColumnType::Text:
                column.offsets_.reserve(arena, rows + 1, used + 1, planned + 1);
                column.missing_.reserve(arena, rows, used, planned);
                break;
        }
    }

    // Rows up to `row` missing.
    static void fill_to(ColumnArena& arena, Column& column, ColumnType type, std::size_t row, std::size_t planned) {
        if (row <= column.size_) return;
        reserve(arena, column, type, row, planned);
        const std::size_t from = column.size_;
        switch (type) {
            case ColumnType::Float64:
                std::fill(column.floats_.data() + from, column.floats_.data() + row,
                          std::numeric_limits<double>::quiet_NaN());
                break;
            case ColumnType::Int64:
                std::fill(column.integers_.data() + from, column.integers_.data() + row, kMissingCode);
                break;
            case ColumnType::Text:
                std::fill(column.offsets_.data() + from + 1, column.offsets_.data() + row + 1,
                          column.offsets_.data()[from]);
                std::fill(column.missing_.data() + from, column.missing_.data() + row, std::uint8_t{1});
                break;
        }
        column.size_ = row;
    }

    static void add_text(ColumnArena& arena, Column& column, std::string_view text) {
        const std::size_t row = column.size_;
        const auto start = static_cast<std::size_t>(column.offsets_.data()[row]);
        column.chars_.reserve(arena, start + text.size(), start);
        if (!text.empty()) std::memcpy(column.chars_.data() + start, text.data(), text.size());
        column.offsets_.data()[row + 1] = static_cast<std::int64_t>(start + text.size());
        column.missing_.data()[row] = 0;
        column.size_ = row + 1;
    }

    // Keeps the rows from `base` on whose entry in `kept` is set.
    template <class T>
    static void keep(T* values, std::size_t base, std::size_t end, const std::uint8_t* kept) {
        std::size_t to = base;
        for (std::size_t row = base; row < end; ++row) {
            if (kept[row - base] != 0) values[to++] = values[row];
        }
    }

    static void keep_rows(Column& column, ColumnType type, std::size_t base, const std::uint8_t* kept) {
        const std::size_t end = column.size_;
        if (end <= base) return;
        switch (type) {
            case ColumnType::Float64:
                keep(column.floats_.data(), base, end, kept);
                break;
            case ColumnType::Int64:
                keep(column.integers_.data(), base, end, kept);
                break;
            case ColumnType::Text: {
                std::int64_t* offsets = column.offsets_.data();
                char* chars = column.chars_.data();
                std::int64_t at = offsets[base];
                std::size_t to = base;
                for (std::size_t row = base; row < end; ++row) {
                    if (kept[row - base] == 0) continue;
                    const std::int64_t length = offsets[row + 1] - offsets[row];
                    if (length != 0) std::memmove(chars + at, chars + offsets[row], static_cast<std::size_t>(length));
                    column.missing_.data()[to] = column.missing_.data()[row];
                    at += length;
                    offsets[++to] = at;
                }
                break;
            }
        }
        column.size_ = base + static_cast<std::size_t>(std::count(kept, kept + (end - base), std::uint8_t{1}));
    }

    static void release(ColumnArena& arena, Column& column) {
        column.floats_.release(arena);
        column.integers_.release(arena);
        column.offsets_.release(arena);
        column.chars_.release(arena);
        column.missing_.release(arena);
    }

    static Column make(ColumnArena& arena, ColumnInfo info) {
        Column column;
        if (info.type == ColumnType::Text) {
            column.offsets_.reserve(arena, 1, 0);
            column.offsets_.data()[0] = 0;
        }
        column.info = std::move(info);
        return column;
    }
};

TableBuilder::TableBuilder(std::optional<std::vector<ColumnName>> keys,
                           std::vector<std::pair<ColumnName, ColumnFilter>> filters)
    : selection_(std::move(keys)),
      cached_elements_(kCachedCodes),
      cached_keys_(kCachedCodes),
      arena_(std::make_unique<ColumnArena>()),
      message_(Cells::make(*arena_, row_column_info("message"))),
      subset_(Cells::make(*arena_, row_column_info("subset"))) {
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
    Cells::reserve(*arena_, message_, ColumnType::Int64, end_, planned_rows_);
    Cells::reserve(*arena_, subset_, ColumnType::Int64, end_, planned_rows_);
    for (std::size_t row = base_; row < end_; ++row) {
        message_.integers_.data()[row] = static_cast<std::int64_t>(index);
        subset_.integers_.data()[row] = static_cast<std::int64_t>(row - base_ + 1);
    }
    message_.size_ = subset_.size_ = end_;
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
            Cells::keep_rows(message_, ColumnType::Int64, base_, kept_.data());
            Cells::keep_rows(subset_, ColumnType::Int64, base_, kept_.data());
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                Cells::keep_rows(columns_[i], types_[i], base_, kept_.data());
            }
        }
    }
    rows_ = base_ + kept;
    ++messages_finished_;
    return {};
}

void TableBuilder::abandon_message() {
    for (Column& column : columns_) column.size_ = std::min(column.size_, base_);
    for (std::size_t i = columns_before_; i < columns_.size(); ++i) Cells::release(*arena_, columns_[i]);
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
    columns_.push_back(Cells::make(*arena_, std::move(info)));
    types_.push_back(entry.info.type);
    const auto index = static_cast<std::int32_t>(columns_.size() - 1);
    columns[rank - 1] = index;
    occurrences_added_.push_back({key, rank});
    return index;
}

void TableBuilder::put_number(std::int32_t index, std::size_t row, double value) {
    Column& target = column(index);
    const ColumnType type = types_[static_cast<std::size_t>(index)];
    if (type == ColumnType::Text) return;
    Cells::fill_to(*arena_, target, type, row, planned_rows_);
    Cells::reserve(*arena_, target, type, row + 1, planned_rows_);
    if (type == ColumnType::Float64) {
        target.floats_.data()[row] = value;
    } else {
        target.integers_.data()[row] = to_integer(value);
    }
    target.size_ = row + 1;
}

void TableBuilder::put_text(std::int32_t index, std::size_t row, std::string_view text) {
    Column& target = column(index);
    if (types_[static_cast<std::size_t>(index)] != ColumnType::Text) return;
    Cells::fill_to(*arena_, target, ColumnType::Text, row, planned_rows_);
    Cells::reserve(*arena_, target, ColumnType::Text, row + 1, planned_rows_);
    Cells::add_text(*arena_, target, text);
}

double* TableBuilder::float_rows(std::int32_t index) {
    if (types_[static_cast<std::size_t>(index)] != ColumnType::Float64) return nullptr;
    Column& target = column(index);
    Cells::fill_to(*arena_, target, ColumnType::Float64, base_, planned_rows_);
    Cells::reserve(*arena_, target, ColumnType::Float64, end_, planned_rows_);
    target.size_ = end_;
    return target.floats_.data() + base_;
}

std::int64_t* TableBuilder::integer_rows(std::int32_t index) {
    if (types_[static_cast<std::size_t>(index)] != ColumnType::Int64) return nullptr;
    Column& target = column(index);
    Cells::fill_to(*arena_, target, ColumnType::Int64, base_, planned_rows_);
    Cells::reserve(*arena_, target, ColumnType::Int64, end_, planned_rows_);
    target.size_ = end_;
    return target.integers_.data() + base_;
}

std::int32_t TableBuilder::filter_column(const Filter& filter) {
    const auto key = key_ids_.find(filter.name.key);
    if (key == key_ids_.end()) return kNoColumn;
    return column_of(key->second, filter.name.rank, false);
}

bool TableBuilder::passes(const Filter& filter, std::int32_t index, std::size_t row) const {
    if (index == kNoColumn) return false;
    const Column& tested = columns_[static_cast<std::size_t>(index)];
    if (row >= tested.size_) return false;
    const ColumnFilter& test = filter.test;
    double number = 0.0;
    switch (types_[static_cast<std::size_t>(index)]) {
        case ColumnType::Float64:
            number = tested.floats_.data()[row];
            if (std::isnan(number)) return false;
            break;
        case ColumnType::Int64: {
            const std::int64_t code = tested.integers_.data()[row];
            if (code == kMissingCode) return false;
            number = static_cast<double>(code);
            break;
        }
        case ColumnType::Text: {
            const std::optional<std::string_view> text = tested.text(row);
            return text && !test.range && std::find(test.texts.begin(), test.texts.end(), *text) != test.texts.end();
        }
    }
    if (test.range) return (!test.low || number >= *test.low) && (!test.high || number <= *test.high);
    return std::binary_search(test.numbers.begin(), test.numbers.end(), number);
}

ColumnTable TableBuilder::finish() {
    ColumnTable table;
    table.rows = rows_;
    table.columns.reserve(columns_.size() + 2);
    table.columns.push_back(std::move(message_));
    table.columns.push_back(std::move(subset_));
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        Cells::fill_to(*arena_, columns_[i], types_[i], rows_, rows_);
        table.columns.push_back(std::move(columns_[i]));
    }
    columns_.clear();
    table.arena = std::move(arena_);
    table.errors = std::move(errors_);
    return table;
}

}  // namespace corvane::detail

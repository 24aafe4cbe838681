// Private to the columns and rows subsystems: writing a column's buffers, and the filters'
// test, for the builders of tables.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "columns/columns.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// A code as an integer; one past the range of int64 is missing.
inline std::int64_t to_integer(double value) {
    constexpr double kLimit = 9223372036854775808.0;
    return value >= -kLimit && value < kLimit ? static_cast<std::int64_t>(value) : kMissingCode;
}

// The buffers of a column as a builder fills them: `size_` rows are written, and every write
// comes after them.
struct ColumnCells {
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

    // Keeps the first `rows` rows at most.
    static void truncate(Column& column, std::size_t rows) { column.size_ = std::min(column.size_, rows); }

    static void release(ColumnArena& arena, Column& column) {
        column.floats_.release(arena);
        column.integers_.release(arena);
        column.offsets_.release(arena);
        column.chars_.release(arena);
        column.missing_.release(arena);
    }

    // The "message" or "subset" column of a table.
    static Column row_column(ColumnArena& arena, const char* name) {
        ColumnInfo info;
        info.name = info.key = name;
        info.type = ColumnType::Int64;
        return make(arena, std::move(info));
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

    // One present value at `row`, after the rows written so far; a number goes nowhere in a
    // Text column, a text nowhere else.
    static void put_number(ColumnArena& arena, Column& column, ColumnType type, std::size_t row, double value,
                           std::size_t planned) {
        if (type == ColumnType::Text) return;
        fill_to(arena, column, type, row, planned);
        reserve(arena, column, type, row + 1, planned);
        if (type == ColumnType::Float64) {
            column.floats_.data()[row] = value;
        } else {
            column.integers_.data()[row] = to_integer(value);
        }
        column.size_ = row + 1;
    }
    static void put_text(ColumnArena& arena, Column& column, ColumnType type, std::size_t row, std::string_view text,
                         std::size_t planned) {
        if (type != ColumnType::Text) return;
        fill_to(arena, column, ColumnType::Text, row, planned);
        reserve(arena, column, ColumnType::Text, row + 1, planned);
        add_text(arena, column, text);
    }

    // Rows [from, to) of a Float64 or Int64 column, to be written whole.
    static double* float_rows(ColumnArena& arena, Column& column, std::size_t from, std::size_t to,
                              std::size_t planned) {
        fill_to(arena, column, ColumnType::Float64, from, planned);
        reserve(arena, column, ColumnType::Float64, to, planned);
        column.size_ = to;
        return column.floats_.data() + from;
    }
    static std::int64_t* integer_rows(ColumnArena& arena, Column& column, std::size_t from, std::size_t to,
                                      std::size_t planned) {
        fill_to(arena, column, ColumnType::Int64, from, planned);
        reserve(arena, column, ColumnType::Int64, to, planned);
        column.size_ = to;
        return column.integers_.data() + from;
    }
};

// A finished table of `rows` rows: the message and subset columns, then `columns`, each filled to
// the last row with missing values.
inline ColumnTable finished_table(std::unique_ptr<ColumnArena> arena, Column message, Column subset,
                                  std::vector<Column> columns, std::size_t rows, std::vector<MessageError> errors) {
    ColumnTable table;
    table.rows = rows;
    table.columns.reserve(columns.size() + 2);
    table.columns.push_back(std::move(message));
    table.columns.push_back(std::move(subset));
    for (Column& column : columns) {
        ColumnCells::fill_to(*arena, column, column.info.type, rows, rows);
        table.columns.push_back(std::move(column));
    }
    table.arena = std::move(arena);
    table.errors = std::move(errors);
    return table;
}

// Numbers of a compressed column into rows of doubles, NaN when missing. They copy what they
// read of the field: rows written through a pointer could be it.
struct FloatCells {
    double* rows;
    std::int64_t reference;
    double divisor;
    std::uint64_t subsets;
    double number(std::uint64_t raw, bool missing) const {
        return missing ? std::numeric_limits<double>::quiet_NaN() : scaled_value(raw, reference, divisor);
    }
    void all(std::uint64_t raw, bool missing) { std::fill(rows, rows + subsets, number(raw, missing)); }
    void cell(std::uint64_t s, std::uint64_t raw, bool missing) { rows[s] = number(raw, missing); }
};

// Whether a present value passes `filter`, whose numbers are sorted.
inline bool filter_accepts(const ColumnFilter& filter, double number) {
    if (filter.range) return (!filter.low || number >= *filter.low) && (!filter.high || number <= *filter.high);
    return std::binary_search(filter.numbers.begin(), filter.numbers.end(), number);
}
inline bool filter_accepts(const ColumnFilter& filter, std::string_view text) {
    return !filter.range && std::find(filter.texts.begin(), filter.texts.end(), text) != filter.texts.end();
}

}  // namespace corvane::detail

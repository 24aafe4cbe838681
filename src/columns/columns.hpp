// Decoding the messages of a buffer straight into typed columns: one row per subset, one
// column per key occurrence, no record per value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "data/decoder.hpp"
#include "error/error.hpp"
#include "tables/table_provider.hpp"

namespace corvane {

namespace detail {
class TableBuilder;
struct ColumnCells;
}  // namespace detail

enum class ColumnType : std::uint8_t {
    Float64,  // NaN when missing
    Int64,    // code and flag tables (scale 0), and the message and subset columns
    Text,     // bytes and offsets, with a missing flag per row
};

// The Int64 value of a missing code: no code or flag table reaches it.
inline constexpr std::int64_t kMissingCode = std::numeric_limits<std::int64_t>::min();

// A table stops growing past this many cells (rows x columns), whatever messages follow: a
// few bytes of one message can declare 65,535 subsets, and the columns of all messages span
// every row.
inline constexpr std::uint64_t kMaxColumnCells = std::uint64_t{1} << 32;

// What a column holds, kept once. The message and subset columns have rank 0 and no code.
struct ColumnInfo {
    std::string name;  // "airTemperature" for the first occurrence, "#2#airTemperature" for the second
    std::string key;
    std::uint32_t rank = 0;  // the occurrence within the subset, from 1
    std::uint32_t code = 0;
    std::string element_name;
    std::optional<std::string> unit;
    std::int32_t scale = 0;
    ColumnType type = ColumnType::Float64;
};

// The memory of one table's columns. Blocks come from large mappings that ask for transparent
// huge pages: a decode writes hundreds of megabytes of fresh memory, and with 4 KiB pages the
// faults cost more than decoding the values. A released block serves later requests it fits
// (no more than twice as large), and every mapping goes with the arena.
class ColumnArena {
public:
    ColumnArena() = default;
    ColumnArena(const ColumnArena&) = delete;
    ColumnArena& operator=(const ColumnArena&) = delete;
    ~ColumnArena();

    // `bytes` of room, 64-byte aligned; std::bad_alloc when the system has none.
    void* allocate(std::size_t bytes);
    void release(void* block, std::size_t bytes);
    // Bytes taken from the system.
    std::size_t mapped() const { return mapped_; }

private:
    struct Mapping {
        void* base;
        std::size_t size;
    };
    void map_more(std::size_t bytes);

    std::vector<Mapping> mappings_;
    std::multimap<std::size_t, void*> released_;
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    std::size_t mapped_ = 0;
};

// Room for plain values in an arena; growing copies what the caller says is used.
template <class T>
class ColumnBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    T* data() { return data_; }
    const T* data() const { return data_; }

    // Room for at least `count` values, growing by half again at least, or at once to
    // `planned` when more will follow; the first `used` values stay.
    void reserve(ColumnArena& arena, std::size_t count, std::size_t used, std::size_t planned = 0) {
        if (count <= capacity_) return;
        const std::size_t capacity = std::max({count, capacity_ + capacity_ / 2, planned, std::size_t{8}});
        if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        T* moved = static_cast<T*>(arena.allocate(capacity * sizeof(T)));
        if (used != 0) std::memcpy(moved, data_, used * sizeof(T));
        release(arena);
        data_ = moved;
        capacity_ = capacity;
    }
    void release(ColumnArena& arena) {
        if (data_ != nullptr) arena.release(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        capacity_ = 0;
    }

private:
    T* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// One column of a finished table: `size()` rows of one type.
class Column {
public:
    ColumnInfo info;

    std::size_t size() const { return size_; }
    // Float64 columns.
    std::span<const double> floats() const { return {floats_.data(), size_}; }
    // Int64 columns.
    std::span<const std::int64_t> integers() const { return {integers_.data(), size_}; }
    // Text columns: row r is chars()[offsets()[r], offsets()[r + 1]); missing()[r] is 1 when it
    // has no text.
    std::span<const std::int64_t> offsets() const { return {offsets_.data(), size_ + 1}; }
    std::span<const char> chars() const { return {chars_.data(), static_cast<std::size_t>(offsets_.data()[size_])}; }
    std::span<const std::uint8_t> missing() const { return {missing_.data(), size_}; }

    std::optional<std::string_view> text(std::size_t row) const;
    bool is_missing(std::size_t row) const;

private:
    friend struct detail::ColumnCells;

    ColumnBuffer<double> floats_;
    ColumnBuffer<std::int64_t> integers_;
    ColumnBuffer<std::int64_t> offsets_;
    ColumnBuffer<char> chars_;
    ColumnBuffer<std::uint8_t> missing_;
    std::size_t size_ = 0;
};

// A message that gave no rows, and why: the text that decoding it alone gives.
struct MessageError {
    std::size_t index = 0;
    std::size_t offset = 0;
    std::string text;
};

// The columns of many messages: "message" (the message's index) and "subset" (from 1) first,
// then every key occurrence in the order first met. The buffers live in `arena`.
struct ColumnTable {
    std::unique_ptr<ColumnArena> arena;
    std::vector<Column> columns;
    std::size_t rows = 0;
    std::vector<MessageError> errors;

    const Column* find(std::string_view name) const;
};

// Keeps a row when its value in `column` ("key" is the first occurrence, "#n#key" the n-th)
// equals one of `numbers` or `texts`, or lies in [low, high] (each bound optional) when `range`.
// A missing value never passes.
struct ColumnFilter {
    std::string column;
    bool range = false;
    std::vector<double> numbers;
    std::vector<std::string> texts;
    std::optional<double> low;
    std::optional<double> high;
};

struct ColumnRequest {
    // None: every key. "key" selects every occurrence of a key, "#n#key" the n-th only.
    std::optional<std::vector<std::string>> keys;
    // Every filter must pass; a filtered column is decoded whether selected or not.
    std::vector<ColumnFilter> filters;
};

// Builds one table from messages given one at a time, so that a caller can stop between them.
// What a value becomes:
// - elements, replication factors, 205YYY character data ("characterData"), 204YYY associated
//   fields ("associatedField") and elements under 206YYY that the tables lack (their six-digit
//   code) each fill the column of their key occurrence, as Value records list them;
// - values that a bitmap attaches to other elements (223255, 224255, 225255, 232255) are
//   occurrences of the key of the element they refer to;
// - operators carry no value, and the new reference values of a 203YYY definition none either.
// A column's type is that of its first value: Int64 for code and flag tables, Text for text,
// Float64 otherwise; a later value of another kind under the same key (from other tables) is
// missing there.
class ColumnBuilder {
public:
    // Fails for a key or filter column that names no occurrence, such as "#0#key". Values are
    // read as a value decode with `options` reads them.
    static Result<ColumnBuilder> create(const ColumnRequest& request, DecodeOptions options = {});

    ColumnBuilder(ColumnBuilder&&) noexcept;
    ColumnBuilder& operator=(ColumnBuilder&&) noexcept;
    ~ColumnBuilder();

    // Decodes one message (its `bytes`, message `index` at byte `offset` of its file): its kept
    // rows join the table, or its error joins the errors, with the text of the object decode.
    // Fails only when the table would pass kMaxColumnCells; the builder is of no use then.
    // `tables` must outlive the builder.
    Status add_message(std::size_t index, std::size_t offset, std::span<const std::uint8_t> bytes,
                       const TableProvider& tables);
    // A message that could not even be framed.
    void add_error(std::size_t index, std::size_t offset, std::string text);
    // About `count` messages will be added in all: columns take room for their rows at once.
    void expect_messages(std::size_t count);

    ColumnTable finish() &&;

private:
    ColumnBuilder(std::unique_ptr<detail::TableBuilder> builder, DecodeOptions options);
    std::unique_ptr<detail::TableBuilder> builder_;
    DecodeOptions options_;
};

// Every message of `buffer` as scan_messages finds it.
Result<ColumnTable> decode_columns(std::span<const std::uint8_t> buffer, const TableProvider& tables,
                                   const ColumnRequest& request, DecodeOptions options = {});

}  // namespace corvane

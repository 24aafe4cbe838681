#include "columns/arrow_stream.hpp"

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

namespace corvane {
namespace {

// Arrow wants a buffer even where a column has no rows yet; this one is never written.
alignas(64) constexpr std::int64_t kEmptyBuffer[8] = {};

const void* present_or_empty(const void* data) { return data != nullptr ? data : kEmptyBuffer; }

const char* format_of(ColumnType type) {
    switch (type) {
        case ColumnType::Float64:
            return "g";
        case ColumnType::Int64:
            return "l";
        case ColumnType::Text:
            return "U";  // large_utf8: the table's offsets are 64-bit already
    }
    return "n";
}

// Every callback runs as C calls it: nothing may throw out of it.
struct ChildSchema {
    std::string name;
};

struct StructSchema {
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> pointers;
};

// Releases a schema, array or stream whose private data is an `Owned`.
template <class Owned, class Released>
void release_owned(Released* released) {
    delete static_cast<Owned*>(released->private_data);
    released->private_data = nullptr;
    released->release = nullptr;
}

// Releases the children that a consumer has not moved out, then the parent.
template <class Owned, class Released>
void release_struct(Released* released) {
    for (auto& child : static_cast<Owned*>(released->private_data)->children) {
        if (child.release != nullptr) child.release(&child);
    }
    release_owned<Owned>(released);
}

void fill_schema(const ColumnTable& table, ArrowSchema* out) {
    auto owned = std::make_unique<StructSchema>();
    owned->children.resize(table.columns.size());
    owned->pointers.reserve(table.columns.size());
    try {
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            auto child = std::make_unique<ChildSchema>(ChildSchema{table.columns[i].info.name});
            owned->children[i] = ArrowSchema{format_of(table.columns[i].info.type),
                                             child->name.c_str(),
                                             nullptr,
                                             ARROW_FLAG_NULLABLE,
                                             0,
                                             nullptr,
                                             nullptr,
                                             release_owned<ChildSchema>,
                                             child.release()};
            owned->pointers.push_back(&owned->children[i]);
        }
    } catch (...) {
        for (ArrowSchema& child : owned->children) {
            if (child.release != nullptr) child.release(&child);
        }
        throw;
    }
    *out = ArrowSchema{"+s",
                       "",
                       nullptr,
                       0,
                       static_cast<std::int64_t>(table.columns.size()),
                       owned->pointers.data(),
                       nullptr,
                       release_struct<StructSchema>,
                       owned.get()};
    owned.release();
}

struct ChildArray {
    std::shared_ptr<const ColumnTable> table;
    std::vector<std::uint8_t> validity;
    const void* buffers[3] = {};
};

struct StructArray {
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> pointers;
    const void* buffers[1] = {};
};

// A bitmap with a bit set for every present row, and the count of the others; empty when every
// row is present.
template <class Present>
std::int64_t fill_validity(std::size_t rows, Present present, std::vector<std::uint8_t>& bits) {
    std::size_t missing = 0;
    for (std::size_t r = 0; r < rows; ++r) missing += present(r) ? 0 : 1;
    if (missing == 0) return 0;
    bits.assign((rows + 7) / 8, 0);
    for (std::size_t r = 0; r < rows; ++r) {
        if (present(r)) bits[r / 8] = static_cast<std::uint8_t>(bits[r / 8] | (1u << (r % 8)));
    }
    return static_cast<std::int64_t>(missing);
}

ArrowArray column_array(const std::shared_ptr<const ColumnTable>& table, const Column& column) {
    auto owned = std::make_unique<ChildArray>();
    owned->table = table;
    const std::size_t rows = column.size();
    std::int64_t nulls = 0;
    std::int64_t buffers = 2;
    switch (column.info.type) {
        case ColumnType::Float64: {
            const double* values = column.floats().data();
            nulls = fill_validity(
                rows, [values](std::size_t r) { return !std::isnan(values[r]); }, owned->validity);
            owned->buffers[1] = present_or_empty(values);
            break;
        }
        case ColumnType::Int64: {
            const std::int64_t* values = column.integers().data();
            nulls = fill_validity(
                rows, [values](std::size_t r) { return values[r] != kMissingCode; }, owned->validity);
            owned->buffers[1] = present_or_empty(values);
            break;
        }
        case ColumnType::Text: {
            const std::uint8_t* missing = column.missing().data();
            nulls = fill_validity(
                rows, [missing](std::size_t r) { return missing[r] == 0; }, owned->validity);
            owned->buffers[1] = column.offsets().data();
            owned->buffers[2] = present_or_empty(column.chars().data());
            buffers = 3;
            break;
        }
    }
    owned->buffers[0] = owned->validity.empty() ? nullptr : owned->validity.data();
    const ArrowArray array{static_cast<std::int64_t>(rows), nulls,      0, buffers, 0, owned->buffers, nullptr, nullptr,
                           release_owned<ChildArray>,       owned.get()};
    owned.release();
    return array;
}

void fill_array(const std::shared_ptr<const ColumnTable>& table, ArrowArray* out) {
    auto owned = std::make_unique<StructArray>();
    owned->children.reserve(table->columns.size());
    owned->pointers.reserve(table->columns.size());
    try {
        for (const Column& column : table->columns) owned->children.push_back(column_array(table, column));
    } catch (...) {
        for (ArrowArray& child : owned->children) child.release(&child);
        throw;
    }
    for (ArrowArray& child : owned->children) owned->pointers.push_back(&child);
    *out = ArrowArray{static_cast<std::int64_t>(table->rows),
                      0,
                      0,
                      1,
                      static_cast<std::int64_t>(table->columns.size()),
                      owned->buffers,
                      owned->pointers.data(),
                      nullptr,
                      release_struct<StructArray>,
                      owned.get()};
    owned.release();
}

struct Stream {
    std::shared_ptr<const ColumnTable> table;
    bool done = false;
    std::string error;
};

Stream& stream_of(ArrowArrayStream* stream) { return *static_cast<Stream*>(stream->private_data); }

// Runs `fill`, turning a failure into errno and a text for get_last_error.
template <class Fill>
int attempt(ArrowArrayStream* stream, Fill fill) {
    try {
        fill();
        return 0;
    } catch (...) {
        stream_of(stream).error = "out of memory while exporting the columns";
        return ENOMEM;
    }
}

// A released stream holds nothing to read: its callbacks fail rather than touch freed memory.
bool is_released(const ArrowArrayStream* stream) { return stream->release == nullptr; }

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    if (is_released(stream)) return EINVAL;
    return attempt(stream, [&] { fill_schema(*stream_of(stream).table, out); });
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) {
    if (is_released(stream)) return EINVAL;
    Stream& state = stream_of(stream);
    if (state.done) {
        out->release = nullptr;
        return 0;
    }
    return attempt(stream, [&] {
        fill_array(state.table, out);
        state.done = true;
    });
}

const char* get_last_error(ArrowArrayStream* stream) {
    if (is_released(stream)) return nullptr;
    const std::string& error = stream_of(stream).error;
    return error.empty() ? nullptr : error.c_str();
}

}  // namespace

void export_arrow_stream(std::shared_ptr<const ColumnTable> table, ArrowArrayStream* out) {
    auto state = std::make_unique<Stream>();
    state->table = std::move(table);
    *out = ArrowArrayStream{get_schema, get_next, get_last_error, release_owned<Stream>, state.release()};
}

}  // namespace corvane

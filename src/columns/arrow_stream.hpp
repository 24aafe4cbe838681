// Columns handed to Arrow consumers without copying, through the Arrow C stream interface.
#pragma once

#include <cstdint>
#include <memory>

#include "columns/columns.hpp"

extern "C" {

// The structs of the Arrow C data and stream interfaces, a public ABI, as its documentation
// lays them out.
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema** children;
    struct ArrowSchema* dictionary;
    void (*release)(struct ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void** buffers;
    struct ArrowArray** children;
    struct ArrowArray* dictionary;
    void (*release)(struct ArrowArray*);
    void* private_data;
};

#endif

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
    int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
    const char* (*get_last_error)(struct ArrowArrayStream*);
    void (*release)(struct ArrowArrayStream*);
    void* private_data;
};

#endif
}

namespace corvane {

// Fills `out` with a stream of one record batch: a struct of every column of `table` (int64,
// float64 or large_utf8; missing values are null, NaN included), whose buffers are the
// table's own. Every release callback holds `table` until it runs, on any thread. Once the
// stream is released, get_schema and get_next return EINVAL.
// std::bad_alloc when there is no room for the stream.
void export_arrow_stream(std::shared_ptr<const ColumnTable> table, ArrowArrayStream* out);

}  // namespace corvane

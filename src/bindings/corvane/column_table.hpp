// The state behind a ColumnTable object, which decode_columns() makes.
#pragma once

#include <memory>
#include <string_view>
#include <unordered_map>

#include "bindings/support/python.hpp"
#include "columns/columns.hpp"

namespace corvane::py::core {

// A table and its columns by name, shared by the ColumnTable object, the arrays made from it and
// the Arrow streams it exported.
struct SharedTable {
    explicit SharedTable(ColumnTable decoded) : table(std::move(decoded)) {
        for (std::size_t i = 0; i < table.columns.size(); ++i) by_name.emplace(table.columns[i].info.name, i);
    }
    ColumnTable table;
    std::unordered_map<std::string_view, std::size_t> by_name;
};

// Arrow takes the buffers it is given as immutable: a table lends its memory to Arrow, or to
// NumPy for writing (a table that corvane.read alone holds), never to both.
struct TableState {
    std::shared_ptr<SharedTable> shared;
    bool lent_to_arrow = false;
    bool lent_for_writing = false;
};

// A new ColumnTable object holding `shared`; null with an exception set.
PyObject* new_column_table(std::shared_ptr<SharedTable> shared);

}  // namespace corvane::py::core

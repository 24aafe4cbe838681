// decode_columns(), which decodes messages into one ColumnTable with the interpreter released.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/corvane/column_table.hpp"
#include "bindings/corvane/records.hpp"
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "columns/columns.hpp"
#include "rows/rows.hpp"

namespace corvane::py::core {
namespace {

// A decode gives the interpreter back this often, so that signals are seen and other threads run.
constexpr auto kSlice = std::chrono::milliseconds(20);

// Calls `each` with every item of `iterable` (borrowed for the call); false on the first failure.
template <class Each>
bool for_each_item(PyObject* iterable, Each each) {
    Ref iterator(PyObject_GetIter(iterable));
    if (!iterator) return false;
    while (PyObject* item = PyIter_Next(iterator.get())) {
        const Ref owned(item);
        if (!each(item)) return false;
    }
    return !PyErr_Occurred();
}

bool to_text(PyObject* object, const char* what, std::string& out) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(object) ? PyUnicode_AsUTF8AndSize(object, &size) : nullptr;
    if (text == nullptr) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "%s must be str", what);
        return false;
    }
    out.assign(text, static_cast<std::size_t>(size));
    return true;
}

bool is_none(PyObject* object) {
    const Ref none(new_none());
    return object == nullptr || object == none.get();
}

bool to_optional_number(PyObject* object, std::optional<double>& out) {
    if (is_none(object)) return true;
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool to_filter(PyObject* item, ColumnFilter& out) {
    PyObject* column;
    PyObject* numbers;
    PyObject* texts;
    PyObject* low;
    PyObject* high;
    int range = 0;
    // No '#' formats: wheels built with newer headers would ask 3.10 for the old length type.
    if (!check_record(item, records().column_filter, "a filter") ||
        !PyArg_ParseTuple(item, "OOOOOp", &column, &numbers, &texts, &low, &high, &range)) {
        return false;
    }
    if (!to_text(column, "a filter column", out.column)) return false;
    out.range = range != 0;
    return for_each_item(numbers,
                         [&](PyObject* number) {
                             const double value = PyFloat_AsDouble(number);
                             if (value == -1.0 && PyErr_Occurred()) return false;
                             out.numbers.push_back(value);
                             return true;
                         }) &&
           for_each_item(texts,
                         [&](PyObject* text) {
                             std::string value;
                             if (!to_text(text, "a filter text", value)) return false;
                             out.texts.push_back(std::move(value));
                             return true;
                         }) &&
           to_optional_number(low, out.low) && to_optional_number(high, out.high);
}

bool to_request(PyObject* keys, PyObject* filters, ColumnRequest& out) {
    if (!is_none(keys)) {
        out.keys.emplace();
        if (!for_each_item(keys, [&](PyObject* key) {
                std::string name;
                if (!to_text(key, "a key", name)) return false;
                out.keys->push_back(std::move(name));
                return true;
            })) {
            return false;
        }
    }
    if (is_none(filters)) return true;
    return for_each_item(filters, [&](PyObject* item) {
        ColumnFilter filter;
        if (!to_filter(item, filter)) return false;
        out.filters.push_back(std::move(filter));
        return true;
    });
}

}  // namespace

bool to_entries(PyObject* entries, std::size_t buffer_size, std::vector<Entry>& out) {
    if (const std::vector<Entry>* scanned = scanned_entries(entries)) {
        // Scanned from other bytes, they could lie outside these.
        for (const Entry& entry : *scanned) {
            if (entry.offset > buffer_size || entry.length > buffer_size - entry.offset) {
                PyErr_SetString(PyExc_ValueError, "the message range lies outside the data");
                return false;
            }
        }
        out = *scanned;
        return true;
    }
    return for_each_item(entries, [&](PyObject* item) {
        Entry entry;
        PyObject* error;
        unsigned long long offset = 0, length = 0;
        Py_ssize_t index = 0;
        if (!check_record(item, records().message_entry, "an entry") ||
            !PyArg_ParseTuple(item, "nKKO", &index, &offset, &length, &error)) {
            return false;
        }
        if (index < 0) {
            PyErr_SetString(PyExc_ValueError, "a message index must not be negative");
            return false;
        }
        entry.index = static_cast<std::size_t>(index);
        if (offset > buffer_size || length > buffer_size - offset) {
            PyErr_SetString(PyExc_ValueError, "the message range lies outside the data");
            return false;
        }
        entry.offset = offset;
        entry.length = length;
        if (!is_none(error)) {
            entry.error.emplace();
            if (!to_text(error, "an entry's error", *entry.error)) return false;
        }
        out.push_back(std::move(entry));
        return true;
    });
}

namespace {

// Adds every entry to `builder`, giving the interpreter back between slices of work; null with
// an exception set when a signal handler raised or the builder failed.
template <class Builder>
PyObject* build_table(Builder& builder, std::span<const std::uint8_t> data, const std::vector<Entry>& entries,
                      PyObject* tables_object) {
    // The bytes object and the tables stay alive with the call's arguments; nothing below
    // touches a Python object while the interpreter is released.
    const TableProvider& tables = unbox<TablesState>(tables_object).provider;
    std::optional<BufrError> failure;
    std::size_t next = 0;
    while (next < entries.size() && !failure) {
        {
            const WithoutGil unlocked;
            const auto until = std::chrono::steady_clock::now() + kSlice;
            do {
                const Entry& entry = entries[next++];
                if (entry.error) {
                    builder.add_error(entry.index, entry.offset, *entry.error);
                } else if (Status added = builder.add_message(entry.index, entry.offset,
                                                              data.subspan(entry.offset, entry.length), tables);
                           !added) {
                    failure.emplace(std::move(added).error());
                }
            } while (next < entries.size() && !failure && std::chrono::steady_clock::now() < until);
        }
        if (PyErr_CheckSignals() != 0) return nullptr;
    }
    if (failure) return raise_error(*failure);
    std::shared_ptr<SharedTable> shared;
    {
        const WithoutGil unlocked;
        shared = std::make_shared<SharedTable>(std::move(builder).finish());
    }
    return new_column_table(std::move(shared));
}

// Rows' columns: (name, required) pairs.
bool to_row_request(PyObject* columns, PyObject* filters, RowRequest& out) {
    ColumnRequest filtered;
    if (!to_request(Ref(new_none()).get(), filters, filtered)) return false;
    out.filters = std::move(filtered.filters);
    return for_each_item(columns, [&](PyObject* item) {
        PyObject* name;
        int required = 0;
        if (!PyTuple_Check(item) || !PyArg_ParseTuple(item, "Op", &name, &required)) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a row column must be a (name, required) tuple");
            return false;
        }
        RowColumn column;
        column.required = required != 0;
        if (!to_text(name, "a column name", column.name)) return false;
        out.columns.push_back(std::move(column));
        return true;
    });
}

}  // namespace

PyObject* decode_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[5];
    std::span<const std::uint8_t> data;
    std::vector<Entry> entries;
    ColumnRequest request;
    if (!parse_arguments({"decode_columns()", {"data", "entries", "tables", "keys", "filters"}, 2}, args, kwargs,
                         argv) ||
        !to_data(argv[0], "data", data) || !check_instance(argv[2], "tables", types().tables, "Tables") ||
        !to_entries(argv[1], data.size(), entries) || !to_request(argv[3], argv[4], request)) {
        return nullptr;
    }
    Result<ColumnBuilder> created = ColumnBuilder::create(request, kPackageDecodeOptions);
    if (!created) return raise_error(created.error());
    ColumnBuilder builder = std::move(created).value();
    builder.expect_messages(entries.size());
    return build_table(builder, data, entries, argv[2]);
}

PyObject* decode_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[5];
    std::span<const std::uint8_t> data;
    std::vector<Entry> entries;
    RowRequest request;
    if (!parse_arguments({"decode_rows()", {"data", "entries", "tables", "columns", "filters"}, 4}, args, kwargs,
                         argv) ||
        !to_data(argv[0], "data", data) || !check_instance(argv[2], "tables", types().tables, "Tables") ||
        !to_entries(argv[1], data.size(), entries) || !to_row_request(argv[3], argv[4], request)) {
        return nullptr;
    }
    Result<RowBuilder> created = RowBuilder::create(request, kPackageDecodeOptions);
    if (!created) return raise_error(created.error());
    RowBuilder builder = std::move(created).value();
    return build_table(builder, data, entries, argv[2]);
}

}  // namespace corvane::py::core

// ColumnTable, the columns of many messages, which decode_columns() makes. NumPy and Arrow
// read the columns' memory without a copy.
#include <bit>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bindings/corvane/column_table.hpp"
#include "bindings/corvane/records.hpp"
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "columns/arrow_stream.hpp"

namespace corvane::py::core {
namespace {

static_assert(std::endian::native == std::endian::little, "NumPy type strings below are little-endian");

// The memory of one numeric column, as NumPy's array interface describes it.
struct ColumnMemory {
    std::shared_ptr<SharedTable> owner;
    const void* data;
    std::size_t rows;
    const char* typestr;
    bool writeable;
};

PyObject* get_array_interface(PyObject* self, void*) {
    const ColumnMemory& memory = unbox<ColumnMemory>(self);
    // NumPy takes no null pointer, even for no rows.
    static const double empty = 0;
    Ref readonly(to_python(!memory.writeable));
    const void* data = memory.data != nullptr ? memory.data : &empty;
    return Py_BuildValue("{s:(n),s:s,s:(NO),s:i}", "shape", static_cast<Py_ssize_t>(memory.rows), "typestr",
                         memory.typestr, "data", PyLong_FromVoidPtr(const_cast<void*>(data)), readonly.get(), "version",
                         3);
}

PyGetSetDef memory_getset[] = {
    attribute<get_array_interface>("__array_interface__"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot memory_slots[] = {
    {Py_tp_doc, const_cast<char*>("The memory of a column of a ColumnTable, which it keeps alive.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ColumnMemory>)},
    {Py_tp_getset, memory_getset},
    {0, nullptr},
};

const Column* find_column(PyObject* self, PyObject* name) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (text == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a column name is a str");
        return nullptr;
    }
    const SharedTable& shared = *unbox<TableState>(self).shared;
    const auto found = shared.by_name.find(std::string_view(text, static_cast<std::size_t>(size)));
    if (found == shared.by_name.end()) {
        PyErr_SetObject(PyExc_KeyError, name);
        return nullptr;
    }
    return &shared.table.columns[found->second];
}

PyObject* call_numpy(const char* function, PyObject* argument, PyObject* keywords) {
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return nullptr;
    Ref callable(PyObject_GetAttrString(numpy.get(), function));
    if (!callable) return nullptr;
    Ref args(PyTuple_Pack(1, argument));
    if (!args) return nullptr;
    return PyObject_Call(callable.get(), args.get(), keywords);
}

// Texts need objects in NumPy; rows with the same text share one str.
PyObject* text_array(const Column& column) {
    const auto rows = static_cast<Py_ssize_t>(column.size());
    Ref list(PyList_New(rows));
    if (!list) return nullptr;
    std::unordered_map<std::string_view, PyObject*> made;  // borrowed from the list
    for (Py_ssize_t r = 0; r < rows; ++r) {
        const std::optional<std::string_view> text = column.text(static_cast<std::size_t>(r));
        PyObject* item;
        if (!text) {
            item = new_none();
        } else if (const auto found = made.find(*text); found != made.end()) {
            item = found->second;
            Py_IncRef(item);
        } else {
            if ((item = new_str(*text)) == nullptr) return nullptr;
            made.emplace(*text, item);
        }
        PyList_SetItem(list.get(), r, item);
    }
    Ref keywords(Py_BuildValue("{s:s}", "dtype", "O"));
    if (!keywords) return nullptr;
    return call_numpy("array", list.get(), keywords.get());
}

PyObject* array(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    if (!parse_arguments({"ColumnTable.array()", {"name", "writeable"}, 1}, args, kwargs, argv)) return nullptr;
    const Column* column = find_column(self, argv[0]);
    if (column == nullptr) return nullptr;
    if (column->info.type == ColumnType::Text) return text_array(*column);
    const int writeable = argv[1] != nullptr ? PyObject_IsTrue(argv[1]) : 0;
    if (writeable < 0) return nullptr;
    TableState& state = unbox<TableState>(self);
    if (writeable != 0) {
        if (state.lent_to_arrow) {
            PyErr_SetString(PyExc_ValueError,
                            "the table's memory went to Arrow, which takes it as immutable: "
                            "copy the array to change it");
            return nullptr;
        }
        state.lent_for_writing = true;
    }
    const void* data = column->info.type == ColumnType::Float64 ? static_cast<const void*>(column->floats().data())
                                                                : static_cast<const void*>(column->integers().data());
    Ref memory(box(types().column_memory,
                   ColumnMemory{state.shared, data, column->size(),
                                column->info.type == ColumnType::Float64 ? "<f8" : "<i8", writeable != 0}));
    if (!memory) return nullptr;
    return call_numpy("asarray", memory.get(), nullptr);
}

const char* type_name(ColumnType type) {
    switch (type) {
        case ColumnType::Float64:
            return "float64";
        case ColumnType::Int64:
            return "int64";
        case ColumnType::Text:
            return "text";
    }
    return "?";
}

PyObject* info(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    if (!parse_arguments({"ColumnTable.info()", {"name"}}, args, kwargs, argv)) return nullptr;
    const Column* column = find_column(self, argv[0]);
    if (column == nullptr) return nullptr;
    const ColumnInfo& info = column->info;
    Ref unit(info.unit ? new_str(*info.unit) : new_none());
    if (!unit) return nullptr;
    return Py_BuildValue("{s:N,s:I,s:I,s:N,s:O,s:i,s:s}", "key", new_str(info.key), "rank", info.rank, "code",
                         info.code, "name", new_str(info.element_name), "unit", unit.get(), "scale", info.scale, "type",
                         type_name(info.type));
}

void release_stream_capsule(PyObject* capsule) {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (stream == nullptr) {
        PyErr_Clear();
        return;
    }
    if (stream->release != nullptr) stream->release(stream);
    delete stream;
}

PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    // A requested schema may be ignored: consumers cast what they get.
    if (!parse_arguments({"ColumnTable.__arrow_c_stream__()", {"requested_schema"}, 1}, args, kwargs, argv)) {
        return nullptr;
    }
    TableState& state = unbox<TableState>(self);
    if (state.lent_for_writing) {
        PyErr_SetString(PyExc_ValueError,
                        "NumPy may have changed the table's memory, which Arrow takes as immutable: "
                        "decode the messages again for Arrow");
        return nullptr;
    }
    const std::shared_ptr<SharedTable>& shared = state.shared;
    auto stream = std::make_unique<ArrowArrayStream>();
    export_arrow_stream(std::shared_ptr<const ColumnTable>(shared, &shared->table), stream.get());
    PyObject* capsule = PyCapsule_New(stream.get(), "arrow_array_stream", release_stream_capsule);
    if (capsule == nullptr) {
        stream->release(stream.get());
        return nullptr;
    }
    stream.release();
    state.lent_to_arrow = true;
    return capsule;
}

PyObject* get_names(PyObject* self, void*) {
    const ColumnTable& table = unbox<TableState>(self).shared->table;
    Ref list(PyList_New(static_cast<Py_ssize_t>(table.columns.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        PyObject* name = new_str(table.columns[i].info.name);
        if (name == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), name);
    }
    return list.release();
}

PyObject* get_rows(PyObject* self, void*) {
    return to_python(std::uint64_t{unbox<TableState>(self).shared->table.rows});
}

PyObject* get_errors(PyObject* self, void*) {
    const std::vector<MessageError>& errors = unbox<TableState>(self).shared->table.errors;
    Ref list(PyList_New(static_cast<Py_ssize_t>(errors.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        PyObject* item = new_record(records().message_error,
                                    {to_python(std::uint64_t{errors[i].index}),
                                     to_python(std::uint64_t{errors[i].offset}), new_str(errors[i].text)});
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* table_repr(PyObject* self) {
    const ColumnTable& table = unbox<TableState>(self).shared->table;
    return PyUnicode_FromFormat("<ColumnTable: %zu rows, %zu columns, %zu failed messages>", table.rows,
                                table.columns.size(), table.errors.size());
}

PyMethodDef table_methods[] = {
    method<array>("array", kKeywordCall,
                  "array($self, name, writeable=False)\n--\n\nColumn `name` as a NumPy array: float64 (NaN "
                  "missing) or int64 (code tables; to_numpy() masks the missing cells), views of the table's "
                  "memory, read-only unless `writeable` (then the table goes to Arrow no more), or object (str "
                  "or None)."),
    method<info>("info", kKeywordCall,
                 "info($self, name)\n--\n\nWhat column `name` holds: key, rank, code, name, unit, scale and type."),
    method<arrow_c_stream>("__arrow_c_stream__", kKeywordCall,
                           "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
                           "The columns as one Arrow record batch, in a PyCapsule, without a copy."),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"names", guarded<get_names>, nullptr, "The column names: 'message', 'subset', then key occurrences.", nullptr},
    {"rows", guarded<get_rows>, nullptr, "The number of rows, one per subset kept.", nullptr},
    {"errors", guarded<get_errors>, nullptr, "A MessageError for every message that gave no rows.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_doc, const_cast<char*>("The columns of many messages, one row per subset; made by decode_columns().")},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<TableState>)},
    {Py_tp_repr, slot_function<table_repr>()},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {0, nullptr},
};

}  // namespace

PyObject* new_column_table(std::shared_ptr<SharedTable> shared) {
    return box(types().column_table, TableState{std::move(shared)});
}

PyType_Spec column_table_spec = {
    "corvane._core.ColumnTable",
    sizeof(Boxed<TableState>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    table_slots,
};

PyType_Spec column_memory_spec = {
    "corvane._core.ColumnMemory",
    sizeof(Boxed<ColumnMemory>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    memory_slots,
};

}  // namespace corvane::py::core

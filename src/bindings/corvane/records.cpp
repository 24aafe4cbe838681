// The record classes of corvane._records, built and read as the tuples they are.
#include "bindings/corvane/records.hpp"

#include <utility>

#include "bindings/support/support.hpp"

namespace corvane::py::core {

Records& records() {
    static Records cache;
    return cache;
}

bool import_records() {
    Ref module(PyImport_ImportModule("corvane._records"));
    if (!module) return false;
    Records& cache = records();
    const std::initializer_list<std::pair<const char*, PyObject**>> classes = {
        {"MessageEntry", &cache.message_entry}, {"MessageMetadata", &cache.message_metadata},
        {"MessageError", &cache.message_error}, {"ColumnFilter", &cache.column_filter},
        {"ChosenTables", &cache.chosen_tables}, {"TableCounts", &cache.table_counts},
        {"TableLayer", &cache.table_layer},
    };
    for (const auto& [name, slot] : classes) {
        if (*slot != nullptr) continue;  // kept from an earlier import
        Ref found(PyObject_GetAttrString(module.get(), name));
        if (!found) return false;
        if (!PyType_Check(found.get()) ||
            PyObject_IsSubclass(found.get(), reinterpret_cast<PyObject*>(&PyTuple_Type)) != 1) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "corvane._records.%s is no tuple class", name);
            return false;
        }
        *slot = found.release();
    }
    return true;
}

PyObject* new_record(PyObject* record, std::initializer_list<PyObject*> fields) {
    Ref items(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
    Py_ssize_t position = 0;
    bool complete = static_cast<bool>(items);
    for (PyObject* field : fields) {
        if (field == nullptr || !items) {
            complete = false;
            Py_DecRef(field);
        } else {
            PyTuple_SetItem(items.get(), position, field);
        }
        ++position;
    }
    if (!complete) return nullptr;
    // tuple.__new__ of a subclass copies the items into an instance of it, as namedtuple's
    // own __new__ does after a Python-level call.
    static const auto tuple_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyTuple_Type, Py_tp_new));
    Ref args(PyTuple_Pack(1, items.get()));
    if (!args) return nullptr;
    return tuple_new(reinterpret_cast<PyTypeObject*>(record), args.get(), nullptr);
}

bool check_record(PyObject* object, PyObject* record, const char* what) {
    const int is = PyObject_IsInstance(object, record);
    if (is == 1) return true;
    if (is == 0) {
        Ref name(PyObject_GetAttrString(record, "__name__"));
        if (name) PyErr_Format(PyExc_TypeError, "%s must be a corvane._records.%U", what, name.get());
    }
    return false;
}

}  // namespace corvane::py::core

// The record classes of corvane._records, which the module's functions return and take in place
// of bare tuples.
#pragma once

#include <initializer_list>

#include "bindings/support/python.hpp"

namespace corvane::py::core {

// The classes, imported once at the first import of the module and kept for the life of the
// process, as the module's own classes are.
struct Records {
    PyObject* message_entry = nullptr;
    PyObject* message_metadata = nullptr;
    PyObject* message_error = nullptr;
    PyObject* column_filter = nullptr;
    PyObject* chosen_tables = nullptr;
    PyObject* table_counts = nullptr;
    PyObject* table_layer = nullptr;
};
Records& records();

// Imports corvane._records and checks that each class is a tuple subclass; false with an
// exception set.
bool import_records();

// A new `record` of `fields`, whose references it takes, even on failure; null with an exception
// set, also when a field is null (a failed conversion). Builds the tuple directly: no Python
// __new__ runs, so a record costs what a tuple costs.
PyObject* new_record(PyObject* record, std::initializer_list<PyObject*> fields);

// Whether `object` is a `record`; false with TypeError naming `what` and `shape` otherwise.
bool check_record(PyObject* object, PyObject* record, const char* what);

}  // namespace corvane::py::core

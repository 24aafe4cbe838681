// The classes and functions of the `_corvane` module, defined across the files of this folder.
#pragma once

#include <vector>

#include "bindings/support/python.hpp"
#include "bindings/support/support.hpp"
#include "data/decoded_value.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace corvane::py {

// The class objects, built once at the first import and kept for the life of the process.
struct Types {
    PyTypeObject* message = nullptr;
    PyTypeObject* decoded_value = nullptr;
    PyTypeObject* descriptor = nullptr;
    PyTypeObject* element = nullptr;
    PyTypeObject* sequence = nullptr;
    PyTypeObject* table_set = nullptr;
};
Types& types();

// _corvane's texts are fixed: table, data and limit failures all keep the one parse prefix.
inline PyObject* raise_error(const BufrError& error) { return raise_error(error, Wording::OneParsePrefix); }

extern PyType_Spec message_spec;
extern PyType_Spec decoded_value_spec;
extern PyType_Spec descriptor_spec;
extern PyType_Spec element_spec;
extern PyType_Spec sequence_spec;
extern PyType_Spec table_set_spec;

PyObject* new_message(BufrMessage message);
// A Python list of new DecodedValue objects; names and meanings become shared str objects.
// Frees the core values as it goes: `values` is left without them.
PyObject* new_value_list(DecodedValues& values);

PyObject* parse_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_file(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_all_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_all_file(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* expand_descriptors(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode_values(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode_values_with_tables(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode_values_with_definitions(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace corvane::py

// The classes and functions of the module, defined across the binding files.
#pragma once

#include "lib/python.hpp"
#include "message/message.hpp"

namespace corvane::py {

// The class objects, built once at the first import and kept for the life of the process.
struct Types {
    PyTypeObject* message = nullptr;
    PyTypeObject* descriptor = nullptr;
};
Types& types();

extern PyType_Spec message_spec;
extern PyType_Spec descriptor_spec;

PyObject* new_message(BufrMessage message);

PyObject* parse_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_file(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_all_bytes(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_all_file(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace corvane::py

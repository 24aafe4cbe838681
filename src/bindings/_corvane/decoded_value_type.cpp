#include <cstdint>
#include <string>

#include "bindings/_corvane/types.hpp"
#include "bindings/support/free_list.hpp"
#include "bindings/support/shared_strings.hpp"
#include "bindings/support/support.hpp"
#include "error/text.hpp"

namespace corvane::py {
namespace {

// Holds Python objects rather than the core record: names and meanings are shared str
// objects, so making a value costs one allocation.
struct PyDecodedValue {
    PyObject_HEAD
    PyObject* name;         // owned
    PyObject* raw_text;     // owned, or null when absent
    PyObject* raw_meaning;  // owned, or null when absent
    double raw_value;
    std::uint64_t raw;
    std::uint32_t descriptor;
    bool has_raw_value;
    bool has_raw;
};

PyDecodedValue* as_value(PyObject* self) { return reinterpret_cast<PyDecodedValue*>(self); }

// Character data carries no raw bits; a missing text then has no value to show at all.
bool is_missing_text(const PyDecodedValue* value) { return !value->has_raw && value->raw_text == nullptr; }

PyObject* optional(PyObject* object) {
    if (object == nullptr) return new_none();
    Py_IncRef(object);
    return object;
}

PyObject* get_descriptor(PyObject* self, void*) { return to_python(as_value(self)->descriptor); }
PyObject* get_name(PyObject* self, void*) { return optional(as_value(self)->name); }
PyObject* get_raw_value(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!value->has_raw_value) return new_none();
    return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!value->has_raw) return new_none();
    return to_python(value->raw);
}
PyObject* get_raw_text(PyObject* self, void*) { return optional(as_value(self)->raw_text); }
PyObject* get_raw_meaning(PyObject* self, void*) { return optional(as_value(self)->raw_meaning); }

PyObject* get_data(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (value->raw_text != nullptr) return optional(value->raw_text);
    if (value->raw_meaning != nullptr) return optional(value->raw_meaning);
    if (is_missing_text(value) || !value->has_raw_value) return new_none();
    return PyFloat_FromDouble(value->raw_value);
}

std::string quoted(PyObject* text) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "\"\"";
    }
    return quote_text(std::string_view(utf8, static_cast<std::size_t>(size)));
}

PyObject* value_repr(PyObject* self) {
    const PyDecodedValue* value = as_value(self);
    std::string shown;
    if (value->raw_text != nullptr) {
        shown = quoted(value->raw_text);
    } else if (value->raw_meaning != nullptr) {
        shown = quoted(value->raw_meaning);
    } else if (is_missing_text(value) || !value->has_raw_value) {
        shown = "None";
    } else {
        shown = "Some(" + format_shortest_float(value->raw_value) + ")";
    }
    return new_str("DecodedValue(" + format_code(value->descriptor) + ", " + shown + ")");
}

FreeList<PyDecodedValue> free_values;

void value_dealloc(PyObject* self) {
    PyDecodedValue* value = as_value(self);
    Py_DecRef(value->name);
    Py_DecRef(value->raw_text);
    Py_DecRef(value->raw_meaning);
    PyTypeObject* type = Py_TYPE(self);
    free_values.release(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

PyGetSetDef value_getset[] = {
    attribute<get_descriptor>("descriptor"),
    attribute<get_name>("name"),
    attribute<get_raw_value>("raw_value"),
    attribute<get_raw>("raw"),
    attribute<get_raw_text>("raw_text"),
    attribute<get_raw_meaning>("raw_meaning"),
    attribute<get_data>("data"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc)},
    {Py_tp_repr, slot_function<value_repr>()},
    {Py_tp_getset, value_getset},
    {0, nullptr},
};

}  // namespace

PyType_Spec decoded_value_spec = {
    "builtins.DecodedValue", sizeof(PyDecodedValue), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, value_slots,
};

PyObject* new_value_list(const DecodedValues& values) {
    PyTypeObject* type = types().decoded_value;
    SharedStrings strings;
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const DecodedValue& source = values[i];
        PyObject* object = free_values.allocate(type);
        if (object == nullptr) return nullptr;
        PyDecodedValue* value = as_value(object);
        value->name = nullptr;
        value->raw_text = nullptr;
        value->raw_meaning = nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), object);  // the list owns it from here
        value->descriptor = source.descriptor;
        const std::optional<double> raw_value = source.raw_value();
        value->has_raw_value = raw_value.has_value();
        value->raw_value = raw_value.value_or(0.0);
        const std::optional<std::uint64_t> raw = source.raw();
        value->has_raw = raw.has_value();
        value->raw = raw.value_or(0);
        value->name = strings.get(source.name);
        if (value->name == nullptr) return nullptr;
        if (source.raw_meaning != nullptr && (value->raw_meaning = strings.get(source.raw_meaning)) == nullptr) {
            return nullptr;
        }
        const std::optional<std::string_view> text = source.raw_text();
        if (text && (value->raw_text = new_str(*text)) == nullptr) return nullptr;
    }
    return list.release();
}

}  // namespace corvane::py

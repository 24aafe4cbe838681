// Value, one decoded value as the package shows it, and Decoded, the values of one message.
#include <cstdint>
#include <string_view>

#include "bindings/corvane/types.hpp"
#include "bindings/support/free_list.hpp"
#include "bindings/support/support.hpp"

namespace corvane::py::core {
namespace {

// 48 bytes: a message can hold millions of values.
struct PyValue {
    PyObject_HEAD
    PyObject* element;  // the shared (key, name, unit) tuple: owned
    PyObject* meaning;  // owned, or null
    union {
        double number;   // kind Number
        PyObject* text;  // kind Text: owned
    };
    std::uint32_t code;
    std::uint16_t subset;
    std::uint8_t kind;
};
static_assert(sizeof(PyValue) <= 48);

enum Kind : std::uint8_t { kMissing, kNumber, kText };

PyValue* as_value(PyObject* self) { return reinterpret_cast<PyValue*>(self); }

FreeList<PyValue> free_values;

PyObject* optional(PyObject* object) {
    if (object == nullptr) return new_none();
    Py_IncRef(object);
    return object;
}

PyObject* element_text(PyObject* self, Py_ssize_t index) {
    PyObject* text = PyTuple_GetItem(as_value(self)->element, index);
    return text == nullptr ? nullptr : optional(text);
}

PyObject* get_subset(PyObject* self, void*) { return to_python(as_value(self)->subset); }
PyObject* get_code(PyObject* self, void*) { return to_python(as_value(self)->code); }
PyObject* get_key(PyObject* self, void*) { return element_text(self, 0); }
PyObject* get_name(PyObject* self, void*) { return element_text(self, 1); }
PyObject* get_unit(PyObject* self, void*) { return element_text(self, 2); }
PyObject* get_meaning(PyObject* self, void*) { return optional(as_value(self)->meaning); }

PyObject* get_value(PyObject* self, void*) {
    const PyValue* value = as_value(self);
    switch (value->kind) {
        case kNumber:
            return PyFloat_FromDouble(value->number);
        case kText:
            return optional(value->text);
        default:
            return new_none();
    }
}

PyObject* value_repr(PyObject* self) {
    const PyValue* value = as_value(self);
    Ref shown(get_value(self, nullptr));
    if (!shown) return nullptr;
    return PyUnicode_FromFormat("Value(subset=%u, code=%06u, key=%R, value=%R, unit=%R)", unsigned{value->subset},
                                value->code, PyTuple_GetItem(value->element, 0), shown.get(),
                                PyTuple_GetItem(value->element, 2));
}

void value_dealloc(PyObject* self) {
    PyValue* value = as_value(self);
    Py_DecRef(value->element);
    Py_DecRef(value->meaning);
    if (value->kind == kText) Py_DecRef(value->text);
    PyTypeObject* type = Py_TYPE(self);
    free_values.release(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

PyGetSetDef value_getset[] = {
    {"subset", guarded<get_subset>, nullptr, "The subset (report) of the message, from 1.", nullptr},
    {"code", guarded<get_code>, nullptr, "The descriptor code, such as 12101 for 0-12-101.", nullptr},
    {"key", guarded<get_key>, nullptr, "The ecCodes key name, such as 'airTemperature'.", nullptr},
    {"name", guarded<get_name>, nullptr, "The element name of Table B.", nullptr},
    {"unit", guarded<get_unit>, nullptr, "The unit of Table B, or None.", nullptr},
    {"value", guarded<get_value>, nullptr, "The value: float, str, or None when missing.", nullptr},
    {"meaning", guarded<get_meaning>, nullptr, "The code or flag table text of the value, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kValueDoc = R"(One decoded value of a message; made by Message.values().

Attributes
----------
subset : int
    The subset (report) of the message, from 1.
code : int
    The descriptor code, such as 12101 for 0-12-101 (999999 for an associated field).
key : str
    The ecCodes key name, such as "airTemperature".
name : str
    The element name of Table B.
unit : str or None
    The unit of Table B.
value : float, str or None
    The value; None when missing.
meaning : str or None
    The code or flag table text of the value.

Examples
--------
>>> value = corvane.open(corvane.sample_path())[0].values()[0]
>>> value
Value(subset=1, code=001001, key='blockNumber', value=10.0, unit='Numeric')
>>> print(value.code, value.name, value.meaning)
1001 WMO BLOCK NUMBER None
)";

PyType_Slot value_slots[] = {
    {Py_tp_doc, const_cast<char*>(kValueDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc)},
    {Py_tp_repr, slot_function<value_repr>()},
    {Py_tp_getset, value_getset},
    {0, nullptr},
};

// A decoded message. Names point into `set`, which `tables` keeps alive.
struct DecodedState {
    DecodedState(PyObject* sections, DecodedValues decoded, PyObject* owner, const TableSet& tables)
        : metadata(sections), values(std::move(decoded)), tables_object(owner), set(&tables) {
        Py_IncRef(owner);
    }
    DecodedState(DecodedState&& other) noexcept
        : metadata(std::exchange(other.metadata, nullptr)),
          values(std::move(other.values)),
          tables_object(std::exchange(other.tables_object, nullptr)),
          set(other.set),
          taken(other.taken) {}
    DecodedState(const DecodedState&) = delete;
    ~DecodedState() {
        Py_DecRef(metadata);
        Py_DecRef(tables_object);
    }

    PyObject* metadata;
    DecodedValues values;
    PyObject* tables_object;
    const TableSet* set;
    bool taken = false;
};

// Fills a new value from `source`; false with an exception set.
bool fill(PyValue* value, const DecodedValue& source, std::uint16_t subset, TablesState& owner, const TableSet& set) {
    value->code = source.descriptor;
    value->subset = subset;
    PyObject* element = element_texts(owner, set, source);
    if (element == nullptr) return false;
    value->element = optional(element);
    if (source.raw_meaning != nullptr) {
        PyObject* meaning = meaning_text(owner, source.raw_meaning);
        if (meaning == nullptr) return false;
        value->meaning = optional(meaning);
    }
    if (const std::optional<std::string_view> text = source.raw_text()) {
        if ((value->text = new_str(*text)) == nullptr) return false;
        value->kind = kText;
        return true;
    }
    // A missing text keeps only its position number, which is no value of the data.
    if (!source.raw().has_value()) return true;
    if (const std::optional<double> number = source.raw_value()) {
        value->number = *number;
        value->kind = kNumber;
    }
    return true;
}

// The values of the message as Value objects: operator markers and the new reference values
// of a 203YYY definition are left out, as they describe the coding, not the data. The core
// records are freed as their objects are made, so the values can be taken once.
PyObject* decoded_values(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* none[1];
    if (!parse_arguments({"Decoded.values()", {}}, args, kwargs, none)) return nullptr;
    DecodedState& decoded = unbox<DecodedState>(self);
    if (decoded.taken) {
        PyErr_SetString(PyExc_RuntimeError, "the values of this message were taken already: decode it again");
        return nullptr;
    }
    decoded.taken = true;
    TablesState& owner = unbox<TablesState>(decoded.tables_object);
    DecodedValues& values = decoded.values;
    PyTypeObject* type = types().value;
    const std::size_t total = values.size();
    Ref list(PyList_New(static_cast<Py_ssize_t>(total)));
    if (!list) return nullptr;
    Py_ssize_t count = 0;
    std::size_t index = 0;
    std::size_t subset = 0;
    for (std::size_t block = 0; block < values.values.block_count(); ++block) {
        for (const DecodedValue& source : values.values.block(block)) {
            while (subset < values.subset_ends.size() && values.subset_ends[subset] <= index) ++subset;
            ++index;
            if (source.kind() == ValueKind::Marker || source.kind() == ValueKind::ReferenceDefinition) continue;
            PyObject* object = free_values.allocate(type);
            if (object == nullptr) return nullptr;
            PyValue* value = as_value(object);
            value->element = value->meaning = nullptr;
            value->kind = kMissing;
            PyList_SetItem(list.get(), count++, object);  // the list owns it from here
            if (!fill(value, source, static_cast<std::uint16_t>(subset + 1), owner, *decoded.set)) return nullptr;
        }
        values.values.release_block(block);
    }
    if (count != static_cast<Py_ssize_t>(total) &&
        PyList_SetSlice(list.get(), count, static_cast<Py_ssize_t>(total), nullptr) != 0) {
        return nullptr;
    }
    return list.release();
}

PyMethodDef decoded_methods[] = {
    method<decoded_values>("values", kKeywordCall,
                           "values($self)\n--\n\nEvery value of the message, as Value objects."),
    {nullptr, nullptr, 0, nullptr},
};

PyObject* get_metadata(PyObject* self, void*) { return optional(unbox<DecodedState>(self).metadata); }
PyObject* get_bits_left(PyObject* self, void*) { return to_python(unbox<DecodedState>(self).values.bits_left); }

PyGetSetDef decoded_getset[] = {
    {"metadata", guarded<get_metadata>, nullptr, "The section metadata, as parse() gives it.", nullptr},
    {"bits_left", guarded<get_bits_left>, nullptr,
     "Bits of section 4 after the last value: up to 15 are padding, more are data the descriptors leave unread.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot decoded_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<DecodedState>)},
    {Py_tp_methods, decoded_methods},
    {Py_tp_getset, decoded_getset},
    {0, nullptr},
};

constexpr unsigned kClosedFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION;

}  // namespace

PyType_Spec value_spec = {"corvane.Value", sizeof(PyValue), 0, kClosedFlags, value_slots};
PyType_Spec decoded_spec = {"corvane._core.Decoded", sizeof(Boxed<DecodedState>), 0, kClosedFlags, decoded_slots};

PyObject* new_decoded(PyObject* metadata, DecodedValues values, PyObject* tables, const TableSet& set) {
    return box(types().decoded, DecodedState(metadata, std::move(values), tables, set));
}

}  // namespace corvane::py::core

#include <string>
#include <unordered_map>

#include "data/decoder.hpp"
#include "error/text.hpp"
#include "lib/bindings.hpp"
#include "lib/support.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/eccodes_loader.hpp"

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
    if (object == nullptr) Py_RETURN_NONE;
    Py_INCREF(object);
    return object;
}

PyObject* get_descriptor(PyObject* self, void*) { return to_python(as_value(self)->descriptor); }
PyObject* get_name(PyObject* self, void*) { return optional(as_value(self)->name); }
PyObject* get_raw_value(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!value->has_raw_value) Py_RETURN_NONE;
    return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!value->has_raw) Py_RETURN_NONE;
    return to_python(value->raw);
}
PyObject* get_raw_text(PyObject* self, void*) { return optional(as_value(self)->raw_text); }
PyObject* get_raw_meaning(PyObject* self, void*) { return optional(as_value(self)->raw_meaning); }

PyObject* get_data(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (value->raw_text != nullptr) return optional(value->raw_text);
    if (value->raw_meaning != nullptr) return optional(value->raw_meaning);
    if (is_missing_text(value) || !value->has_raw_value) Py_RETURN_NONE;
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

void value_dealloc(PyObject* self) {
    PyDecodedValue* value = as_value(self);
    Py_XDECREF(value->name);
    Py_XDECREF(value->raw_text);
    Py_XDECREF(value->raw_meaning);
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyGetSetDef value_getset[] = {
    {"descriptor", get_descriptor, nullptr, nullptr, nullptr},
    {"name", get_name, nullptr, nullptr, nullptr},
    {"raw_value", get_raw_value, nullptr, nullptr, nullptr},
    {"raw", get_raw, nullptr, nullptr, nullptr},
    {"raw_text", get_raw_text, nullptr, nullptr, nullptr},
    {"raw_meaning", get_raw_meaning, nullptr, nullptr, nullptr},
    {"data", get_data, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(value_repr)},
    {Py_tp_getset, value_getset},
    {0, nullptr},
};

// One str object per distinct table text; the decoded values point at few distinct names.
class SharedStrings {
public:
    SharedStrings() = default;
    SharedStrings(const SharedStrings&) = delete;
    SharedStrings& operator=(const SharedStrings&) = delete;
    ~SharedStrings() {
        for (auto& [text, object] : objects_) Py_DECREF(object);
    }

    // A new reference, or null with an exception set.
    PyObject* get(const std::string* text) {
        if (text == last_text_) {
            Py_INCREF(last_object_);
            return last_object_;
        }
        auto [it, inserted] = objects_.try_emplace(text, nullptr);
        if (inserted) {
            it->second = new_str(*text);
            if (it->second == nullptr) {
                objects_.erase(it);
                return nullptr;
            }
        }
        last_text_ = text;
        last_object_ = it->second;
        Py_INCREF(last_object_);
        return last_object_;
    }

private:
    std::unordered_map<const std::string*, PyObject*> objects_;
    const std::string* last_text_ = nullptr;
    PyObject* last_object_ = nullptr;
};

// The first message of `data`, and the bytes it spans.
struct FirstMessage {
    std::span<const std::uint8_t> bytes;
    BufrMessage message;
};

Result<FirstMessage> first_message(std::span<const std::uint8_t> data) {
    auto ranges = split_messages(data);
    if (!ranges) return std::move(ranges).error();
    if (ranges->empty()) return BufrError::missing_marker();
    const auto bytes = data.subspan(ranges->front().offset, ranges->front().length);
    auto message = parse_message(bytes);
    if (!message) return std::move(message).error();
    return FirstMessage{bytes, std::move(message).value()};
}

PyObject* decode_with(const FirstMessage& first, const TableSet& tables) {
    auto values = decode_uncompressed_values(first.message, tables, first.message.section4_data(first.bytes));
    if (!values) return raise_error(values.error());
    return new_value_list(*values);
}

}  // namespace

PyType_Spec decoded_value_spec = {
    "builtins.DecodedValue", sizeof(PyDecodedValue), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, value_slots,
};

PyObject* new_value_list(const std::vector<DecodedValue>& values) {
    PyTypeObject* type = types().decoded_value;
    const auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    SharedStrings strings;
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const DecodedValue& source = values[i];
        PyObject* object = alloc(type, 0);
        if (object == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), object);  // the list owns it from here
        PyDecodedValue* value = as_value(object);
        value->descriptor = source.descriptor;
        value->has_raw_value = source.raw_value.has_value();
        value->raw_value = source.raw_value.value_or(0.0);
        value->has_raw = source.raw.has_value();
        value->raw = source.raw.value_or(0);
        value->name = strings.get(source.name);
        if (value->name == nullptr) return nullptr;
        if (source.raw_meaning != nullptr && (value->raw_meaning = strings.get(source.raw_meaning)) == nullptr) {
            return nullptr;
        }
        if (source.raw_text && (value->raw_text = new_str(*source.raw_text)) == nullptr) return nullptr;
    }
    return list.release();
}

PyObject* decode_values(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    std::string table_dir;
    if (!parse_arguments({"decode_values()", {"data", "table_dir"}}, args, kwargs, argv) ||
        !to_bytes_view(argv[0], "data", data) || !to_path_text(argv[1], "table_dir", table_dir)) {
        return nullptr;
    }
    auto first = first_message(data);
    if (!first) return raise_error(first.error());
    auto tables = from_eccodes_dir(table_dir);
    if (!tables) return raise_error(tables.error());
    return decode_with(*first, *tables);
}

PyObject* decode_values_with_tables(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    if (!parse_arguments({"decode_values_with_tables()", {"data", "tables"}}, args, kwargs, argv) ||
        !to_bytes_view(argv[0], "data", data) ||
        !check_instance(argv[1], "tables", types().table_set, "TableSet")) {
        return nullptr;
    }
    auto first = first_message(data);
    if (!first) return raise_error(first.error());
    return decode_with(*first, unbox<TableSet>(argv[1]));
}

PyObject* decode_values_with_definitions(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    std::string root;
    if (!parse_arguments({"decode_values_with_definitions()", {"data", "definitions_root"}}, args, kwargs, argv) ||
        !to_bytes_view(argv[0], "data", data) || !to_path_text(argv[1], "definitions_root", root)) {
        return nullptr;
    }
    auto first = first_message(data);
    if (!first) return raise_error(first.error());
    auto tables = from_eccodes_definitions(root, first->message);
    if (!tables) return raise_error(tables.error());
    return decode_with(*first, *tables);
}

}  // namespace corvane::py

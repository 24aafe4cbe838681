#include <cstdint>
#include <new>
#include <string>

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

// Values are made and dropped by the hundred thousand per message, so freed ones are kept for
// reuse, as CPython keeps floats; the type is not garbage-collected and cannot be subclassed, so
// the object allocator serves them directly. The cache holds at most 16 MiB.
class ValueFreeList {
public:
    PyObject* allocate(PyTypeObject* type) {
        void* memory = head_;
        if (memory != nullptr) {
            head_ = head_->next;
            --size_;
        } else if ((memory = PyObject_Malloc(sizeof(PyDecodedValue))) == nullptr) {
            return PyErr_NoMemory();
        }
        return PyObject_Init(static_cast<PyObject*>(memory), type);
    }

    void release(PyObject* object) {
        if (size_ >= kCapacity) {
            PyObject_Free(object);
            return;
        }
        head_ = new (static_cast<void*>(object)) Free{head_};
        ++size_;
    }

private:
    struct Free {
        Free* next;
    };
    static constexpr std::size_t kCapacity = (std::size_t{16} << 20) / sizeof(PyDecodedValue);
    Free* head_ = nullptr;
    std::size_t size_ = 0;
};

ValueFreeList free_values;

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

// One str object per distinct table text: decoded values point at few distinct names, so an
// open-addressing table keyed by the text's address finds them in a probe or two.
class SharedStrings {
public:
    SharedStrings() : slots_(kInitialSlots) {}
    SharedStrings(const SharedStrings&) = delete;
    SharedStrings& operator=(const SharedStrings&) = delete;
    ~SharedStrings() {
        for (const Slot& slot : slots_) Py_DecRef(slot.object);
    }

    // A new reference, or null with an exception set.
    PyObject* get(const std::string* text) {
        Slot* slot = find(text);
        if (slot->text == nullptr) {
            PyObject* object = new_str(*text);
            if (object == nullptr) return nullptr;
            *slot = {text, object};
            if (++used_ * 2 > slots_.size()) grow();
            slot = find(text);
        }
        Py_IncRef(slot->object);
        return slot->object;
    }

private:
    struct Slot {
        const std::string* text = nullptr;
        PyObject* object = nullptr;
    };
    static constexpr std::size_t kInitialSlots = 256;

    Slot* find(const std::string* text) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t index = (reinterpret_cast<std::uintptr_t>(text) >> 4) * 0x9E3779B97F4A7C15u >> 32 & mask;
        while (slots_[index].text != nullptr && slots_[index].text != text) index = (index + 1) & mask;
        return &slots_[index];
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.text != nullptr) *find(slot.text) = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
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

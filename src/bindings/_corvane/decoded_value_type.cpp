#include <bit>
#include <cstdint>
#include <optional>
#include <string>

#include "bindings/_corvane/types.hpp"
#include "bindings/support/free_list.hpp"
#include "bindings/support/support.hpp"
#include "text/text.hpp"

namespace corvane::py {
namespace {

// 48 bytes where separate fields took 64: what a value is (descriptor, name and whether it has
// raw bits) sits once per distinct element in a shared label tuple, and one slot holds the
// value's text or its meaning, as no value has both.
struct PyDecodedValue {
    PyObject_HEAD
    PyObject* label;   // owned: (descriptor, name, has raw bits)
    PyObject* text;    // owned, or null: the text of a value without raw bits, else the meaning
    double raw_value;  // kAbsent when absent
    std::uint64_t raw;
};
static_assert(sizeof(PyDecodedValue) == 48);

// A signalling NaN: no arithmetic yields it, so it cannot be a decoded number.
constexpr std::uint64_t kAbsent = 0x7FF4000000000001;

PyDecodedValue* as_value(PyObject* self) { return reinterpret_cast<PyDecodedValue*>(self); }

PyObject* optional(PyObject* object) {
    if (object == nullptr) return new_none();
    Py_IncRef(object);
    return object;
}

bool has_raw(const PyDecodedValue* value) { return PyObject_IsTrue(PyTuple_GetItem(value->label, 2)) == 1; }
bool has_raw_value(const PyDecodedValue* value) { return std::bit_cast<std::uint64_t>(value->raw_value) != kAbsent; }
PyObject* raw_text(const PyDecodedValue* value) { return has_raw(value) ? nullptr : value->text; }
PyObject* raw_meaning(const PyDecodedValue* value) { return has_raw(value) ? value->text : nullptr; }

// Character data carries no raw bits; a missing text then has no value to show at all.
bool is_missing_text(const PyDecodedValue* value) { return !has_raw(value) && value->text == nullptr; }

PyObject* get_descriptor(PyObject* self, void*) { return optional(PyTuple_GetItem(as_value(self)->label, 0)); }
PyObject* get_name(PyObject* self, void*) { return optional(PyTuple_GetItem(as_value(self)->label, 1)); }
PyObject* get_raw_value(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!has_raw_value(value)) return new_none();
    return PyFloat_FromDouble(value->raw_value);
}
PyObject* get_raw(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (!has_raw(value)) return new_none();
    return to_python(value->raw);
}
PyObject* get_raw_text(PyObject* self, void*) { return optional(raw_text(as_value(self))); }
PyObject* get_raw_meaning(PyObject* self, void*) { return optional(raw_meaning(as_value(self))); }

PyObject* get_data(PyObject* self, void*) {
    const PyDecodedValue* value = as_value(self);
    if (value->text != nullptr) return optional(value->text);
    if (is_missing_text(value) || !has_raw_value(value)) return new_none();
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
    if (value->text != nullptr) {
        shown = quoted(value->text);
    } else if (is_missing_text(value) || !has_raw_value(value)) {
        shown = "None";
    } else {
        shown = "Some(" + format_shortest_float(value->raw_value) + ")";
    }
    const auto descriptor = static_cast<std::uint32_t>(PyLong_AsUnsignedLong(PyTuple_GetItem(value->label, 0)));
    return new_str("DecodedValue(" + format_code(descriptor) + ", " + shown + ")");
}

FreeList<PyDecodedValue> free_values;

void value_dealloc(PyObject* self) {
    PyDecodedValue* value = as_value(self);
    Py_DecRef(value->label);
    Py_DecRef(value->text);
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

// One Python object per distinct key: decoded values point at few distinct names, meanings and
// labels, so an open-addressing table keyed by a text's address (and a number beside it) finds
// them in a probe or two.
class SharedObjects {
public:
    SharedObjects() : slots_(kInitialSlots) {}
    SharedObjects(const SharedObjects&) = delete;
    SharedObjects& operator=(const SharedObjects&) = delete;
    ~SharedObjects() {
        for (const Slot& slot : slots_) Py_DecRef(slot.object);
    }

    // A new reference to the str of a table text, or null with an exception set.
    PyObject* text(const std::string* text) {
        return get({text, 0}, [text] { return new_str(*text); });
    }

    // A new reference to the label tuple of a value, or null with an exception set.
    PyObject* label(const DecodedValue& value, bool has_raw) {
        const std::uint64_t extra = (std::uint64_t{value.descriptor} << 2) | (has_raw ? 3 : 1);
        return get({value.name, extra}, [&]() -> PyObject* {
            Ref name(text(value.name));
            if (!name) return nullptr;
            return Py_BuildValue("(kON)", static_cast<unsigned long>(value.descriptor), name.get(), to_python(has_raw));
        });
    }

private:
    struct Key {
        const std::string* text = nullptr;
        std::uint64_t extra = 0;
        bool operator==(const Key&) const = default;
    };
    struct Slot {
        Key key;
        PyObject* object = nullptr;
    };
    static constexpr std::size_t kInitialSlots = 256;

    template <class Make>
    PyObject* get(Key key, Make make) {
        Slot* slot = find(key);
        if (slot->object == nullptr) {
            PyObject* object = make();
            if (object == nullptr) return nullptr;
            // Making a label may have added its name and moved the slots.
            slot = find(key);
            *slot = {key, object};
            if (++used_ * 2 > slots_.size()) grow();
            slot = find(key);
        }
        Py_IncRef(slot->object);
        return slot->object;
    }

    Slot* find(Key key) {
        const std::size_t mask = slots_.size() - 1;
        const std::uint64_t mixed = (reinterpret_cast<std::uintptr_t>(key.text) >> 4) ^ key.extra;
        std::size_t index = mixed * 0x9E3779B97F4A7C15u >> 32 & mask;
        while (slots_[index].object != nullptr && !(slots_[index].key == key)) index = (index + 1) & mask;
        return &slots_[index];
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.object != nullptr) *find(slot.key) = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace

PyType_Spec decoded_value_spec = {
    "builtins.DecodedValue",
    sizeof(PyDecodedValue),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    value_slots,
};

PyObject* new_value_list(DecodedValues& values) {
    PyTypeObject* type = types().decoded_value;
    SharedObjects shared;
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    Py_ssize_t at = 0;
    for (std::size_t block = 0; block < values.values.block_count(); ++block) {
        for (const DecodedValue& source : values.values.block(block)) {
            PyObject* object = free_values.allocate(type);
            if (object == nullptr) return nullptr;
            PyDecodedValue* value = as_value(object);
            value->label = nullptr;
            value->text = nullptr;
            PyList_SetItem(list.get(), at++, object);  // the list owns it from here
            const std::optional<std::uint64_t> raw = source.raw();
            value->raw = raw.value_or(0);
            value->raw_value = source.raw_value().value_or(std::bit_cast<double>(kAbsent));
            if ((value->label = shared.label(source, raw.has_value())) == nullptr) return nullptr;
            if (raw) {
                if (source.raw_meaning != nullptr && (value->text = shared.text(source.raw_meaning)) == nullptr) {
                    return nullptr;
                }
            } else if (const std::optional<std::string_view> text = source.raw_text()) {
                if ((value->text = new_str(*text)) == nullptr) return nullptr;
            }
        }
        // Each value exists once: its core record goes as soon as its object is made.
        values.values.release_block(block);
    }
    return list.release();
}

}  // namespace corvane::py

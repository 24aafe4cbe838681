// MessageEntries, the messages that scan() finds, as a sequence of MessageEntry records.
#include "bindings/corvane/records.hpp"
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"

namespace corvane::py::core {
namespace {

struct EntriesState {
    std::vector<Entry> entries;
};

Py_ssize_t entries_length(PyObject* self) { return static_cast<Py_ssize_t>(unbox<EntriesState>(self).entries.size()); }

// The sequence protocol has made a negative index positive already.
PyObject* entries_item(PyObject* self, Py_ssize_t index) {
    const std::vector<Entry>& entries = unbox<EntriesState>(self).entries;
    if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
        PyErr_SetString(PyExc_IndexError, "message entry index out of range");
        return nullptr;
    }
    const Entry& entry = entries[static_cast<std::size_t>(index)];
    return new_record(records().message_entry,
                      {to_python(std::uint64_t{entry.index}), to_python(entry.offset), to_python(entry.length),
                       entry.error ? new_str(*entry.error) : new_none()});
}

PyObject* entries_iter(PyObject* self) { return PySeqIter_New(self); }

PyObject* entries_repr(PyObject* self) {
    return PyUnicode_FromFormat("<MessageEntries: %zd messages>", entries_length(self));
}

PyType_Slot entries_slots[] = {
    {Py_tp_doc, const_cast<char*>("The messages that scan() finds, as MessageEntry records in file order.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<EntriesState>)},
    {Py_tp_repr, slot_function<entries_repr>()},
    {Py_tp_iter, slot_function<entries_iter>()},
    {Py_sq_length, slot_function<entries_length>()},
    {Py_sq_item, slot_function<entries_item>()},
    {0, nullptr},
};

}  // namespace

PyObject* new_message_entries(std::vector<Entry> entries) {
    return box(types().message_entries, EntriesState{std::move(entries)});
}

const std::vector<Entry>* scanned_entries(PyObject* object) {
    PyTypeObject* type = types().message_entries;
    if (Py_TYPE(object) != type && !PyType_IsSubtype(Py_TYPE(object), type)) return nullptr;
    return &unbox<EntriesState>(object).entries;
}

PyType_Spec message_entries_spec = {
    "corvane._core.MessageEntries",
    sizeof(Boxed<EntriesState>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    entries_slots,
};

}  // namespace corvane::py::core

// The classes and functions of `corvane._core`, the native module of the corvane package.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bindings/support/pointer_table.hpp"
#include "bindings/support/python.hpp"
#include "bindings/support/support.hpp"
#include "data/decoded_value.hpp"
#include "tables/table_provider.hpp"

namespace corvane::py::core {

// The class objects, built once at the first import and kept for the life of the process.
struct Types {
    PyTypeObject* tables = nullptr;
    PyTypeObject* decoded = nullptr;
    PyTypeObject* value = nullptr;
    PyTypeObject* column_table = nullptr;
    PyTypeObject* column_memory = nullptr;
    PyTypeObject* message_entries = nullptr;
    PyTypeObject* mapped_file = nullptr;
};
Types& types();

// Every error text names its kind of failure.
inline PyObject* raise_error(const BufrError& error) { return py::raise_error(error, Wording::ByKind); }

extern PyType_Spec tables_spec;
extern PyType_Spec decoded_spec;
extern PyType_Spec value_spec;
extern PyType_Spec column_table_spec;
extern PyType_Spec column_memory_spec;
extern PyType_Spec message_entries_spec;
extern PyType_Spec mapped_file_spec;

// The bytes of a data argument: bytes, or a MappedFile; raises TypeError for anything else.
bool to_data(PyObject* object, const char* name, std::span<const std::uint8_t>& out);

// A table choice from its five fields (master_table, master_version, centre, subcentre,
// local_version), as section 1 gives them; false with an exception set.
bool to_table_choice(PyObject* const fields[5], TableChoice& choice);

// A message of a buffer as scan() found it, with its index in the file.
struct Entry {
    std::size_t index = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::optional<std::string> error;
};

// What scan() returns: a sequence of MessageEntry records, each made when it is asked for, so
// that counting the messages of a file makes no object per message.
PyObject* new_message_entries(std::vector<Entry> entries);
// The entries that `object` holds when it is what scan() returned, else null.
const std::vector<Entry>* scanned_entries(PyObject* object);
// What scan() returned, taken whole, or MessageEntry records, each checked to lie inside a
// buffer of `buffer_size` bytes; false with an exception set.
bool to_entries(PyObject* entries, std::size_t buffer_size, std::vector<Entry>& out);

// What a Tables object holds: a provider and the texts of the elements its sets have shown.
struct TablesState {
    explicit TablesState(TableProvider tables) : provider(std::move(tables)) {}
    TablesState(TablesState&&) noexcept = default;
    ~TablesState();

    TableProvider provider;
    // The (key, name, unit) tuple that values of one element share, keyed by the element's name
    // in its set, which every value of that element points at.
    PointerTable<std::string, PyObject*> elements;
    // Unknown local elements share one name, so their tuples are keyed by code.
    std::unordered_map<std::uint32_t, PyObject*> unknown_elements;
    // Code and flag table texts, keyed likewise by the text in its set.
    PointerTable<std::string, PyObject*> meanings;
};

// Makes and keeps what element_texts and meaning_text return on their first call for a text.
PyObject* new_element_texts(TablesState& owner, const TableSet& tables, const DecodedValue& value);
PyObject* new_meaning_text(TablesState& owner, const std::string* meaning);

// The borrowed (key, name, unit or None) tuple for values named as `value` is in `tables`, a
// set of `owner`; null with an exception set. Called for every value: the lookup is inline.
inline PyObject* element_texts(TablesState& owner, const TableSet& tables, const DecodedValue& value) {
    if (PyObject** found = owner.elements.find(value.name)) return *found;
    return new_element_texts(owner, tables, value);
}

// A borrowed str for a code-table text of a set of `owner`; null with an exception set.
inline PyObject* meaning_text(TablesState& owner, const std::string* meaning) {
    if (PyObject** found = owner.meanings.find(meaning)) return *found;
    return new_meaning_text(owner, meaning);
}

// A decoded message: its section metadata (a tuple, stolen), its values, the set they were
// decoded with and the Tables object that owns it.
PyObject* new_decoded(PyObject* metadata, DecodedValues values, PyObject* tables, const TableSet& set);

PyObject* scan(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* scan_window(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* parse_all(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode_columns(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* decode_rows(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* encode(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* value_layout(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace corvane::py::core

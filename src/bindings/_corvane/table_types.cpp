#include <string>

#include "bindings/_corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/expand.hpp"
#include "text/text.hpp"

namespace corvane::py {
namespace {

PyObject* new_table_set(Result<TableSet> loaded) {
    if (!loaded) return raise_error(loaded.error());
    return box(types().table_set, std::move(loaded).value());
}

PyObject* code_list_result(Result<std::vector<std::uint32_t>> codes) {
    if (!codes) return raise_error(codes.error());
    return to_python(*codes);
}

// ElementDefinition

PyObject* element_repr(PyObject* self) {
    const ElementDefinition& element = unbox<ElementDefinition>(self);
    return new_str("ElementDefinition(" + format_code(element.code) + ", name=" + quote_text(element.name) + ")");
}

PyGetSetDef element_getset[] = {
    attribute<field_getter<ElementDefinition, &ElementDefinition::code>>("code"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::abbreviation>>("abbreviation"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::element_type>>("element_type"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::name>>("name"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::unit>>("unit"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::scale>>("scale"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::reference>>("reference"),
    attribute<field_getter<ElementDefinition, &ElementDefinition::width>>("width"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot element_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<ElementDefinition>)},
    {Py_tp_repr, slot_function<element_repr>()},
    {Py_tp_getset, element_getset},
    {0, nullptr},
};

// SequenceDefinition

PyObject* sequence_repr(PyObject* self) {
    const SequenceDefinition& sequence = unbox<SequenceDefinition>(self);
    std::string text = "SequenceDefinition(" + format_code(sequence.code) + ", members=[";
    for (std::size_t i = 0; i < sequence.members.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(sequence.members[i]);
    }
    return new_str(text + "])");
}

PyGetSetDef sequence_getset[] = {
    attribute<field_getter<SequenceDefinition, &SequenceDefinition::code>>("code"),
    attribute<field_getter<SequenceDefinition, &SequenceDefinition::members>>("members"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot sequence_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<SequenceDefinition>)},
    {Py_tp_repr, slot_function<sequence_repr>()},
    {Py_tp_getset, sequence_getset},
    {0, nullptr},
};

// TableSet

PyObject* table_set_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* none[1];
    if (!parse_arguments({"TableSet.__new__()", {}}, args, kwargs, none)) return nullptr;
    return box(type, TableSet{});
}

PyObject* table_set_repr(PyObject* self) {
    const TableSet& tables = unbox<TableSet>(self);
    return new_str("TableSet(elements=" + std::to_string(tables.elements.size()) +
                   ", sequences=" + std::to_string(tables.sequences.size()) + ")");
}

PyObject* element_count(PyObject* self, void*) {
    return to_python(std::uint64_t{unbox<TableSet>(self).elements.size()});
}
PyObject* sequence_count(PyObject* self, void*) {
    return to_python(std::uint64_t{unbox<TableSet>(self).sequences.size()});
}

// Converts the single path argument of a loader.
bool path_argument(const char* display_name, PyObject* args, PyObject* kwargs, std::string& path) {
    PyObject* argv[1];
    return parse_arguments({display_name, {"path"}}, args, kwargs, argv) && to_path_text(argv[0], "path", path);
}

PyObject* from_eccodes(PyObject*, PyObject* args, PyObject* kwargs) {
    std::string path;
    if (!path_argument("TableSet.from_eccodes()", args, kwargs, path)) return nullptr;
    return new_table_set(from_eccodes_dir(path));
}

PyObject* from_bufr4_45_method(PyObject*, PyObject* args, PyObject* kwargs) {
    std::string path;
    if (!path_argument("TableSet.from_bufr4_45()", args, kwargs, path)) return nullptr;
    return new_table_set(from_bufr4_45(path));
}

PyObject* from_definitions(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    if (!parse_arguments({"TableSet.from_definitions()", {"path", "message"}}, args, kwargs, argv)) return nullptr;
    std::string path;
    if (!to_path_text(argv[0], "path", path) || !check_instance(argv[1], "message", types().message, "BufrMessage")) {
        return nullptr;
    }
    return new_table_set(from_eccodes_definitions(path, unbox<BufrMessage>(argv[1])));
}

PyObject* get_element(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::uint32_t code;
    if (!parse_arguments({"TableSet.get_element()", {"code"}}, args, kwargs, argv) || !to_u32(argv[0], "code", code)) {
        return nullptr;
    }
    const ElementDefinition* element = unbox<TableSet>(self).find_element(code);
    if (element == nullptr) return new_none();
    return box(types().element, *element);
}

PyObject* get_sequence(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::uint32_t code;
    if (!parse_arguments({"TableSet.get_sequence()", {"code"}}, args, kwargs, argv) || !to_u32(argv[0], "code", code)) {
        return nullptr;
    }
    const SequenceDefinition* sequence = unbox<TableSet>(self).find_sequence(code);
    if (sequence == nullptr) return new_none();
    return box(types().sequence, *sequence);
}

PyObject* get_meaning(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::uint32_t code;
    std::uint64_t raw;
    if (!parse_arguments({"TableSet.get_meaning()", {"code", "raw"}}, args, kwargs, argv) ||
        !to_u32(argv[0], "code", code) || !to_u64(argv[1], "raw", raw)) {
        return nullptr;
    }
    const std::string* meaning = unbox<TableSet>(self).code_meaning(code, raw);
    if (meaning == nullptr) return new_none();
    return new_str(*meaning);
}

PyObject* expand(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::vector<std::uint32_t> codes;
    if (!parse_arguments({"TableSet.expand()", {"descriptors"}}, args, kwargs, argv) ||
        !to_code_list(argv[0], "descriptors", codes)) {
        return nullptr;
    }
    return code_list_result(corvane::expand_descriptors(unbox<TableSet>(self), codes));
}

PyMethodDef table_set_methods[] = {
    method<from_eccodes>("from_eccodes", kKeywordCall | METH_STATIC, "from_eccodes(path)\n--\n\n"),
    method<from_bufr4_45_method>("from_bufr4_45", kKeywordCall | METH_STATIC, "from_bufr4_45(path)\n--\n\n"),
    method<from_definitions>("from_definitions", kKeywordCall | METH_STATIC, "from_definitions(path, message)\n--\n\n"),
    method<get_element>("get_element", kKeywordCall, "get_element($self, code)\n--\n\n"),
    method<get_sequence>("get_sequence", kKeywordCall, "get_sequence($self, code)\n--\n\n"),
    method<get_meaning>("get_meaning", kKeywordCall, "get_meaning($self, code, raw)\n--\n\n"),
    method<expand>("expand", kKeywordCall, "expand($self, descriptors)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_set_getset[] = {
    attribute<element_count>("element_count"),
    attribute<sequence_count>("sequence_count"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_set_slots[] = {
    {Py_tp_doc, const_cast<char*>("TableSet()\n--\n\n")},
    {Py_tp_new, slot_function<table_set_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<TableSet>)},
    {Py_tp_repr, slot_function<table_set_repr>()},
    {Py_tp_getset, table_set_getset},
    {Py_tp_methods, table_set_methods},
    {0, nullptr},
};

constexpr unsigned kClosedFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

}  // namespace

PyType_Spec element_spec = {
    "builtins.ElementDefinition",
    sizeof(Boxed<ElementDefinition>),
    0,
    kClosedFlags | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    element_slots,
};

PyType_Spec sequence_spec = {
    "builtins.SequenceDefinition",
    sizeof(Boxed<SequenceDefinition>),
    0,
    kClosedFlags | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    sequence_slots,
};

PyType_Spec table_set_spec = {
    "builtins.TableSet", sizeof(Boxed<TableSet>), 0, kClosedFlags, table_set_slots,
};

PyObject* expand_descriptors(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::string table_dir;
    std::vector<std::uint32_t> codes;
    if (!parse_arguments({"expand_descriptors()", {"table_dir", "descriptors"}}, args, kwargs, argv) ||
        !to_path_text(argv[0], "table_dir", table_dir) || !to_code_list(argv[1], "descriptors", codes)) {
        return nullptr;
    }
    auto tables = from_eccodes_dir(table_dir);
    if (!tables) return raise_error(tables.error());
    return code_list_result(corvane::expand_descriptors(*tables, codes));
}

}  // namespace corvane::py

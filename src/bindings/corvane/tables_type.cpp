// Tables: where a file's tables come from, each table choice loaded once.
#include <string>

#include "bindings/corvane/records.hpp"
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/extra_tables.hpp"

namespace corvane::py::core {

bool to_table_choice(PyObject* const fields[5], TableChoice& choice) {
    std::uint32_t centre = 0, subcentre = 0;
    if (!to_u8(fields[0], "master_table", choice.master_table_number) ||
        !to_u8(fields[1], "master_version", choice.master_tables_version_number) ||
        !to_u32(fields[2], "centre", centre) || !to_u32(fields[3], "subcentre", subcentre) ||
        !to_u8(fields[4], "local_version", choice.local_tables_version_number)) {
        return false;
    }
    if (centre > UINT16_MAX || subcentre > UINT16_MAX) {
        PyErr_SetString(PyExc_OverflowError, "centre and subcentre must be at most 65535");
        return false;
    }
    choice.originating_centre = static_cast<std::uint16_t>(centre);
    choice.originating_subcentre = static_cast<std::uint16_t>(subcentre);
    return true;
}

namespace {

// The five numbers of a table choice, as load() and chosen() take them.
bool choice_arguments(const char* display_name, PyObject* args, PyObject* kwargs, TableChoice& choice) {
    PyObject* argv[5];
    return parse_arguments({display_name, {"master_table", "master_version", "centre", "subcentre", "local_version"}},
                           args, kwargs, argv) &&
           to_table_choice(argv, choice);
}

// What errors of local descriptors that no table defines advise.
constexpr const char* kMissingTablesHint =
    "add a directory with their element.table (or WMO BUFR4 CSV files) through "
    "corvane.Tables(extra=[directory]) or the CORVANE_TABLES environment variable";

PyObject* new_tables(Result<TableProvider> provider) {
    if (!provider) return raise_error(provider.error());
    return box(types().tables, TablesState(std::move(provider).value()));
}

// `extra`: absent, or a list of TableLayer records (or (layout, path) tuples) whose layout is
// "eccodes" or "bufr4".
bool to_table_directories(PyObject* extra, std::vector<TableDirectory>& out) {
    if (extra == nullptr) return true;
    if (!PyList_Check(extra)) {
        PyErr_SetString(PyExc_TypeError, "argument 'extra': a list of (layout, path) tuples");
        return false;
    }
    for (Py_ssize_t i = 0; i < PyList_Size(extra); ++i) {
        PyObject* item = PyList_GetItem(extra, i);
        if (!PyTuple_Check(item) || PyTuple_Size(item) != 2) {
            PyErr_SetString(PyExc_TypeError, "argument 'extra': a list of (layout, path) tuples");
            return false;
        }
        std::string layout, path;
        if (!to_path_text(PyTuple_GetItem(item, 0), "extra", layout) ||
            !to_path_text(PyTuple_GetItem(item, 1), "extra", path)) {
            return false;
        }
        TableDirectory directory{TableLayout::Eccodes, path};
        if (layout != "eccodes" && layout != "bufr4") {
            PyErr_SetString(PyExc_ValueError, "argument 'extra': the layout is 'eccodes' or 'bufr4'");
            return false;
        }
        directory.layout = layout == "bufr4" ? TableLayout::Bufr4 : TableLayout::Eccodes;
        out.push_back(std::move(directory));
    }
    return true;
}

// `provider` with the extra directories laid over it; runs without the interpreter.
Result<TableProvider> layered(Result<TableProvider> provider, const std::vector<TableDirectory>& extra) {
    if (!provider) return provider;
    provider->set_missing_tables_hint(kMissingTablesHint);
    if (extra.empty()) return provider;
    Result<TableSet> tables = load_extra_tables(extra);
    if (!tables) return std::move(tables).error();
    provider->set_extra(std::move(tables).value());
    return provider;
}

// Reads `path` and the extra directories (releasing the interpreter while it reads) with `load`.
template <class Load>
PyObject* from_path(const char* display_name, const char* parameter, PyObject* args, PyObject* kwargs, Load load) {
    PyObject* argv[2];
    std::string path;
    std::vector<TableDirectory> extra;
    if (!parse_arguments({display_name, {parameter, "extra"}, 1}, args, kwargs, argv) ||
        !to_path_text(argv[0], parameter, path) || !to_table_directories(argv[1], extra)) {
        return nullptr;
    }
    std::optional<Result<TableProvider>> provider;
    {
        const WithoutGil unlocked;
        provider.emplace(layered(load(path), extra));
    }
    return new_tables(std::move(*provider));
}

Result<TableProvider> fixed(Result<TableSet> tables) {
    if (!tables) return std::move(tables).error();
    return TableProvider::fixed(std::move(tables).value());
}

PyObject* from_archive(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path("Tables.from_archive()", "path", args, kwargs, [](const std::string& path) {
        Result<TableArchive> archive = TableArchive::open(path);
        if (!archive) return Result<TableProvider>(std::move(archive).error());
        return Result<TableProvider>(TableProvider::from_archive(std::move(archive).value()));
    });
}

PyObject* from_definitions(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path("Tables.from_definitions()", "root", args, kwargs, [](const std::string& root) {
        return Result<TableProvider>(TableProvider::from_definitions(root));
    });
}

PyObject* from_eccodes(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path("Tables.from_eccodes()", "path", args, kwargs,
                     [](const std::string& path) { return fixed(from_eccodes_dir(path)); });
}

PyObject* from_bufr4(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path("Tables.from_bufr4()", "path", args, kwargs,
                     [](const std::string& path) { return fixed(from_bufr4_dir(path)); });
}

// A copy of a `_corvane.TableSet`: the two modules share no objects, only the layout of the set.
PyObject* from_table_set(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::vector<TableDirectory> extra;
    if (!parse_arguments({"Tables.from_table_set()", {"tables", "extra"}, 1}, args, kwargs, argv) ||
        !to_table_directories(argv[1], extra)) {
        return nullptr;
    }
    Ref module(PyImport_ImportModule("_corvane"));
    if (!module) return nullptr;
    Ref type(PyObject_GetAttrString(module.get(), "TableSet"));
    if (!type) return nullptr;
    if (!PyType_Check(type.get()) ||
        !check_instance(argv[0], "tables", reinterpret_cast<PyTypeObject*>(type.get()), "TableSet")) {
        return nullptr;
    }
    TableSet tables = unbox<TableSet>(argv[0]);
    std::optional<Result<TableProvider>> provider;
    {
        const WithoutGil unlocked;
        provider.emplace(layered(TableProvider::fixed(std::move(tables)), extra));
    }
    return new_tables(std::move(*provider));
}

// The ChosenTables of one choice, or None for a fixed set.
PyObject* chosen(PyObject* self, PyObject* args, PyObject* kwargs) {
    TableChoice choice;
    if (!choice_arguments("Tables.chosen()", args, kwargs, choice)) return nullptr;
    std::optional<ChosenTables> found;
    {
        const WithoutGil unlocked;
        found = unbox<TablesState>(self).provider.chosen(choice);
    }
    if (!found) return new_none();
    return new_record(records().chosen_tables,
                      {to_python(found->master_found), to_python(found->loaded.master_tables_version_number),
                       to_python(found->local_found)});
}

// The TableCounts of the set for one choice, loading it if need be: what a message of that choice
// would be decoded with.
PyObject* load(PyObject* self, PyObject* args, PyObject* kwargs) {
    TableChoice choice;
    if (!choice_arguments("Tables.load()", args, kwargs, choice)) return nullptr;
    const TableProvider& provider = unbox<TablesState>(self).provider;
    const Result<TableSet>* tables = provider.find(choice);
    if (tables == nullptr) {
        const WithoutGil unlocked;
        tables = &provider.get(choice);
    }
    if (!*tables) return raise_error(tables->error());
    return new_record(records().table_counts, {to_python(std::uint64_t{(*tables)->elements.size()}),
                                               to_python(std::uint64_t{(*tables)->sequences.size()}),
                                               to_python(std::uint64_t{(*tables)->code_tables.size()})});
}

// Every element key of the tables that some choice can load, as a sorted list of str.
PyObject* element_keys(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    if (!parse_arguments({"Tables.element_keys()", {}}, args, kwargs, argv)) return nullptr;
    std::vector<std::string> keys;
    {
        const WithoutGil unlocked;
        keys = unbox<TablesState>(self).provider.element_keys();
    }
    Ref list(PyList_New(static_cast<Py_ssize_t>(keys.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        PyObject* key = new_str(keys[i]);
        if (key == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), key);
    }
    return list.release();
}

PyObject* get_fixed(PyObject* self, void*) { return to_python(unbox<TablesState>(self).provider.is_fixed()); }

// The archive's sources.txt, which says where each version comes from, or None.
PyObject* get_sources(PyObject* self, void*) {
    const TableArchive* archive = unbox<TablesState>(self).provider.archive();
    std::string text;
    if (archive == nullptr || !archive->source().read("sources.txt", text)) return new_none();
    return new_str(text);
}

PyObject* get_label(PyObject* self, void*) {
    const std::optional<std::string_view> label = unbox<TablesState>(self).provider.label();
    if (!label) return new_none();
    return new_str(*label);
}

PyMethodDef tables_methods[] = {
    method<from_archive>(
        "from_archive", kKeywordCall | METH_STATIC,
        "from_archive(path, extra=[])\n--\n\nThe packed tables of an archive file, chosen per message."),
    method<from_definitions>(
        "from_definitions", kKeywordCall | METH_STATIC,
        "from_definitions(root, extra=[])\n--\n\nAn ecCodes definitions root, chosen per message."),
    method<from_eccodes>("from_eccodes", kKeywordCall | METH_STATIC,
                         "from_eccodes(path, extra=[])\n--\n\nOne ecCodes table directory for every message."),
    method<from_bufr4>(
        "from_bufr4", kKeywordCall | METH_STATIC,
        "from_bufr4(path, extra=[])\n--\n\nOne WMO BUFR4 CSV directory (code and flag tables too) for every message."),
    method<from_table_set>("from_table_set", kKeywordCall | METH_STATIC,
                           "from_table_set(tables, extra=[])\n--\n\nA copy of a _corvane.TableSet for every message."),
    method<chosen>("chosen", kKeywordCall,
                   "chosen($self, master_table, master_version, centre, subcentre, local_version)\n--\n\n"
                   "The ChosenTables of one choice; None for a fixed set."),
    method<load>("load", kKeywordCall,
                 "load($self, master_table, master_version, centre, subcentre, local_version)\n--\n\n"
                 "The TableCounts of the set for one choice; ValueError when it cannot load."),
    method<element_keys>("element_keys", kKeywordCall,
                         "element_keys($self)\n--\n\nThe key of every element that some choice can load, sorted."),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef tables_getset[] = {
    attribute<get_fixed>("fixed"),
    attribute<get_label>("label"),
    attribute<get_sources>("sources"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tables_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<TablesState>)},
    {Py_tp_getset, tables_getset},
    {Py_tp_methods, tables_methods},
    {0, nullptr},
};

// The key, name and unit of values named as `value` is, as a new tuple.
PyObject* make_texts(const TableSet& tables, const DecodedValue& value) {
    const ValueLabel label = value_label(tables, value.kind(), value.descriptor, value.name);
    Ref unit(label.unit ? new_str(*label.unit) : new_none());
    if (!unit) return nullptr;
    return Py_BuildValue("(NNO)", new_str(label.key), new_str(label.name), unit.get());
}

}  // namespace

TablesState::~TablesState() {
    const auto release = [](PyObject* object) { Py_DecRef(object); };
    elements.for_each(release);
    for (const auto& [code, texts] : unknown_elements) release(texts);
    meanings.for_each(release);
}

PyObject* new_element_texts(TablesState& owner, const TableSet& tables, const DecodedValue& value) {
    const bool unknown = value.kind() == ValueKind::UnknownLocalElement;
    if (unknown) {
        const auto found = owner.unknown_elements.find(value.descriptor);
        if (found != owner.unknown_elements.end()) return found->second;
    }
    Ref texts(make_texts(tables, value));
    if (!texts) return nullptr;
    if (unknown) {
        owner.unknown_elements.emplace(value.descriptor, texts.get());
    } else {
        owner.elements.insert(value.name, texts.get());
    }
    return texts.release();
}

PyObject* new_meaning_text(TablesState& owner, const std::string* meaning) {
    Ref text(new_str(*meaning));
    if (!text) return nullptr;
    owner.meanings.insert(meaning, text.get());
    return text.release();
}

PyType_Spec tables_spec = {
    "corvane._core.Tables",
    sizeof(Boxed<TablesState>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    tables_slots,
};

}  // namespace corvane::py::core

// value_layout(): which key each value of a subset takes, for encoding from mappings of keys:
// (keys, "#n#key" names, positions of the delayed replication factors).
#include <optional>
#include <string>
#include <vector>

#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "encode/value_layout.hpp"

namespace corvane::py::core {
namespace {

// (master_table, master_version, centre, subcentre, local_version), as section 1 gives them.
bool to_choice(PyObject* object, TableChoice& choice) {
    if (!PyTuple_Check(object) || PyTuple_Size(object) != 5) {
        PyErr_SetString(PyExc_TypeError,
                        "argument 'choice': (master_table, master_version, centre, subcentre, local_version)");
        return false;
    }
    PyObject* fields[5];
    for (Py_ssize_t i = 0; i < 5; ++i) fields[i] = PyTuple_GetItem(object, i);
    return to_table_choice(fields, choice);
}

bool to_counts(PyObject* object, std::vector<std::uint64_t>& out) {
    if (!PyTuple_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "argument 'counts': a tuple of int");
        return false;
    }
    out.resize(static_cast<std::size_t>(PyTuple_Size(object)));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!to_u64(PyTuple_GetItem(object, static_cast<Py_ssize_t>(i)), "counts", out[i])) return false;
    }
    return true;
}

}  // namespace

PyObject* value_layout(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[5];
    std::vector<std::uint32_t> descriptors;
    TableChoice choice;
    std::vector<std::uint64_t> counts;
    std::uint32_t subset = 0;
    if (!parse_arguments({"value_layout()", {"descriptors", "tables", "choice", "counts", "subset"}}, args, kwargs,
                         argv) ||
        !to_code_list(argv[0], "descriptors", descriptors) ||
        !check_instance(argv[1], "tables", types().tables, "Tables") || !to_choice(argv[2], choice) ||
        !to_counts(argv[3], counts) || !to_u32(argv[4], "subset", subset)) {
        return nullptr;
    }
    const TableProvider& provider = unbox<TablesState>(argv[1]).provider;
    std::optional<Result<std::vector<LaidValue>>> laid;
    {
        const WithoutGil unlocked;
        const Result<TableSet>& tables = provider.get(choice);
        if (tables) {
            laid.emplace(value_layout(*tables, descriptors, counts, subset));
        } else {
            laid.emplace(tables.error());
        }
    }
    if (!*laid) {
        const BufrError& error = laid->error();
        if (error.kind() != ErrorKind::BadArgument) return raise_error(provider.explain(choice, error));
        PyErr_SetString(PyExc_ValueError, error.text().c_str());
        return nullptr;
    }
    const std::vector<LaidValue>& values = **laid;
    const auto size = static_cast<Py_ssize_t>(values.size());
    Ref keys(PyList_New(size)), names(PyList_New(size)), factors(PyList_New(0));
    if (!keys || !names || !factors) return nullptr;
    for (Py_ssize_t i = 0; i < size; ++i) {
        const LaidValue& value = values[static_cast<std::size_t>(i)];
        PyObject* key = new_str(value.key);
        if (key == nullptr) return nullptr;
        PyList_SetItem(keys.get(), i, key);
        PyObject* name = new_str("#" + std::to_string(value.rank) + "#" + value.key);
        if (name == nullptr) return nullptr;
        PyList_SetItem(names.get(), i, name);
        if (value.factor) {
            const Ref at(PyLong_FromSsize_t(i));
            if (!at || PyList_Append(factors.get(), at.get()) != 0) return nullptr;
        }
    }
    return PyTuple_Pack(3, keys.get(), names.get(), factors.get());
}

}  // namespace corvane::py::core

// The module functions: finding messages, reading their sections and decoding their data.
#include <optional>

#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "data/decoder.hpp"
#include "message/message.hpp"

namespace corvane::py::core {
namespace {

// The bytes of one message, named by its offset and length in `data`; false with ValueError
// when they do not lie inside it.
bool message_argument(const char* display_name, PyObject* args, PyObject* kwargs, PyObject** argv,
                      std::initializer_list<const char*> parameters, std::span<const std::uint8_t>& bytes) {
    std::span<const std::uint8_t> data;
    std::uint64_t offset, length;
    if (!parse_arguments({display_name, parameters}, args, kwargs, argv) || !to_bytes_view(argv[0], "data", data) ||
        !to_u64(argv[1], "offset", offset) || !to_u64(argv[2], "length", length)) {
        return false;
    }
    if (offset > data.size() || length > data.size() - offset) {
        PyErr_SetString(PyExc_ValueError, "the message range lies outside the data");
        return false;
    }
    bytes = data.subspan(offset, length);
    return true;
}

// The section metadata that the package's Message reads, as one tuple.
PyObject* metadata_tuple(const BufrMessage& m) {
    Ref descriptors(to_python(m.unexpanded_descriptors));
    if (!descriptors) return nullptr;
    return Py_BuildValue("(iiiiiiiiiNOiiiiii)", m.edition, m.master_table_number, m.originating_centre,
                         m.originating_subcentre, m.master_tables_version_number, m.local_tables_version_number,
                         m.data_category, m.number_of_subsets, static_cast<int>(m.observed_data),
                         PyBool_FromLong(m.compressed_data ? 1 : 0), descriptors.get(),
                         m.typical_year, m.typical_month, m.typical_day, m.typical_hour, m.typical_minute,
                         m.typical_second);
}

}  // namespace

PyObject* scan(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::span<const std::uint8_t> data;
    if (!parse_arguments({"scan()", {"data"}}, args, kwargs, argv) || !to_bytes_view(argv[0], "data", data)) {
        return nullptr;
    }
    const std::vector<ScannedMessage> found = scan_messages(data);
    Ref list(PyList_New(static_cast<Py_ssize_t>(found.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const ScannedMessage& entry = found[i];
        Ref error(entry.error ? new_str(entry.error->render()) : new_none());
        if (!error) return nullptr;
        PyObject* item = Py_BuildValue("(KKO)", static_cast<unsigned long long>(entry.range.offset),
                                       static_cast<unsigned long long>(entry.range.length), error.get());
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[3];
    std::span<const std::uint8_t> bytes;
    if (!message_argument("parse()", args, kwargs, argv, {"data", "offset", "length"}, bytes)) return nullptr;
    Result<BufrMessage> parsed = parse_any_edition(bytes);
    if (!parsed) return raise_error(parsed.error());
    return metadata_tuple(*parsed);
}

PyObject* decode(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[4];
    std::span<const std::uint8_t> bytes;
    if (!message_argument("decode()", args, kwargs, argv, {"data", "offset", "length", "tables"}, bytes) ||
        !check_instance(argv[3], "tables", types().tables, "Tables")) {
        return nullptr;
    }
    Result<BufrMessage> parsed = parse_any_edition(bytes);
    if (!parsed) return raise_error(parsed.error());
    const TableProvider& provider = unbox<TablesState>(argv[3]).provider;
    const TableChoice choice = TableChoice::of(*parsed);
    const Result<TableSet>* tables = provider.find(choice);
    if (tables == nullptr) {
        // Loading touches no Python object: let other threads run meanwhile.
        const WithoutGil unlocked;
        tables = &provider.get(choice);
    }
    if (!*tables) return raise_error(tables->error());
    std::optional<Result<DecodedValues>> values;
    {
        const WithoutGil unlocked;
        values.emplace(decode_uncompressed_values(*parsed, **tables, parsed->section4_data(bytes), kPackageDecodeOptions));
    }
    if (!*values) return raise_error(provider.explain(choice, values->error()));
    PyObject* metadata = metadata_tuple(*parsed);
    if (metadata == nullptr) return nullptr;
    return new_decoded(metadata, std::move(*values).value(), argv[3], **tables);
}

}  // namespace corvane::py::core

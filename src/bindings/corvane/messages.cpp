// The module functions: finding messages, reading their sections and decoding their data.
#include <optional>

#include "bindings/corvane/records.hpp"
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
    if (!parse_arguments({display_name, parameters}, args, kwargs, argv) || !to_data(argv[0], "data", data) ||
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

// The section metadata that the package's Message reads, as one MessageMetadata.
PyObject* metadata_record(const BufrMessage& m, std::span<const std::uint8_t> bytes) {
    const std::span<const std::uint8_t> local = m.section2_data(bytes);
    PyObject* section2 = m.local_section_present
                             ? PyBytes_FromStringAndSize(reinterpret_cast<const char*>(local.data()),
                                                         static_cast<Py_ssize_t>(local.size()))
                             : new_none();
    return new_record(records().message_metadata, {to_python(m.edition),
                                                   to_python(m.master_table_number),
                                                   to_python(m.originating_centre),
                                                   to_python(m.originating_subcentre),
                                                   to_python(m.master_tables_version_number),
                                                   to_python(m.local_tables_version_number),
                                                   to_python(m.data_category),
                                                   to_python(m.number_of_subsets),
                                                   to_python(m.observed_data),
                                                   to_python(m.compressed_data),
                                                   to_python(m.unexpanded_descriptors),
                                                   to_python(m.typical_year),
                                                   to_python(m.typical_month),
                                                   to_python(m.typical_day),
                                                   to_python(m.typical_hour),
                                                   to_python(m.typical_minute),
                                                   to_python(m.typical_second),
                                                   to_python(m.international_data_subcategory),
                                                   to_python(m.local_data_subcategory),
                                                   to_python(m.update_sequence_number),
                                                   section2});
}

}  // namespace

PyObject* scan(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::span<const std::uint8_t> data;
    if (!parse_arguments({"scan()", {"data"}}, args, kwargs, argv) || !to_data(argv[0], "data", data)) {
        return nullptr;
    }
    const std::vector<ScannedMessage> found = scan_messages(data);
    std::vector<Entry> entries(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        entries[i].index = i;
        entries[i].offset = found[i].range.offset;
        entries[i].length = found[i].range.length;
        if (found[i].error) entries[i].error = found[i].error->render();
    }
    return new_message_entries(std::move(entries));
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[3];
    std::span<const std::uint8_t> bytes;
    if (!message_argument("parse()", args, kwargs, argv, {"data", "offset", "length"}, bytes)) return nullptr;
    Result<BufrMessage> parsed = parse_any_edition(bytes);
    if (!parsed) return raise_error(parsed.error());
    return metadata_record(*parsed, bytes);
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
        values.emplace(
            decode_uncompressed_values(*parsed, **tables, parsed->section4_data(bytes), kPackageDecodeOptions));
    }
    if (!*values) return raise_error(provider.explain(choice, values->error()));
    PyObject* metadata = metadata_record(*parsed, bytes);
    if (metadata == nullptr) return nullptr;
    return new_decoded(metadata, std::move(*values).value(), argv[3], **tables);
}

}  // namespace corvane::py::core

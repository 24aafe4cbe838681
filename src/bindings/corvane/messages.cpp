// The module functions: finding messages, reading their sections and decoding their data.
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// The header fields that parse_all() gives, each a column of int64 over the messages, in the
// order of header_fields().
constexpr std::array<const char*, 24> kHeaderNames = {
    "index",
    "offset",
    "length",
    "edition",
    "master_table",
    "centre",
    "subcentre",
    "update_sequence",
    "data_category",
    "international_subcategory",
    "local_subcategory",
    "master_version",
    "local_version",
    "year",
    "month",
    "day",
    "hour",
    "minute",
    "second",
    "subsets",
    "observed",
    "compressed",
    "section2_present",
    "valid",
};

std::array<std::int64_t, kHeaderNames.size()> header_fields(const Entry& entry, const BufrMessage* m) {
    const auto i = [](auto value) { return static_cast<std::int64_t>(value); };
    if (m == nullptr) return {i(entry.index), i(entry.offset), i(entry.length)};
    return {i(entry.index),
            i(entry.offset),
            i(entry.length),
            i(m->edition),
            i(m->master_table_number),
            i(m->originating_centre),
            i(m->originating_subcentre),
            i(m->update_sequence_number),
            i(m->data_category),
            i(m->international_data_subcategory),
            i(m->local_data_subcategory),
            i(m->master_tables_version_number),
            i(m->local_tables_version_number),
            i(m->typical_year),
            i(m->typical_month),
            i(m->typical_day),
            i(m->typical_hour),
            i(m->typical_minute),
            i(m->typical_second),
            i(m->number_of_subsets),
            i(m->observed_data),
            i(m->compressed_data),
            i(m->local_section_present),
            1};
}

// The dict that parse_all() returns: a bytes object of native int64 per field, and "errors",
// the (position, text) of each message whose sections cannot be read.
PyObject* header_columns(const std::vector<std::int64_t>& cells, std::size_t count,
                         const std::vector<std::pair<std::size_t, std::string>>& errors) {
    Ref result(PyDict_New());
    if (!result) return nullptr;
    std::vector<std::int64_t> column(count);
    for (std::size_t field = 0; field < kHeaderNames.size(); ++field) {
        for (std::size_t row = 0; row < count; ++row) column[row] = cells[row * kHeaderNames.size() + field];
        Ref bytes(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(column.data()),
                                            static_cast<Py_ssize_t>(count * sizeof(std::int64_t))));
        if (!bytes || PyDict_SetItemString(result.get(), kHeaderNames[field], bytes.get()) != 0) return nullptr;
    }
    Ref failed(PyList_New(0));
    if (!failed || PyDict_SetItemString(result.get(), "errors", failed.get()) != 0) return nullptr;
    for (const auto& [position, text] : errors) {
        Ref pair(Py_BuildValue("(nN)", static_cast<Py_ssize_t>(position), new_str(text)));
        if (!pair || PyList_Append(failed.get(), pair.get()) != 0) return nullptr;
    }
    return result.release();
}

std::vector<Entry> entries_of(const std::vector<ScannedMessage>& found) {
    std::vector<Entry> entries(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        entries[i].index = i;
        entries[i].offset = found[i].range.offset;
        entries[i].length = found[i].range.length;
        if (found[i].error) entries[i].error = found[i].error->render();
    }
    return entries;
}

}  // namespace

PyObject* scan(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    std::uint64_t stream_offset = 0;
    if (!parse_arguments({"scan()", {"data", "stream_offset"}, 1}, args, kwargs, argv) ||
        !to_data(argv[0], "data", data) || (argv[1] && !to_u64(argv[1], "stream_offset", stream_offset))) {
        return nullptr;
    }
    return new_message_entries(entries_of(scan_messages(data, stream_offset)));
}

PyObject* scan_window(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    std::uint64_t stream_offset = 0;
    if (!parse_arguments({"scan_window()", {"data", "stream_offset"}}, args, kwargs, argv) ||
        !to_data(argv[0], "data", data) || !to_u64(argv[1], "stream_offset", stream_offset)) {
        return nullptr;
    }
    ScannedPrefix prefix = scan_complete_messages(data, stream_offset);
    Ref entries(new_message_entries(entries_of(prefix.messages)));
    if (!entries) return nullptr;
    return Py_BuildValue("(On)", entries.get(), static_cast<Py_ssize_t>(prefix.resume));
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[3];
    std::span<const std::uint8_t> bytes;
    if (!message_argument("parse()", args, kwargs, argv, {"data", "offset", "length"}, bytes)) return nullptr;
    Result<BufrMessage> parsed = parse_any_edition(bytes);
    if (!parsed) return raise_error(parsed.error());
    return metadata_record(*parsed, bytes);
}

PyObject* parse_all(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[2];
    std::span<const std::uint8_t> data;
    std::vector<Entry> entries;
    if (!parse_arguments({"parse_all()", {"data", "entries"}}, args, kwargs, argv) || !to_data(argv[0], "data", data) ||
        !to_entries(argv[1], data.size(), entries)) {
        return nullptr;
    }
    std::vector<std::int64_t> cells;
    std::vector<std::pair<std::size_t, std::string>> errors;
    {
        // Only bytes and plain vectors are touched: other threads run meanwhile.
        const WithoutGil unlocked;
        cells.reserve(entries.size() * kHeaderNames.size());
        for (std::size_t row = 0; row < entries.size(); ++row) {
            const Entry& entry = entries[row];
            std::optional<Result<BufrMessage>> parsed;
            if (entry.error) {
                errors.emplace_back(row, *entry.error);
            } else {
                parsed.emplace(parse_any_edition(data.subspan(entry.offset, entry.length)));
                if (!*parsed) errors.emplace_back(row, parsed->error().render(Wording::ByKind));
            }
            const BufrMessage* message = parsed && *parsed ? &**parsed : nullptr;
            const auto fields = header_fields(entry, message);
            cells.insert(cells.end(), fields.begin(), fields.end());
        }
    }
    return header_columns(cells, entries.size(), errors);
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

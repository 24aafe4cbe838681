// The decode functions: each decodes the first message of its data.
#include <string>

#include "bindings/_corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "data/decoder.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/eccodes_loader.hpp"

namespace corvane::py {
namespace {

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
        !to_bytes_view(argv[0], "data", data) || !check_instance(argv[1], "tables", types().table_set, "TableSet")) {
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

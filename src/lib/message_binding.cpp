#include <string>

#include "lib/bindings.hpp"
#include "lib/support.hpp"
#include "files/files.hpp"

namespace corvane::py {
namespace {

using Message = Boxed<BufrMessage>;

template <auto Member>
PyObject* get(PyObject* self, void* closure) {
    return field_getter<BufrMessage, Member>(self, closure);
}

PyGetSetDef message_getset[] = {
    {"total_length", get<&BufrMessage::total_length>, nullptr, nullptr, nullptr},
    {"edition", get<&BufrMessage::edition>, nullptr, nullptr, nullptr},
    {"section1_length", get<&BufrMessage::section1_length>, nullptr, nullptr, nullptr},
    {"master_table_number", get<&BufrMessage::master_table_number>, nullptr, nullptr, nullptr},
    {"originating_centre", get<&BufrMessage::originating_centre>, nullptr, nullptr, nullptr},
    {"originating_subcentre", get<&BufrMessage::originating_subcentre>, nullptr, nullptr, nullptr},
    {"update_sequence_number", get<&BufrMessage::update_sequence_number>, nullptr, nullptr, nullptr},
    {"local_section_present", get<&BufrMessage::local_section_present>, nullptr, nullptr, nullptr},
    {"data_category", get<&BufrMessage::data_category>, nullptr, nullptr, nullptr},
    {"international_data_subcategory", get<&BufrMessage::international_data_subcategory>, nullptr, nullptr, nullptr},
    {"local_data_subcategory", get<&BufrMessage::local_data_subcategory>, nullptr, nullptr, nullptr},
    {"master_tables_version_number", get<&BufrMessage::master_tables_version_number>, nullptr, nullptr, nullptr},
    {"local_tables_version_number", get<&BufrMessage::local_tables_version_number>, nullptr, nullptr, nullptr},
    {"typical_year", get<&BufrMessage::typical_year>, nullptr, nullptr, nullptr},
    {"typical_month", get<&BufrMessage::typical_month>, nullptr, nullptr, nullptr},
    {"typical_day", get<&BufrMessage::typical_day>, nullptr, nullptr, nullptr},
    {"typical_hour", get<&BufrMessage::typical_hour>, nullptr, nullptr, nullptr},
    {"typical_minute", get<&BufrMessage::typical_minute>, nullptr, nullptr, nullptr},
    {"typical_second", get<&BufrMessage::typical_second>, nullptr, nullptr, nullptr},
    {"section2_length", get<&BufrMessage::section2_length>, nullptr, nullptr, nullptr},
    {"section3_length", get<&BufrMessage::section3_length>, nullptr, nullptr, nullptr},
    {"number_of_subsets", get<&BufrMessage::number_of_subsets>, nullptr, nullptr, nullptr},
    {"observed_data", get<&BufrMessage::observed_data>, nullptr, nullptr, nullptr},
    {"compressed_data", get<&BufrMessage::compressed_data>, nullptr, nullptr, nullptr},
    {"unexpanded_descriptors", get<&BufrMessage::unexpanded_descriptors>, nullptr, nullptr, nullptr},
    {"section4_length", get<&BufrMessage::section4_length>, nullptr, nullptr, nullptr},
    {"section4_data_offset", get<&BufrMessage::section4_data_offset>, nullptr, nullptr, nullptr},
    {"section4_data_length", get<&BufrMessage::section4_data_length>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* message_repr(PyObject* self) {
    const BufrMessage& message = unbox<BufrMessage>(self);
    std::string text = "BufrMessage(edition=" + std::to_string(message.edition) +
                       ", length=" + std::to_string(message.total_length) +
                       ", subsets=" + std::to_string(message.number_of_subsets) + ", descriptors=[";
    for (std::size_t i = 0; i < message.unexpanded_descriptors.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(message.unexpanded_descriptors[i]);
    }
    text += "])";
    return new_str(text);
}

PyType_Slot message_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<BufrMessage>)},
    {Py_tp_repr, reinterpret_cast<void*>(message_repr)},
    {Py_tp_getset, message_getset},
    {0, nullptr},
};

PyObject* message_list(std::span<const std::uint8_t> buffer) {
    auto ranges = split_messages(buffer);
    if (!ranges) return raise_error(ranges.error());
    std::vector<BufrMessage> messages;
    messages.reserve(ranges->size());
    for (const ByteRange& range : *ranges) {
        auto message = parse_message(buffer.subspan(range.offset, range.length));
        if (!message) return raise_error(message.error());
        messages.push_back(std::move(message).value());
    }
    Ref list(PyList_New(static_cast<Py_ssize_t>(messages.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        PyObject* item = new_message(std::move(messages[i]));
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* single_message(std::span<const std::uint8_t> buffer) {
    auto message = parse_message(buffer);
    if (!message) return raise_error(message.error());
    return new_message(std::move(message).value());
}

// Converts the one argument and runs `parse` on the bytes it names.
template <class Parse>
PyObject* from_bytes_argument(const char* display_name, PyObject* args, PyObject* kwargs, Parse parse) {
    PyObject* argv[1];
    if (!parse_arguments({display_name, {"data"}}, args, kwargs, argv)) return nullptr;
    std::span<const std::uint8_t> data;
    if (!to_bytes_view(argv[0], "data", data)) return nullptr;
    return parse(data);
}

template <class Parse>
PyObject* from_path_argument(const char* display_name, PyObject* args, PyObject* kwargs, Parse parse) {
    PyObject* argv[1];
    if (!parse_arguments({display_name, {"path"}}, args, kwargs, argv)) return nullptr;
    std::string path;
    if (!to_path_text(argv[0], "path", path)) return nullptr;
    auto bytes = read_whole_file(path);
    if (!bytes) return raise_os_error(bytes.error());
    return parse(std::span<const std::uint8_t>(*bytes));
}

}  // namespace

PyType_Spec message_spec = {
    "builtins.BufrMessage",
    sizeof(Message),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    message_slots,
};

PyObject* new_message(BufrMessage message) { return box(types().message, std::move(message)); }

PyObject* parse_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_bytes_argument("parse_bytes()", args, kwargs, single_message);
}

PyObject* parse_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path_argument("parse_file()", args, kwargs, single_message);
}

PyObject* parse_all_bytes(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_bytes_argument("parse_all_bytes()", args, kwargs, message_list);
}

PyObject* parse_all_file(PyObject*, PyObject* args, PyObject* kwargs) {
    return from_path_argument("parse_all_file()", args, kwargs, message_list);
}

}  // namespace corvane::py

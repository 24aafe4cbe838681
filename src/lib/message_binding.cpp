#include <string>

#include "lib/bindings.hpp"
#include "lib/support.hpp"
#include "files/files.hpp"

namespace corvane::py {
namespace {

using Message = Boxed<BufrMessage>;

template <auto Member>
PyGetSetDef get(const char* name) {
    return attribute<field_getter<BufrMessage, Member>>(name);
}

PyGetSetDef message_getset[] = {
    get<&BufrMessage::total_length>("total_length"),
    get<&BufrMessage::edition>("edition"),
    get<&BufrMessage::section1_length>("section1_length"),
    get<&BufrMessage::master_table_number>("master_table_number"),
    get<&BufrMessage::originating_centre>("originating_centre"),
    get<&BufrMessage::originating_subcentre>("originating_subcentre"),
    get<&BufrMessage::update_sequence_number>("update_sequence_number"),
    get<&BufrMessage::local_section_present>("local_section_present"),
    get<&BufrMessage::data_category>("data_category"),
    get<&BufrMessage::international_data_subcategory>("international_data_subcategory"),
    get<&BufrMessage::local_data_subcategory>("local_data_subcategory"),
    get<&BufrMessage::master_tables_version_number>("master_tables_version_number"),
    get<&BufrMessage::local_tables_version_number>("local_tables_version_number"),
    get<&BufrMessage::typical_year>("typical_year"),
    get<&BufrMessage::typical_month>("typical_month"),
    get<&BufrMessage::typical_day>("typical_day"),
    get<&BufrMessage::typical_hour>("typical_hour"),
    get<&BufrMessage::typical_minute>("typical_minute"),
    get<&BufrMessage::typical_second>("typical_second"),
    get<&BufrMessage::section2_length>("section2_length"),
    get<&BufrMessage::section3_length>("section3_length"),
    get<&BufrMessage::number_of_subsets>("number_of_subsets"),
    get<&BufrMessage::observed_data>("observed_data"),
    get<&BufrMessage::compressed_data>("compressed_data"),
    get<&BufrMessage::unexpanded_descriptors>("unexpanded_descriptors"),
    get<&BufrMessage::section4_length>("section4_length"),
    get<&BufrMessage::section4_data_offset>("section4_data_offset"),
    get<&BufrMessage::section4_data_length>("section4_data_length"),
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
    {Py_tp_repr, slot_function<message_repr>()},
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

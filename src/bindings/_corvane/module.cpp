// Module entry: registers the classes and functions in their fixed order.
#include "bindings/_corvane/types.hpp"
#include "bindings/support/support.hpp"

namespace corvane::py {
namespace {

PyMethodDef module_functions[] = {
    method<parse_bytes>("parse_bytes", kKeywordCall, "parse_bytes(data)\n--\n\n"),
    method<parse_file>("parse_file", kKeywordCall, "parse_file(path)\n--\n\n"),
    method<parse_all_bytes>("parse_all_bytes", kKeywordCall, "parse_all_bytes(data)\n--\n\n"),
    method<parse_all_file>("parse_all_file", kKeywordCall, "parse_all_file(path)\n--\n\n"),
    method<expand_descriptors>("expand_descriptors", kKeywordCall,
                               "expand_descriptors(table_dir, descriptors)\n--\n\n"),
    method<decode_values>("decode_values", kKeywordCall, "decode_values(data, table_dir)\n--\n\n"),
    method<decode_values_with_tables>("decode_values_with_tables", kKeywordCall,
                                      "decode_values_with_tables(data, tables)\n--\n\n"),
    method<decode_values_with_definitions>("decode_values_with_definitions", kKeywordCall,
                                           "decode_values_with_definitions(data, definitions_root)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_corvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* init_module() {
    Types& cache = types();
    return create_module(module_definition,
                         {{message_spec, "BufrMessage", cache.message},
                          {decoded_value_spec, "DecodedValue", cache.decoded_value},
                          {descriptor_spec, "Descriptor", cache.descriptor},
                          {element_spec, "ElementDefinition", cache.element},
                          {sequence_spec, "SequenceDefinition", cache.sequence},
                          {table_set_spec, "TableSet", cache.table_set}},
                         module_functions);
}

}  // namespace

Types& types() {
    static Types cache;
    return cache;
}

}  // namespace corvane::py

PyMODINIT_FUNC PyInit__corvane() { return corvane::py::guarded<corvane::py::init_module>(); }

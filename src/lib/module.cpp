// Module entry: registers the classes and functions in their fixed order.
#include "lib/bindings.hpp"
#include "lib/support.hpp"

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

// The class objects are process-wide, so the module may live in one interpreter only.
bool claim_interpreter() {
    static std::int64_t owner = -1;
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (owner == -1) owner = current;
    if (owner == current) return true;
    PyErr_SetString(PyExc_ImportError, "_corvane can be imported in one interpreter per process only");
    return false;
}

bool add_class(PyObject* module, PyType_Spec& spec, const char* name, PyTypeObject*& cached) {
    if (cached == nullptr) {
        cached = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
        if (cached == nullptr) return false;
    }
    Py_IncRef(reinterpret_cast<PyObject*>(cached));
    if (PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(cached)) != 0) {
        Py_DecRef(reinterpret_cast<PyObject*>(cached));
        return false;
    }
    return true;
}

PyObject* init_module() {
    if (!claim_interpreter()) return nullptr;
    Ref module(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    Types& cache = types();
    if (!add_class(module.get(), message_spec, "BufrMessage", cache.message) ||
        !add_class(module.get(), decoded_value_spec, "DecodedValue", cache.decoded_value) ||
        !add_class(module.get(), descriptor_spec, "Descriptor", cache.descriptor) ||
        !add_class(module.get(), element_spec, "ElementDefinition", cache.element) ||
        !add_class(module.get(), sequence_spec, "SequenceDefinition", cache.sequence) ||
        !add_class(module.get(), table_set_spec, "TableSet", cache.table_set) ||
        PyModule_AddFunctions(module.get(), module_functions) != 0) {
        return nullptr;
    }
    return module.release();
}

}  // namespace

Types& types() {
    static Types cache;
    return cache;
}

}  // namespace corvane::py

PyMODINIT_FUNC PyInit__corvane() { return corvane::py::guarded<corvane::py::init_module>(); }

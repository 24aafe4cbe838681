// Module entry of corvane._core.
#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"

namespace corvane::py::core {
namespace {

PyMethodDef module_functions[] = {
    method<scan>("scan", kKeywordCall,
                 "scan(data)\n--\n\nEvery message marker of data as (offset, length, error or None)."),
    method<parse>("parse", kKeywordCall,
                  "parse(data, offset, length)\n--\n\nThe section metadata of one message of edition 2, 3 or 4."),
    method<decode>("decode", kKeywordCall,
                   "decode(data, offset, length, tables)\n--\n\nThe decoded data of one message, as Decoded."),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "corvane._core", "The native core of the corvane package.", 0, nullptr, nullptr, nullptr,
    nullptr, nullptr,
};

PyObject* init_module() {
    Types& cache = types();
    return create_module(module_definition,
                         {{tables_spec, "Tables", cache.tables},
                          {decoded_spec, "Decoded", cache.decoded},
                          {value_spec, "Value", cache.value}},
                         module_functions);
}

}  // namespace

Types& types() {
    static Types cache;
    return cache;
}

}  // namespace corvane::py::core

PyMODINIT_FUNC PyInit__core() { return corvane::py::guarded<corvane::py::core::init_module>(); }

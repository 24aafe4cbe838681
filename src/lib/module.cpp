// Module entry: registers the classes and functions in their fixed order.
#include "lib/bindings.hpp"
#include "lib/support.hpp"

namespace corvane::py {
namespace {

template <class Function>
PyCFunction as_cfunction(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kKeywordCall = METH_VARARGS | METH_KEYWORDS;

PyMethodDef module_functions[] = {
    {"parse_bytes", as_cfunction(parse_bytes), kKeywordCall, "parse_bytes(data)\n--\n\n"},
    {"parse_file", as_cfunction(parse_file), kKeywordCall, "parse_file(path)\n--\n\n"},
    {"parse_all_bytes", as_cfunction(parse_all_bytes), kKeywordCall, "parse_all_bytes(data)\n--\n\n"},
    {"parse_all_file", as_cfunction(parse_all_file), kKeywordCall, "parse_all_file(path)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_corvane", "", 0, module_functions, nullptr, nullptr, nullptr, nullptr,
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
    Py_INCREF(cached);
    if (PyModule_AddObject(module, name, reinterpret_cast<PyObject*>(cached)) != 0) {
        Py_DECREF(cached);
        return false;
    }
    return true;
}

}  // namespace

Types& types() {
    static Types cache;
    return cache;
}

}  // namespace corvane::py

PyMODINIT_FUNC PyInit__corvane() {
    using namespace corvane::py;
    if (!claim_interpreter()) return nullptr;
    Ref module(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    Types& cache = types();
    if (!add_class(module.get(), message_spec, "BufrMessage", cache.message) ||
        !add_class(module.get(), descriptor_spec, "Descriptor", cache.descriptor)) {
        return nullptr;
    }
    return module.release();
}

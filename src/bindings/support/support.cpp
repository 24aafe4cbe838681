#include "bindings/support/support.hpp"

#include <algorithm>
#include <exception>

namespace corvane::py {
namespace {

std::string type_name_of(PyObject* object) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (!name) {
        PyErr_Clear();
        return "?";
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (text == nullptr) {
        PyErr_Clear();
        return "?";
    }
    return std::string(text, static_cast<std::size_t>(size));
}

void raise_argument_type(PyObject* object, const char* name, const char* expected) {
    const std::string message = std::string("argument '") + name + "': '" + type_name_of(object) +
                                "' object cannot be cast as '" + expected + "'";
    PyErr_SetString(PyExc_TypeError, message.c_str());
}

// Re-raises the pending TypeError/OverflowError with the argument's name in front.
void prefix_pending_error(const char* name) {
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref owned_type(type), owned_value(value), owned_traceback(traceback);
    std::string cause = "?";
    if (value != nullptr) {
        Ref text(PyObject_Str(value));
        Py_ssize_t size = 0;
        const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
        if (utf8 != nullptr) cause.assign(utf8, static_cast<std::size_t>(size));
        PyErr_Clear();
    }
    PyObject* kind = type != nullptr && PyErr_GivenExceptionMatches(type, PyExc_OverflowError) ? PyExc_OverflowError
                                                                                               : PyExc_TypeError;
    PyErr_SetString(kind, (std::string("argument '") + name + "': " + cause).c_str());
}

void raise_out_of_range(const char* name) {
    PyErr_SetString(PyExc_OverflowError,
                    (std::string("argument '") + name + "': out of range integral type conversion attempted").c_str());
}

// Integers no wider than a C long, as an index object; false with a prefixed error otherwise.
bool to_bounded(PyObject* object, const char* name, unsigned long max, unsigned long& out) {
    Ref index(PyNumber_Index(object));
    if (!index) {
        prefix_pending_error(name);
        return false;
    }
    const long value = PyLong_AsLong(index.get());
    if (value == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        raise_out_of_range(name);
        return false;
    }
    if (value < 0 || static_cast<unsigned long>(value) > max) {
        raise_out_of_range(name);
        return false;
    }
    out = static_cast<unsigned long>(value);
    return true;
}

std::string quoted_names(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += std::string("'") + names[i] + "'";
    }
    return text;
}

bool claim_interpreter(const char* module_name) {
    static std::int64_t owner = -1;
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (owner == -1) owner = current;
    if (owner == current) return true;
    PyErr_Format(PyExc_ImportError, "%s can be imported in one interpreter per process only", module_name);
    return false;
}

bool add_class(PyObject* module, const ModuleClass& entry) {
    if (entry.cached == nullptr) {
        entry.cached = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&entry.spec));
        if (entry.cached == nullptr) return false;
    }
    Py_IncRef(reinterpret_cast<PyObject*>(entry.cached));
    if (PyModule_AddObject(module, entry.name, reinterpret_cast<PyObject*>(entry.cached)) != 0) {
        Py_DecRef(reinterpret_cast<PyObject*>(entry.cached));
        return false;
    }
    return true;
}

}  // namespace

bool parse_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out) {
    const std::size_t count = signature.parameters.size();
    const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
    if (static_cast<std::size_t>(given) > count) {
        const std::string message = std::string(signature.display_name) + " takes " + std::to_string(count) +
                                    " positional arguments but " + std::to_string(given) +
                                    (given == 1 ? " was" : " were") + " given";
        PyErr_SetString(PyExc_TypeError, message.c_str());
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<Py_ssize_t>(i) < given ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr;
    }
    if (kwargs != nullptr) {
        PyObject* key;
        PyObject* value;
        Py_ssize_t position = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const char* key_text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, nullptr) : nullptr;
            if (key_text == nullptr) {
                PyErr_Clear();
                PyErr_SetString(PyExc_TypeError,
                                (std::string(signature.display_name) + " keywords must be strings").c_str());
                return false;
            }
            std::size_t slot = 0;
            for (const char* parameter : signature.parameters) {
                if (std::string_view(parameter) == key_text) break;
                ++slot;
            }
            if (slot == count) {
                PyErr_SetString(PyExc_TypeError, (std::string(signature.display_name) +
                                                  " got an unexpected keyword argument '" + key_text + "'")
                                                     .c_str());
                return false;
            }
            if (out[slot] != nullptr) {
                PyErr_SetString(PyExc_TypeError, (std::string(signature.display_name) +
                                                  " got multiple values for argument '" + key_text + "'")
                                                     .c_str());
                return false;
            }
            out[slot] = value;
        }
    }
    std::vector<const char*> missing;
    std::size_t i = 0;
    for (const char* parameter : signature.parameters) {
        if (out[i] == nullptr && i < count - signature.optional) missing.push_back(parameter);
        ++i;
    }
    if (!missing.empty()) {
        const std::string message = std::string(signature.display_name) + " missing " + std::to_string(missing.size()) +
                                    " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                                    quoted_names(missing);
        PyErr_SetString(PyExc_TypeError, message.c_str());
        return false;
    }
    return true;
}

bool to_bytes_view(PyObject* object, const char* name, std::span<const std::uint8_t>& out) {
    if (!PyBytes_Check(object)) {
        raise_argument_type(object, name, "bytes");
        return false;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &data, &size) != 0) return false;
    out = {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
    return true;
}

bool to_path_text(PyObject* object, const char* name, std::string& out) {
    if (!PyUnicode_Check(object)) {
        raise_argument_type(object, name, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) {
        prefix_pending_error(name);
        return false;
    }
    out.assign(text, static_cast<std::size_t>(size));
    // The operating system would see only the text before a NUL: refuse it, as open() does.
    if (out.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        return false;
    }
    return true;
}

bool to_u8(PyObject* object, const char* name, std::uint8_t& out) {
    unsigned long value;
    if (!to_bounded(object, name, UINT8_MAX, value)) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool to_u32(PyObject* object, const char* name, std::uint32_t& out) {
    unsigned long value;
    if (!to_bounded(object, name, UINT32_MAX, value)) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool to_u64(PyObject* object, const char* name, std::uint64_t& out) {
    Ref index(PyNumber_Index(object));
    if (!index) {
        prefix_pending_error(name);
        return false;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        prefix_pending_error(name);
        return false;
    }
    out = value;
    return true;
}

bool to_code_list(PyObject* object, const char* name, std::vector<std::uint32_t>& out) {
    if (PyUnicode_Check(object)) {
        // A str passes the sequence check, but its items are characters, never codes.
        PyErr_SetString(PyExc_TypeError, (std::string("argument '") + name +
                                          "': a str is not a list of descriptor codes; pass a list of int, "
                                          "such as [307080]")
                                             .c_str());
        return false;
    }
    if (!PySequence_Check(object)) {
        raise_argument_type(object, name, "Sequence");
        return false;
    }
    Ref iterator(PyObject_GetIter(object));
    if (!iterator) {
        prefix_pending_error(name);
        return false;
    }
    // The length is only the object's claim: trust it for one allocation of modest size and let
    // the items themselves grow the list past that.
    const Py_ssize_t hint = PySequence_Size(object);
    if (hint > 0) out.reserve(std::min<std::size_t>(static_cast<std::size_t>(hint), 1 << 16));
    if (hint < 0) PyErr_Clear();
    while (Ref item{PyIter_Next(iterator.get())}) {
        std::uint32_t code;
        if (!to_u32(item.get(), name, code)) return false;
        out.push_back(code);
    }
    if (PyErr_Occurred()) {
        prefix_pending_error(name);
        return false;
    }
    return true;
}

bool check_instance(PyObject* object, const char* name, PyTypeObject* type, const char* type_name) {
    if (Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type)) return true;
    raise_argument_type(object, name, type_name);
    return false;
}

PyObject* raise_error(const BufrError& error, Wording wording) {
    if (error.kind() == ErrorKind::NotRegularFile) return raise_os_error(error);
    PyErr_SetString(PyExc_ValueError, error.render(wording).c_str());
    return nullptr;
}

PyObject* raise_os_error(const BufrError& error) {
    Ref text(new_str(error.text()));
    if (text) PyErr_SetObject(PyExc_OSError, text.get());
    return nullptr;
}

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& exception) {
        // Formatted by the interpreter: building the text here could throw again.
        PyErr_Format(PyExc_RuntimeError, "internal error: %s", exception.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "internal error: unknown exception");
    }
}

PyObject* create_module(PyModuleDef& definition, std::initializer_list<ModuleClass> classes, PyMethodDef* functions) {
    if (!claim_interpreter(definition.m_name)) return nullptr;
    Ref module(PyModule_Create(&definition));
    if (!module) return nullptr;
    for (const ModuleClass& entry : classes) {
        if (!add_class(module.get(), entry)) return nullptr;
    }
    if (PyModule_AddFunctions(module.get(), functions) != 0) return nullptr;
    return module.release();
}

PyObject* to_python(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* to_python(std::int64_t value) { return PyLong_FromLongLong(value); }
PyObject* to_python(bool value) { return PyBool_FromLong(value ? 1 : 0); }
PyObject* to_python(std::string_view text) { return new_str(text); }

PyObject* to_python(const std::vector<std::uint32_t>& codes) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(codes.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLong(codes[i]);
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* new_str(std::string_view text) {
    // Table texts are checked UTF-8; "replace" keeps a stray byte from failing a whole call.
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

}  // namespace corvane::py

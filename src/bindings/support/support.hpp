// Argument conversion, error mapping, object boxing and the exception guard shared by the native
// modules.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "bindings/support/python.hpp"
#include "error/error.hpp"

namespace corvane::py {

// An owned reference, released on scope exit unless given away.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : object_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    ~Ref() { Py_DecRef(object_); }
    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

// A function's name as shown in argument errors ("parse_bytes()", "TableSet.from_eccodes()")
// and its parameter names, positional or by keyword; all are required but the last `optional`.
struct Signature {
    const char* display_name;
    std::initializer_list<const char*> parameters;
    std::size_t optional = 0;
};

// Fills `out` (one borrowed reference per parameter, null for an optional one not given). On
// failure raises TypeError and returns false.
bool parse_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out);

// Conversions of one argument; each raises "argument '<name>': ..." and returns false on failure.
bool to_bytes_view(PyObject* object, const char* name, std::span<const std::uint8_t>& out);
bool to_path_text(PyObject* object, const char* name, std::string& out);
bool to_u8(PyObject* object, const char* name, std::uint8_t& out);
bool to_u32(PyObject* object, const char* name, std::uint32_t& out);
bool to_u64(PyObject* object, const char* name, std::uint64_t& out);
bool to_code_list(PyObject* object, const char* name, std::vector<std::uint32_t>& out);
bool check_instance(PyObject* object, const char* name, PyTypeObject* type, const char* type_name);

// Raises the Python exception for a core error: OSError naming the path for a file that is not
// a regular file, ValueError with the text rendered in the module's `wording` for every other kind.
PyObject* raise_error(const BufrError& error, Wording wording);
// Raises OSError whose one argument is the error's own text (file reads of parse_file).
PyObject* raise_os_error(const BufrError& error);

// Raises the Python exception for the C++ exception being handled: MemoryError for
// std::bad_alloc, and for anything else RuntimeError with the exception's text (the core reports
// its errors as values, so any other exception is a fault of this module; SystemError would
// blame the interpreter).
void raise_current_exception() noexcept;

// A C++ exception that unwinds into the interpreter ends the process, so everything the
// interpreter calls is wrapped: guarded<f> runs f and turns an exception into a Python one.
// Destructors cannot throw, so deallocators need no guard.
template <auto Function>
struct Guarded;

template <class R, class... Args, R (*Function)(Args...)>
struct Guarded<Function> {
    static R call(Args... args) noexcept {
        try {
            return Function(args...);
        } catch (...) {
            raise_current_exception();
            if constexpr (std::is_pointer_v<R>) {
                return nullptr;
            } else {
                return R{-1};
            }
        }
    }
};

template <auto Function>
inline constexpr auto guarded = &Guarded<Function>::call;

PyObject* to_python(std::uint64_t value);
PyObject* to_python(std::int64_t value);
PyObject* to_python(bool value);
PyObject* to_python(std::string_view text);
PyObject* to_python(const std::vector<std::uint32_t>& codes);
inline PyObject* to_python(std::uint8_t value) { return to_python(std::uint64_t{value}); }
inline PyObject* to_python(std::uint16_t value) { return to_python(std::uint64_t{value}); }
inline PyObject* to_python(std::uint32_t value) { return to_python(std::uint64_t{value}); }
inline PyObject* to_python(std::int32_t value) { return to_python(std::int64_t{value}); }
inline PyObject* to_python(const std::string& text) { return to_python(std::string_view(text)); }

PyObject* new_str(std::string_view text);

// A class of a module: built from `spec` on first use, kept in `cached` for the life of the process.
struct ModuleClass {
    PyType_Spec& spec;
    const char* name;
    PyTypeObject*& cached;
};

// Creates the module of `definition` with its classes bound in order, then its functions; null
// with the exception set when a step fails. Class objects are process-wide, so the module may
// live in one interpreter only: ImportError in any other.
PyObject* create_module(PyModuleDef& definition, std::initializer_list<ModuleClass> classes, PyMethodDef* functions);

// Lets other threads run while it lives; nothing may touch a Python object meanwhile.
class WithoutGil {
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;
    ~WithoutGil() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// Every function and method takes its arguments positionally or by keyword.
inline constexpr int kKeywordCall = METH_VARARGS | METH_KEYWORDS;

// Entries of the method, attribute and slot tables, each guarded.
template <auto Function>
PyMethodDef method(const char* name, int flags, const char* doc) {
    // Method tables want every function as a PyCFunction, whatever its real signature.
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<Function>)), flags, doc};
}
template <auto Getter>
PyGetSetDef attribute(const char* name) {
    return {name, guarded<Getter>, nullptr, nullptr, nullptr};
}
template <auto Function>
void* slot_function() {
    return reinterpret_cast<void*>(guarded<Function>);
}

// A Python object that owns one C++ value.
template <class T>
struct Boxed {
    PyObject_HEAD
    T value;
};

template <class T>
T& unbox(PyObject* self) {
    return reinterpret_cast<Boxed<T>*>(self)->value;
}

// A new instance of `type` holding `value`, or null with an exception set.
template <class T>
PyObject* box(PyTypeObject* type, T value) {
    // Nothing may throw between allocating the object and filling it: a half-built object
    // would reach its deallocator.
    static_assert(std::is_nothrow_move_constructible_v<T>);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&unbox<T>(self)) T(std::move(value));
    return self;
}

template <class T>
void boxed_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    unbox<T>(self).~T();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

// Getter for a plain field of a boxed value, for PyGetSetDef tables.
template <class T, auto Member>
PyObject* field_getter(PyObject* self, void*) {
    return to_python(unbox<T>(self).*Member);
}

}  // namespace corvane::py

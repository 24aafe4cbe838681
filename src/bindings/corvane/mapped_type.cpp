// MappedFile, a regular file mapped read-only, which every function taking data reads in place.
#include <optional>
#include <string>

#include "bindings/corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "files/files.hpp"

namespace corvane::py::core {
namespace {

// The mapping goes with the object: a call reading it holds a reference to it, so a file closed
// meanwhile by another thread is unmapped only once that call has returned.
struct MappedState {
    MappedFile file;
};

// A path as str, or as the bytes of os.fsencode() for a name that is no UTF-8.
bool to_path(PyObject* object, std::string& out) {
    if (!PyBytes_Check(object)) return to_path_text(object, "path", out);
    char* text = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &text, &size) != 0) return false;
    out.assign(text, static_cast<std::size_t>(size));
    if (out.find('\0') == std::string::npos) return true;
    PyErr_SetString(PyExc_ValueError, "embedded null byte");
    return false;
}

PyObject* mapped_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    std::string path;
    if (!parse_arguments({"MappedFile()", {"path"}}, args, kwargs, argv) || !to_path(argv[0], path)) return nullptr;
    std::optional<Result<MappedFile>> mapped;
    {
        const WithoutGil unlocked;
        mapped.emplace(MappedFile::open(path));
    }
    if (!*mapped) return raise_os_error(mapped->error());
    return box(type, MappedState{std::move(**mapped)});
}

Py_ssize_t mapped_length(PyObject* self) {
    return static_cast<Py_ssize_t>(unbox<MappedState>(self).file.bytes().size());
}

// An int for an index, a copy as bytes for a slice, as bytes objects give them.
PyObject* mapped_subscript(PyObject* self, PyObject* key) {
    const std::span<const std::uint8_t> bytes = unbox<MappedState>(self).file.bytes();
    const auto size = static_cast<Py_ssize_t>(bytes.size());
    if (PySlice_Check(key)) {
        Py_ssize_t start, stop, step;
        if (PySlice_Unpack(key, &start, &stop, &step) != 0) return nullptr;
        const Py_ssize_t count = PySlice_AdjustIndices(size, &start, &stop, step);
        if (step == 1) return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()) + start, count);
        Ref out(PyBytes_FromStringAndSize(nullptr, count));
        if (!out) return nullptr;
        char* into = PyBytes_AsString(out.get());
        for (Py_ssize_t i = 0; i < count; ++i) into[i] = static_cast<char>(bytes[start + i * step]);
        return out.release();
    }
    Py_ssize_t index = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (index == -1 && PyErr_Occurred()) return nullptr;
    if (index < 0) index += size;
    if (index < 0 || index >= size) {
        PyErr_SetString(PyExc_IndexError, "index out of range");
        return nullptr;
    }
    return to_python(bytes[static_cast<std::size_t>(index)]);
}

PyObject* mapped_repr(PyObject* self) { return PyUnicode_FromFormat("<MappedFile: %zd bytes>", mapped_length(self)); }

PyType_Slot mapped_slots[] = {
    {Py_tp_doc, const_cast<char*>("MappedFile(path)\n--\n\nA regular file mapped read-only: its bytes, read as they "
                                  "are touched, for every function that takes data. Unmapped when it is freed.")},
    {Py_tp_new, slot_function<mapped_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<MappedState>)},
    {Py_tp_repr, slot_function<mapped_repr>()},
    {Py_mp_length, slot_function<mapped_length>()},
    {Py_mp_subscript, slot_function<mapped_subscript>()},
    {0, nullptr},
};

}  // namespace

bool to_data(PyObject* object, const char* name, std::span<const std::uint8_t>& out) {
    PyTypeObject* type = types().mapped_file;
    if (Py_TYPE(object) == type || PyType_IsSubtype(Py_TYPE(object), type)) {
        out = unbox<MappedState>(object).file.bytes();
        return true;
    }
    return to_bytes_view(object, name, out);
}

PyType_Spec mapped_file_spec = {
    "corvane._core.MappedFile",
    sizeof(Boxed<MappedState>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    mapped_slots,
};

}  // namespace corvane::py::core

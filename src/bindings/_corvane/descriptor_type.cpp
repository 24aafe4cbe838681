#include <string>

#include "bindings/_corvane/types.hpp"
#include "bindings/support/support.hpp"
#include "descriptor/descriptor.hpp"
#include "text/text.hpp"

namespace corvane::py {
namespace {

using PyDescriptor = Boxed<Descriptor>;

PyObject* descriptor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* argv[3];
    if (!parse_arguments({"Descriptor.__new__()", {"f", "x", "y"}}, args, kwargs, argv)) return nullptr;
    Descriptor descriptor;
    if (!to_u8(argv[0], "f", descriptor.f) || !to_u8(argv[1], "x", descriptor.x) ||
        !to_u8(argv[2], "y", descriptor.y)) {
        return nullptr;
    }
    return box(type, descriptor);
}

PyObject* descriptor_from_fxy(PyObject*, PyObject* args, PyObject* kwargs) {
    PyObject* argv[1];
    if (!parse_arguments({"Descriptor.from_fxy()", {"code"}}, args, kwargs, argv)) return nullptr;
    std::uint32_t code;
    if (!to_u32(argv[0], "code", code)) return nullptr;
    return box(types().descriptor, Descriptor::from_fxy(code));
}

PyObject* descriptor_fxy(PyObject* self, void*) { return to_python(unbox<Descriptor>(self).fxy()); }

PyObject* descriptor_repr(PyObject* self) {
    return new_str("Descriptor(" + format_code(unbox<Descriptor>(self).fxy()) + ")");
}

PyGetSetDef descriptor_getset[] = {
    attribute<field_getter<Descriptor, &Descriptor::f>>("f"),
    attribute<field_getter<Descriptor, &Descriptor::x>>("x"),
    attribute<field_getter<Descriptor, &Descriptor::y>>("y"),
    attribute<descriptor_fxy>("fxy"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef descriptor_methods[] = {
    method<descriptor_from_fxy>("from_fxy", kKeywordCall | METH_STATIC, "from_fxy(code)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot descriptor_slots[] = {
    {Py_tp_doc, const_cast<char*>("Descriptor(f, x, y)\n--\n\n")},
    {Py_tp_new, slot_function<descriptor_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(boxed_dealloc<Descriptor>)},
    {Py_tp_repr, slot_function<descriptor_repr>()},
    {Py_tp_getset, descriptor_getset},
    {Py_tp_methods, descriptor_methods},
    {0, nullptr},
};

}  // namespace

PyType_Spec descriptor_spec = {
    "builtins.Descriptor", sizeof(PyDescriptor), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, descriptor_slots,
};

}  // namespace corvane::py

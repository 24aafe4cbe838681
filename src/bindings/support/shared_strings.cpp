#include "bindings/support/shared_strings.hpp"

#include "bindings/support/support.hpp"

namespace corvane::py {

SharedStrings::~SharedStrings() {
    objects_.for_each([](PyObject* object) { Py_DecRef(object); });
}

PyObject* SharedStrings::get(const std::string* text) {
    PyObject** found = objects_.find(text);
    PyObject* object;
    if (found != nullptr) {
        object = *found;
    } else {
        Ref owned(new_str(*text));
        if (!owned) return nullptr;
        objects_.insert(text, owned.get());
        object = owned.release();
    }
    Py_IncRef(object);
    return object;
}

}  // namespace corvane::py

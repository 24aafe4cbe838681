// The one place that includes Python.h, under the 3.10 limited API.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The wheel is built by whichever CPython runs the build and loaded by any from 3.10 on. From
// 3.12 the headers return None, True, False and NotImplemented without a new reference (they
// are immortal there) and count references inline with immortality in mind, even under the
// 3.10 limited API: such a wheel steals a reference per returned None under 3.10 and 3.11 until
// None is freed. The interpreter's own functions below do what the running interpreter needs;
// the macros are poisoned so that no binding can use them by mistake.
namespace corvane::py {

inline PyObject* new_none() {
    Py_IncRef(Py_None);
    return Py_None;
}

}  // namespace corvane::py

#undef Py_RETURN_NONE
#undef Py_RETURN_TRUE
#undef Py_RETURN_FALSE
#undef Py_RETURN_NOTIMPLEMENTED
#undef Py_None
#undef Py_True
#undef Py_False
#undef Py_NotImplemented
#undef Py_INCREF
#undef Py_DECREF
#undef Py_XINCREF
#undef Py_XDECREF
#undef Py_NewRef
#undef Py_XNewRef
#undef Py_CLEAR
#undef Py_SETREF
#undef Py_XSETREF
#pragma GCC poison Py_RETURN_NONE Py_RETURN_TRUE Py_RETURN_FALSE Py_RETURN_NOTIMPLEMENTED
#pragma GCC poison Py_None Py_True Py_False Py_NotImplemented
#pragma GCC poison Py_INCREF Py_DECREF Py_XINCREF Py_XDECREF Py_NewRef Py_XNewRef Py_CLEAR Py_SETREF Py_XSETREF

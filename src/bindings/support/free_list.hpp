// Reuse of freed objects of one small type, as CPython keeps floats.
#pragma once

#include <cstddef>
#include <new>

#include "bindings/support/python.hpp"

namespace corvane::py {

// Values are made and dropped by the hundred thousand per message. The type must not be
// garbage-collected nor subclassable, so that the object allocator serves it directly. The
// cache holds at most 16 MiB.
template <class Object>
class FreeList {
public:
    PyObject* allocate(PyTypeObject* type) {
        void* memory = head_;
        if (memory != nullptr) {
            head_ = head_->next;
            --size_;
        } else if ((memory = PyObject_Malloc(sizeof(Object))) == nullptr) {
            return PyErr_NoMemory();
        }
        return PyObject_Init(static_cast<PyObject*>(memory), type);
    }

    void release(PyObject* object) {
        if (size_ >= kCapacity) {
            PyObject_Free(object);
            return;
        }
        head_ = new (static_cast<void*>(object)) Free{head_};
        ++size_;
    }

private:
    struct Free {
        Free* next;
    };
    static_assert(sizeof(Object) >= sizeof(Free));
    static constexpr std::size_t kCapacity = (std::size_t{16} << 20) / sizeof(Object);
    Free* head_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace corvane::py

// One str object per distinct table text, for the values of one conversion.
#pragma once

#include <string>

#include "bindings/support/pointer_table.hpp"
#include "bindings/support/python.hpp"

namespace corvane::py {

// Decoded values point at few distinct names. The texts must outlive the table.
class SharedStrings {
public:
    SharedStrings() = default;
    SharedStrings(const SharedStrings&) = delete;
    SharedStrings& operator=(const SharedStrings&) = delete;
    ~SharedStrings();

    // A new reference, or null with an exception set.
    PyObject* get(const std::string* text);

private:
    PointerTable<std::string, PyObject*> objects_;
};

}  // namespace corvane::py

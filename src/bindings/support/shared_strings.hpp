// One str object per distinct table text, for the values of one conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bindings/support/python.hpp"

namespace corvane::py {

// Decoded values point at few distinct names, so an open-addressing table keyed by the text's
// address finds them in a probe or two. The texts must outlive the table.
class SharedStrings {
public:
    SharedStrings() : slots_(kInitialSlots) {}
    SharedStrings(const SharedStrings&) = delete;
    SharedStrings& operator=(const SharedStrings&) = delete;
    ~SharedStrings();

    // A new reference, or null with an exception set.
    PyObject* get(const std::string* text);

private:
    struct Slot {
        const std::string* text = nullptr;
        PyObject* object = nullptr;
    };
    static constexpr std::size_t kInitialSlots = 256;

    Slot* find(const std::string* text);
    void grow();

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

}  // namespace corvane::py

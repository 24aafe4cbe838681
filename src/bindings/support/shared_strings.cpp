#include "bindings/support/shared_strings.hpp"

#include "bindings/support/support.hpp"

namespace corvane::py {

SharedStrings::~SharedStrings() {
    for (const Slot& slot : slots_) Py_DecRef(slot.object);
}

PyObject* SharedStrings::get(const std::string* text) {
    Slot* slot = find(text);
    if (slot->text == nullptr) {
        PyObject* object = new_str(*text);
        if (object == nullptr) return nullptr;
        *slot = {text, object};
        if (++used_ * 2 > slots_.size()) grow();
        slot = find(text);
    }
    Py_IncRef(slot->object);
    return slot->object;
}

SharedStrings::Slot* SharedStrings::find(const std::string* text) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t index = (reinterpret_cast<std::uintptr_t>(text) >> 4) * 0x9E3779B97F4A7C15u >> 32 & mask;
    while (slots_[index].text != nullptr && slots_[index].text != text) index = (index + 1) & mask;
    return &slots_[index];
}

void SharedStrings::grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
        if (slot.text != nullptr) *find(slot.text) = slot;
    }
}

}  // namespace corvane::py

#include "data/decoded_value.hpp"

#include <algorithm>
#include <cstring>

namespace corvane {

std::string_view TextArena::store(std::string_view text) {
    if (text.empty()) return {};
    if (capacity_ - used_ < text.size()) {
        capacity_ = std::max(kBlockSize, text.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(capacity_));
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
}

const std::string& operator_label() {
    static const std::string label = "operator";
    return label;
}

const std::string& associated_field_label() {
    static const std::string label = "associatedField";
    return label;
}

const std::string& character_data_label() {
    static const std::string label = "characterData";
    return label;
}

const std::string& unknown_local_element_label() {
    static const std::string label = "unknown local element";
    return label;
}

}  // namespace corvane

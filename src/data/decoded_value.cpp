#include "data/decoded_value.hpp"

namespace corvane {

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

}  // namespace corvane

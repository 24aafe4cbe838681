// One decoded value of section 4, and the coding state of one decoding pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tables/table_set.hpp"

namespace corvane {

// Names and meanings are borrowed: from the table set the value was decoded with, or from
// the static labels below. The table set must outlive the values.
struct DecodedValue {
    // User-provided so that appending a value does not zero it before its fields are written.
    DecodedValue() noexcept {}

    std::uint32_t descriptor = 0;
    const std::string* name = nullptr;
    std::optional<double> raw_value;
    std::optional<std::uint64_t> raw;
    std::optional<std::string> raw_text;
    const std::string* raw_meaning = nullptr;
};

// The labels of values that do not come from Table B.
const std::string& operator_label();          // "operator"
const std::string& associated_field_label();  // "associatedField"
const std::string& character_data_label();    // "characterData"

}  // namespace corvane

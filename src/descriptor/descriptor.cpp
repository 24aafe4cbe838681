#include "descriptor/descriptor.hpp"

#include <string>

#include "text/text.hpp"

namespace corvane {
Result<std::uint32_t> parse_code(std::string_view text) {
    std::string_view digits = trim_unicode_whitespace(text);
    while (!digits.empty() && digits.front() == '"') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == '"') digits.remove_suffix(1);
    std::uint64_t value;
    IntParseFailure failure;
    if (!parse_unsigned(digits, UINT32_MAX, value, failure)) return bad_number_error("descriptor code", text, failure);
    return static_cast<std::uint32_t>(value);
}

}  // namespace corvane

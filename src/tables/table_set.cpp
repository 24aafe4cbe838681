#include "tables/table_set.hpp"

#include <limits>
#include <string>

#include "descriptor/descriptor.hpp"
#include "text/text.hpp"

namespace corvane {

namespace {

// Tables spell these units in many ways ("CODE TABLE", "Code table", " Code table",
// "Common CODE TABLE C-1", "FLAG TABLE defined by ...").
bool names_code_or_flag_table(std::string_view unit) {
    std::string lower(unit);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower.find("code table") != std::string::npos || lower.find("flag table") != std::string::npos;
}

}  // namespace

std::string element_key(const ElementDefinition& element) {
    return element.abbreviation.empty() ? format_code(element.code) : element.abbreviation;
}

ElementKind element_kind(std::string_view unit) {
    if (unit == "CCITT IA5") return ElementKind::Text;
    return names_code_or_flag_table(unit) ? ElementKind::CodeOrFlag : ElementKind::Numeric;
}

Result<std::int32_t> parse_i32(std::string_view text) {
    std::int64_t value;
    IntParseFailure failure;
    if (!parse_signed(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), value,
                      failure)) {
        return bad_number_error("i32", text, failure);
    }
    return static_cast<std::int32_t>(value);
}

Result<std::int64_t> parse_i64(std::string_view text) {
    std::int64_t value;
    IntParseFailure failure;
    if (!parse_signed(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), value,
                      failure)) {
        return bad_number_error("i64", text, failure);
    }
    return value;
}

Result<std::uint16_t> parse_u16(std::string_view text) {
    std::uint64_t value;
    IntParseFailure failure;
    if (!parse_unsigned(text, std::numeric_limits<std::uint16_t>::max(), value, failure)) {
        return bad_number_error("u16", text, failure);
    }
    return static_cast<std::uint16_t>(value);
}

Result<ElementDefinition> parse_element(const ElementFields& fields) {
    Result<std::uint32_t> code = parse_code(fields.code);
    if (!code) return std::move(code).error();
    Result<std::int32_t> scale = parse_i32(fields.scale);
    if (!scale) return std::move(scale).error();
    Result<std::int64_t> reference = parse_i64(fields.reference);
    if (!reference) return std::move(reference).error();
    Result<std::uint16_t> width = parse_u16(fields.width);
    if (!width) return std::move(width).error();
    return ElementDefinition{*code,
                             std::string(fields.abbreviation),
                             std::string(fields.element_type),
                             std::string(fields.name),
                             std::string(fields.unit),
                             *scale,
                             *reference,
                             *width,
                             element_kind(fields.unit)};
}

}  // namespace corvane

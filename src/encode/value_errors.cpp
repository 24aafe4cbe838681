#include "encode/value_errors.hpp"

#include <string>

#include "descriptor/descriptor.hpp"
#include "encode/value_layout.hpp"
#include "text/text.hpp"
#include "walk/element_reading.hpp"

namespace corvane::detail {

namespace {

// "airTemperature (012101) of subset 3"; a key that is the code stands alone.
std::string named(const WalkValue& value) {
    const std::string key = value_key(value);
    const std::string code = format_code(value.code);
    return key == code ? key : key + " (" + code + ")";
}

std::string where(std::uint32_t subset, const WalkValue& value) {
    return named(value) + " of subset " + std::to_string(subset + 1);
}

std::string shown(const InputValue& input) {
    if (input.kind == InputValue::Kind::Text) return "the text " + quote_text(input.text);
    return "the number " + format_shortest_float(input.number);
}

}  // namespace

Status valid_descriptors(std::span<const std::uint32_t> descriptors) {
    for (const std::uint32_t code : descriptors) {
        if (code > 363255 || descriptor_x(code) > 63 || code % 1000 > 255) {
            return BufrError::bad_argument("descriptor " + std::to_string(code) +
                                           " is no FXXYYY code: F is 0 to 3, XX 0 to 63, YYY 0 to 255");
        }
    }
    return {};
}

BufrError too_few_values(std::uint32_t subset, std::size_t given, const WalkValue& needed) {
    return BufrError::bad_argument("subset " + std::to_string(subset + 1) + " has " + std::to_string(given) +
                                   " values, and its descriptors need more: the next is " + named(needed) +
                                   "; give one value per value that Message.values() lists");
}

BufrError surplus_values(std::uint32_t subset, std::size_t given, std::size_t used) {
    return BufrError::bad_argument("subset " + std::to_string(subset + 1) + " has " + std::to_string(given) +
                                   " values, but its descriptors take " + std::to_string(used) +
                                   ": give one value per value that Message.values() lists");
}

BufrError number_misfit(std::uint32_t subset, const WalkValue& value, double number, std::uint32_t width,
                        bool all_ones_missing) {
    const NumericField& field = *value.field;
    const std::uint64_t top = all_ones(width) - (all_ones_missing && width != 0 ? 1 : 0);
    return BufrError::bad_argument("the value " + format_shortest_float(number) + " of " + where(subset, value) +
                                   " does not fit its " + std::to_string(width) + "-bit field: it takes " +
                                   format_shortest_float(scaled_value(0, field.reference, field.divisor)) + " to " +
                                   format_shortest_float(scaled_value(top, field.reference, field.divisor)) +
                                   " in steps of " + format_shortest_float(1.0 / field.divisor));
}

BufrError reference_misfit(std::uint32_t subset, const WalkValue& value, double number, std::uint32_t width) {
    const std::uint64_t top = width == 0 ? 0 : all_ones(width - 1);
    return BufrError::bad_argument("the new reference value " + format_shortest_float(number) + " of " +
                                   where(subset, value) + " does not fit its " + std::to_string(width) +
                                   "-bit field: it takes whole numbers from -" + std::to_string(top) + " to " +
                                   std::to_string(top));
}

BufrError wrong_type(std::uint32_t subset, const WalkValue& value, const InputValue& input) {
    const bool text_field = value.field == nullptr || (value.element != nullptr && value.element->is_text());
    return BufrError::bad_argument(shown(input) + " stands where " + where(subset, value) + " takes " +
                                   (text_field ? "a text" : "a number") + " (or None for missing)");
}

BufrError text_misfit(std::uint32_t subset, const WalkValue& value, std::string_view text, std::size_t size,
                      std::string_view why) {
    return BufrError::bad_argument("the text " + quote_text(text) + " of " + where(subset, value) +
                                   " does not fit its field of " + std::to_string(size) +
                                   " characters: " + std::string(why));
}

BufrError differing_factor(std::uint32_t subset, const WalkValue& value, std::uint64_t first, std::uint64_t other) {
    return BufrError::bad_argument("the delayed replication factor " + named(value) + " is " + std::to_string(first) +
                                   " in subset 1 but " + std::to_string(other) + " in subset " +
                                   std::to_string(subset + 1) +
                                   ": a compressed message repeats alike in every subset; give the same count "
                                   "(with missing values to fill) or encode uncompressed");
}

BufrError differing_reference(std::uint32_t subset, const WalkValue& value, std::uint64_t first, std::uint64_t other,
                              std::uint32_t width) {
    const auto signed_text = [&](std::uint64_t raw) {
        const std::uint64_t sign = std::uint64_t{1} << (width - 1);
        std::string text = raw & sign ? "-" : "";
        return text += std::to_string(raw & (sign - 1));
    };
    return BufrError::bad_argument("the new reference value " + named(value) + " is " + signed_text(first) +
                                   " in subset 1 but " + signed_text(other) + " in subset " +
                                   std::to_string(subset + 1) +
                                   ": a compressed message has one reference value for all its subsets; give "
                                   "every subset the same one or encode uncompressed");
}

BufrError uncompressible(const WalkValue& value, std::string_view why) {
    return BufrError::bad_argument(named(value) +
                                   " differs between subsets in a way the compressed layout cannot "
                                   "hold (" +
                                   std::string(why) + "): encode uncompressed");
}

Result<std::size_t> latin1_text(std::string_view text, std::uint8_t* out, std::size_t size) {
    std::size_t valid = 0;
    if (!is_valid_utf8(text, valid)) return BufrError::bad_argument("it is no valid UTF-8");
    std::size_t length = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        std::uint8_t written = byte;
        if (byte >= 0x80) {
            // Latin-1 is U+0000 to U+00FF: two-byte sequences led by 0xC2 or 0xC3.
            if ((byte != 0xC2 && byte != 0xC3) || i + 1 == text.size()) {
                return BufrError::bad_argument("BUFR texts hold Latin-1 characters only (U+0000 to U+00FF)");
            }
            written = static_cast<std::uint8_t>(((byte & 0x03) << 6) | (static_cast<std::uint8_t>(text[++i]) & 0x3F));
        }
        if (length == size) return BufrError::bad_argument("it is longer");
        out[length++] = written;
    }
    return length;
}

}  // namespace corvane::detail

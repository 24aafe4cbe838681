#include "text/text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace corvane {
namespace {

// Decodes one UTF-8 sequence at `i`; returns its length, or 0 when it is malformed.
std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t length;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool is_printable(char32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return false;
    switch (cp) {
        case 0xAD:
        case 0x2028:
        case 0x2029:
        case 0xFEFF:
            return false;
        default:
            break;
    }
    if (cp >= 0x200B && cp <= 0x200F) return false;
    if (cp >= 0x2060 && cp <= 0x2064) return false;
    if (cp >= 0xE000 && cp <= 0xF8FF) return false;
    if (cp >= 0xFFF0 && cp <= 0xFFFB) return false;
    if (cp >= 0xF0000) return false;
    return true;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The digits after a number's sign, at most `limit`; a sign alone is an invalid digit.
bool parse_magnitude(std::string_view digits, std::uint64_t limit, std::uint64_t& out, IntParseFailure& failure) {
    if (digits.empty()) {
        failure = IntParseFailure::InvalidDigit;
        return false;
    }
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            failure = IntParseFailure::InvalidDigit;
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) {
            failure = IntParseFailure::TooLarge;
            return false;
        }
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

}  // namespace

std::string quote_text(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t length = decode_utf8(text, i, cp);
        if (length == 0) {
            cp = 0xFFFD;  // a stray byte shows as the replacement character
            length = 1;
        }
        i += length;
        switch (cp) {
            case '"':
                out += "\\\"";
                continue;
            case '\\':
                out += "\\\\";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\r':
                out += "\\r";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case 0:
                out += "\\0";
                continue;
            default:
                break;
        }
        if (is_printable(cp)) {
            append_utf8(out, cp);
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(cp));
            out += buffer;
        }
    }
    out += '"';
    return out;
}

std::string format_code(std::uint32_t code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%06u", code);
    return buffer;
}

std::string_view int_parse_reason(IntParseFailure failure) {
    switch (failure) {
        case IntParseFailure::Empty:
            return "cannot parse integer from empty string";
        case IntParseFailure::InvalidDigit:
            return "invalid digit found in string";
        case IntParseFailure::TooLarge:
            return "number too large to fit in target type";
        case IntParseFailure::TooSmall:
            return "number too small to fit in target type";
    }
    return {};
}

bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& out, IntParseFailure& failure) {
    if (text.empty()) {
        failure = IntParseFailure::Empty;
        return false;
    }
    if (text[0] == '+') text.remove_prefix(1);
    return parse_magnitude(text, max, out, failure);
}

bool parse_signed(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out,
                  IntParseFailure& failure) {
    if (text.empty()) {
        failure = IntParseFailure::Empty;
        return false;
    }
    const bool negative = text[0] == '-';
    if (negative || text[0] == '+') text.remove_prefix(1);
    const std::uint64_t limit = negative ? 0 - static_cast<std::uint64_t>(min) : static_cast<std::uint64_t>(max);
    std::uint64_t magnitude;
    if (!parse_magnitude(text, limit, magnitude, failure)) {
        if (negative && failure == IntParseFailure::TooLarge) failure = IntParseFailure::TooSmall;
        return false;
    }
    out = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

std::string format_shortest_float(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const double magnitude = std::fabs(value);
    if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
        // to_chars writes e+16 / e-05; the exponent is shown bare: e16 / e-5.
        std::string text(buffer, end);
        const std::size_t e = text.find('e');
        std::string exponent = text.substr(e + 1);
        const bool negative = exponent[0] == '-';
        exponent.erase(0, 1);
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        return text.substr(0, e + 1) + (negative ? "-" : "") + exponent;
    }
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed).ptr;
    std::string text(buffer, end);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

bool is_valid_utf8(std::string_view text, std::size_t& valid_prefix) {
    std::size_t i = 0;
    while (i < text.size()) {
        // Table files are nearly all ASCII: skip eight such bytes at a time.
        std::uint64_t word;
        if (i + 8 <= text.size() && (std::memcpy(&word, text.data() + i, 8), (word & 0x8080808080808080u) == 0)) {
            i += 8;
            continue;
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        const std::size_t length = decode_utf8(text, i, cp);
        if (length == 0) {
            valid_prefix = i;
            return false;
        }
        i += length;
    }
    valid_prefix = text.size();
    return true;
}

}  // namespace corvane

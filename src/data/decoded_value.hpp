// One decoded value of section 4, and the list that a decode returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// 48 bytes, trivially copyable: a message can decode to millions of them. Names and meanings
// are borrowed from the table set the value was decoded with (or from the static labels
// below), texts from the DecodedValues that holds the value; both must outlive it.
class DecodedValue {
public:
    std::uint32_t descriptor = 0;
    const std::string* name = nullptr;
    const std::string* raw_meaning = nullptr;

    std::optional<double> raw_value() const { return has(kRawValue) ? std::optional(value_) : std::nullopt; }
    std::optional<std::uint64_t> raw() const { return has(kRaw) ? std::optional(raw_) : std::nullopt; }
    std::optional<std::string_view> raw_text() const {
        return has(kRawText) ? std::optional(std::string_view(text_, text_length_)) : std::nullopt;
    }

    void set_raw_value(double value) {
        value_ = value;
        flags_ |= kRawValue;
    }
    void set_raw(std::uint64_t raw) {
        raw_ = raw;
        flags_ |= kRaw;
    }
    // `text` must be stored where the value's list keeps it (TextArena).
    void set_raw_text(std::string_view text) {
        text_ = text.data();
        text_length_ = static_cast<std::uint32_t>(text.size());
        flags_ |= kRawText;
    }

private:
    static constexpr std::uint8_t kRawValue = 1;
    static constexpr std::uint8_t kRaw = 2;
    static constexpr std::uint8_t kRawText = 4;
    bool has(std::uint8_t flag) const { return (flags_ & flag) != 0; }

    const char* text_ = nullptr;
    double value_ = 0.0;
    std::uint64_t raw_ = 0;
    std::uint32_t text_length_ = 0;
    std::uint8_t flags_ = 0;
};

// Owns the characters of the texts of one decode, in blocks that never move, so that values
// can point at them and texts cost no allocation each.
class TextArena {
public:
    std::string_view store(std::string_view text);

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
};

// What a decode returns: the values in order, and the texts they point at.
struct DecodedValues {
    std::vector<DecodedValue> values;
    TextArena texts;

    std::size_t size() const { return values.size(); }
    bool empty() const { return values.empty(); }
    const DecodedValue& operator[](std::size_t index) const { return values[index]; }
    const DecodedValue& back() const { return values.back(); }
    auto begin() const { return values.begin(); }
    auto end() const { return values.end(); }
};

// The labels of values that do not come from Table B.
const std::string& operator_label();          // "operator"
const std::string& associated_field_label();  // "associatedField"
const std::string& character_data_label();    // "characterData"
const std::string& unknown_local_element_label();  // "unknown local element"

}  // namespace corvane

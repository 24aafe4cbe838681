// The layout of a subset, by the walk that writes it: a bit source that gives each factor its
// count and every other value missing, and notes what each value is.
#include "encode/value_layout.hpp"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "encode/value_bits.hpp"
#include "encode/value_errors.hpp"
#include "text/text.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

class LayoutSource {
public:
    LayoutSource(std::span<const std::uint64_t> counts, std::uint32_t subset, std::vector<LaidValue>& out)
        : counts_(counts), subset_(subset), out_(out) {}

    std::uint64_t position() const { return bits_; }
    std::uint64_t total_bits() const { return std::numeric_limits<std::uint64_t>::max(); }
    BufrError read_error(std::uint16_t) const { return *failure_; }
    const std::optional<BufrError>& failure() const { return failure_; }

    bool number(const WalkValue& value, std::uint16_t width, std::uint64_t& raw) {
        const bool factor = note(value);
        bits_ += width;
        if (!factor) {
            raw = all_ones(width);
            return true;
        }
        const std::uint64_t count = factors_ < counts_.size() ? counts_[factors_] : 0;
        ++factors_;
        Status made = number_bits(subset_, value, InputValue::of(static_cast<double>(count)), width, true, raw);
        if (!made) failure_ = std::move(made).error();
        return static_cast<bool>(made);
    }

    void text(const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
        note(value);
        bits_ += width;
        std::fill(out, out + (width + 7u) / 8, std::uint8_t{0xFF});
    }

private:
    bool note(const WalkValue& value) {
        const bool factor = value.kind == ValueKind::ReplicationFactor;
        out_.push_back({.key = value_key(value), .code = value.code, .factor = factor});
        return factor;
    }

    std::span<const std::uint64_t> counts_;
    std::uint32_t subset_;
    std::vector<LaidValue>& out_;
    std::size_t factors_ = 0;
    std::uint64_t bits_ = 0;
    std::optional<BufrError> failure_;
};

bool read_value_bits(LayoutSource& source, const WalkValue& value, std::uint16_t width, std::uint64_t& raw) {
    return source.number(value, width, raw);
}

Status read_text_bits(LayoutSource& source, const WalkValue& value, std::uint16_t width, std::uint8_t* out) {
    source.text(value, width, out);
    return {};
}

struct LayoutSink : SinkBase {
    const TableSet& tables;

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }
    void begin_subset(std::uint32_t) {}
    void end_subset(std::uint32_t) {}
    void number(const WalkValue&, std::uint64_t, std::optional<double>) {}
    void text(const WalkValue&, std::optional<std::string_view>, std::uint64_t) {}
    void marker(std::uint32_t) {}
    void expect_subsets(std::uint64_t) {}
};

}  // namespace

}  // namespace corvane::detail

namespace corvane {

Result<std::vector<LaidValue>> value_layout(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                            std::span<const std::uint64_t> counts, std::uint32_t subset) {
    if (Status valid = detail::valid_descriptors(descriptors); !valid) return std::move(valid).error();
    BufrMessage message;
    message.number_of_subsets = 1;
    message.unexpanded_descriptors.assign(descriptors.begin(), descriptors.end());
    std::vector<LaidValue> laid;
    detail::LayoutSource source(counts, subset, laid);
    detail::LayoutSink sink{{}, tables};
    if (Status walked = walk_subsets(message, tables, source, kPackageDecodeOptions, sink); !walked) {
        return std::move(walked).error();
    }
    std::unordered_map<std::string_view, std::uint32_t> seen;
    for (LaidValue& value : laid) value.rank = ++seen[value.key];
    return laid;
}

std::string value_key(const WalkValue& value) {
    if (value.kind == ValueKind::AssociatedField) return "associatedField";
    if (value.element != nullptr) return element_key(*value.element);
    return format_code(value.code);
}

}  // namespace corvane

// Values of an uncompressed message, subset after subset, as the walk meets them.
#include "data/value_sinks.hpp"

#include <algorithm>

namespace corvane::detail {

namespace {

struct SubsetValues : SinkBase {
    const TableSet& tables;
    DecodedValues& out;

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }

    DecodedValue& append(const WalkValue& value) {
        DecodedValue& decoded = out.values.append();
        decoded.descriptor = value.code;
        decoded.name = value_name(value);
        decoded.set_kind(value.kept_kind());
        return decoded;
    }

    void number(const WalkValue& value, std::uint64_t raw, std::optional<double> number) {
        DecodedValue& decoded = append(value);
        decoded.set_raw(raw);
        if (number) decoded.set_raw_value(*number);
        if (value.has_meaning()) decoded.raw_meaning = tables.code_meaning(value.code, raw);
    }

    void text(const WalkValue& value, std::optional<std::string_view> text, std::uint64_t position) {
        DecodedValue& decoded = append(value);
        if (position != 0) decoded.set_raw_value(static_cast<double>(position * 1000 + value.field->width / 8));
        if (text) decoded.set_raw_text(out.texts.store(*text));
    }

    void marker(std::uint32_t code) {
        DecodedValue& decoded = out.values.append();
        decoded.descriptor = code;
        decoded.name = &operator_label();
        decoded.set_kind(ValueKind::Marker);
        decoded.set_raw_value(0.0);
        decoded.set_raw(0);
    }

    void begin_subset(std::uint32_t) {}
    void end_subset(std::uint32_t) { out.subset_ends.push_back(out.size()); }

    // The later subsets hold about as many values as the first.
    void expect_subsets(std::uint64_t subsets) {
        const std::uint64_t later = (subsets - 1) * out.size();
        out.values.plan(static_cast<std::size_t>(std::min<std::uint64_t>(later, kMaxDecodedValues)));
    }
};

}  // namespace

Result<DecodedValues> decode_subset_values(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                           DecodeOptions options) {
    DecodedValues out;
    out.subset_ends.reserve(message.number_of_subsets);
    SubsetValues sink{{}, tables, out};
    if (Status walked = walk_subsets(message, tables, reader, options, sink); !walked) return std::move(walked).error();
    return out;
}

}  // namespace corvane::detail

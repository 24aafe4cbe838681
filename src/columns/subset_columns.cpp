// Columns of an uncompressed message: each value of a subset into its row as the walk meets it.
#include "columns/column_walks.hpp"

#include "data/decoded_value.hpp"

namespace corvane::detail {

namespace {

struct SubsetColumns : SinkBase {
    TableBuilder& out;
    std::size_t row = 0;

    const ElementDefinition* element(std::uint32_t code) { return out.element(code); }

    // Every value takes its occurrence, missing or not; a definition's values take none.
    std::int32_t column_of(const WalkValue& value) {
        if (value.defining) return kNoColumn;
        return out.value_column({value_name(value), value.code, value.kind});
    }

    void number(const WalkValue& value, std::uint64_t, std::optional<double> number) {
        const std::int32_t column = column_of(value);
        if (column != kNoColumn && number) out.put_number(column, row, *number);
    }

    void text(const WalkValue& value, std::optional<std::string_view> text, std::uint64_t) {
        const std::int32_t column = column_of(value);
        if (column != kNoColumn && text) out.put_text(column, row, *text);
    }

    void marker(std::uint32_t) {}

    void begin_subset(std::uint32_t subset) {
        row = out.base_row() + subset;
        out.begin_subset();
    }
    void end_subset(std::uint32_t) { out.end_subset(); }
    void expect_subsets(std::uint64_t subsets) { out.plan_rows(subsets); }
};

}  // namespace

Status decode_uncompressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                   BitReader& reader, TableBuilder& out) {
    SubsetColumns sink{{}, out};
    return walk_subsets(message, tables, reader, options, sink);
}

}  // namespace corvane::detail

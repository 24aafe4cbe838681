// Rows of an uncompressed message: each subset is its own structure.
#include "rows/row_walks.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

struct SubsetRows : SinkBase {
    RowTable& out;
    std::size_t index;

    const ElementDefinition* element(std::uint32_t code) { return out.element(code); }

    void number(const WalkValue& value, std::uint64_t, std::optional<double> number) {
        const std::optional<std::uint32_t> cell = out.track(value);
        if (cell && number) *out.numbers(*cell) = *number;
    }
    void text(const WalkValue& value, std::optional<std::string_view> text, std::uint64_t) {
        const std::optional<std::uint32_t> cell = out.track(value);
        if (cell && text) out.set_text(*cell, *text);
    }
    void marker(std::uint32_t) {}
    void begin_subset(std::uint32_t) { out.begin_structure(1); }
    void end_subset(std::uint32_t subset) { out.end_structure(index, subset, 0); }
    void expect_subsets(std::uint64_t) {}
};

}  // namespace

Status walk_uncompressed_rows(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                              BitReader& reader, RowTable& out, std::size_t index) {
    SubsetRows sink{{}, out, index};
    return walk_subsets(message, tables, reader, options, sink);
}

}  // namespace corvane::detail

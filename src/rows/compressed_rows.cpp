// Rows of a compressed message: its subsets share one structure, whose cells hold a value per
// subset.
#include "rows/row_walks.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

namespace {

struct TextCells {
    RowTable& out;
    std::uint32_t first;
    std::uint64_t subsets;
    void all(std::optional<std::string_view> text) {
        if (!text) return;
        for (std::uint64_t s = 0; s < subsets; ++s) out.set_text(first + static_cast<std::uint32_t>(s), *text);
    }
    void text(std::uint64_t s, std::optional<std::string_view> text) {
        if (text) out.set_text(first + static_cast<std::uint32_t>(s), *text);
    }
};

struct MessageRows : SinkBase {
    RowTable& out;
    std::uint64_t subsets;

    const ElementDefinition* element(std::uint32_t code) { return out.element(code); }

    template <class Read>
    Status numbers(const WalkValue& value, bool, Read&& read) {
        const std::optional<std::uint32_t> cell = out.track(value);
        if (!cell) return read(SkipCells{});
        return read(FloatCells{out.numbers(*cell), value.field->reference, value.field->divisor, subsets});
    }
    // Only new reference values, which no key tracks.
    void same_number(const WalkValue&, std::uint64_t, std::optional<double>) {}
    template <class Read>
    Status texts(const WalkValue& value, std::uint64_t, Read&& read) {
        const std::optional<std::uint32_t> cell = out.track(value);
        if (!cell) return read(SkipTexts{});
        return read(TextCells{out, *cell, subsets});
    }
    void marker(std::uint32_t) {}
};

}  // namespace

Status walk_compressed_rows(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                            BitReader& reader, RowTable& out, std::size_t index) {
    const std::uint64_t subsets = message.number_of_subsets;
    out.begin_structure(subsets);
    MessageRows sink{{}, out, subsets};
    if (Status walked = walk_columns(message, tables, reader, options, sink); !walked) return walked;
    for (std::uint64_t s = 0; s < subsets; ++s) out.end_structure(index, s, s);
    return {};
}

}  // namespace corvane::detail

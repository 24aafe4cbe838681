#include "tables/expand.hpp"

#include <gtest/gtest.h>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using Codes = std::vector<std::uint32_t>;

TableSet with_sequences(std::initializer_list<SequenceDefinition> sequences) {
    TableSet tables;
    for (const SequenceDefinition& sequence : sequences) tables.store_sequence(sequence);
    return tables;
}

// The expansion, or a failure recorded and an empty list.
Codes expand(const TableSet& tables, const Codes& codes) {
    Result<Codes> result = expand_descriptors(tables, codes);
    if (!result) {
        ADD_FAILURE() << result.error().render();
        return {};
    }
    return std::move(result).value();
}

std::string expand_error(const TableSet& tables, const Codes& codes) {
    return error_text(expand_descriptors(tables, codes));
}

TEST(ExpandTest, SequencesReplicationsAndOperators) {
    const TableSet tables = with_sequences({{301001, {1001, 1002}}});
    EXPECT_EQ(expand(tables, {}), Codes{});
    EXPECT_EQ(expand(tables, {301001}), (Codes{1001, 1002}));
    EXPECT_EQ(expand(tables, {102002, 1001, 1002}), (Codes{1001, 1002, 1001, 1002}));
    EXPECT_EQ(expand(tables, {101000, 31001, 1001}), (Codes{31001, 1001}));
    EXPECT_EQ(expand(tables, {103000, 31002, 1001, 301001, 1003}), (Codes{31002, 1001, 1001, 1002, 1003}));
    EXPECT_EQ(expand(tables, {201130, 202129, 206016, 207001, 208010, 203014, 222000, 999}),
              (Codes{203014, 222000, 999}));
    // Y is read modulo 256: 101257 repeats once.
    EXPECT_EQ(expand(tables, {101257, 1001}), (Codes{1001}));
    EXPECT_EQ(expand(tables, {25600000}), (Codes{25600000}));
}

TEST(ExpandTest, AssociatedFieldMarksElementsButNotClass31) {
    const TableSet tables = with_sequences({{301001, {204008, 1001}}, {301002, {1002, 204000}}});
    EXPECT_EQ(expand(tables, {204008, 1001, 31021, 204000, 1002}), (Codes{999999, 1001, 31021, 1002}));
    // Set inside a sequence, the width stays in force after it.
    EXPECT_EQ(expand(tables, {301001, 1003}), (Codes{999999, 1001, 999999, 1003}));
    // The first repetition starts unmarked, every later one starts marked.
    EXPECT_EQ(expand(tables, {204008, 103003, 1001, 204000, 1002}),
              (Codes{999999, 1001, 1002, 1001, 1002, 1001, 1002}));
    EXPECT_EQ(expand(tables, {101000, 31001, 1003, 204001}), (Codes{31001, 1003}));
    EXPECT_EQ(expand(tables, {204001, 103003, 1001, 301002, 1003}),
              (Codes{999999, 1001, 999999, 1002, 1003, 1001, 1002, 1003, 1001, 1002, 1003}));
}

TEST(ExpandTest, ExpandIntoAppendsAndCounts) {
    const TableSet tables = with_sequences({{301001, {1001, 1002}}});
    Codes out = {7};
    ExpansionState state;
    const Codes codes = {204004, 301001};
    Result<std::size_t> n = expand_into(tables, codes, out, state, 0);
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(*n, 4u);
    EXPECT_EQ(out, (Codes{7, 999999, 1001, 999999, 1002}));
    EXPECT_EQ(state.associated_field_width, 4);
    EXPECT_EQ(error_text(expand_into(tables, {}, out, state, 65)),
              "limit exceeded: sequence expansion exceeded recursion depth");
    EXPECT_TRUE(expand_into(tables, {}, out, state, 64).ok());
}

TEST(ExpandTest, Failures) {
    const TableSet tables = with_sequences({{301001, {301001}}, {301002, {1001, 400000}}});
    EXPECT_EQ(expand_error(tables, {102002, 1001}), "unsupported replication descriptor 102002");
    EXPECT_EQ(expand_error(tables, {100001, 1001}), "unsupported replication descriptor 100001");
    EXPECT_EQ(expand_error(tables, {1001, 101000}), "unsupported replication descriptor 101000");
    EXPECT_EQ(expand_error(tables, {101000, 31001}),
              "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors");
    EXPECT_EQ(expand_error(tables, {301999}), "descriptor 301999 was not found in Table D");
    EXPECT_EQ(expand_error(tables, {301001}), "limit exceeded: sequence expansion exceeded recursion depth");
    EXPECT_EQ(expand_error(tables, {400000}), "invalid data: invalid descriptor 400000");
    EXPECT_EQ(expand_error(tables, {1000000}), "invalid data: invalid descriptor 1000000");
    EXPECT_EQ(expand_error(tables, {1001, 301002}), "invalid data: invalid descriptor 400000");
    // A failure inside a replicated group ends the whole expansion.
    EXPECT_EQ(expand_error(tables, {101002, 301002}), "invalid data: invalid descriptor 400000");
}

TEST(ExpandTest, NestingDepthLimit) {
    // Sequence 300000 + k holds 300000 + k + 1; the last one holds one element.
    const auto chain = [](std::uint32_t levels) {
        TableSet tables;
        for (std::uint32_t k = 0; k < levels; ++k) {
            const std::uint32_t member = k + 1 == levels ? 1001 : 300000 + k + 1;
            tables.store_sequence({300000 + k, {member}});
        }
        return tables;
    };
    EXPECT_EQ(expand(chain(64), {300000}), (Codes{1001}));
    EXPECT_EQ(expand_error(chain(65), {300000}), "limit exceeded: sequence expansion exceeded recursion depth");
}

TEST(ExpandTest, OutputLengthIsBoundedAndFailsFast) {
    const TableSet tables;
    // 255^3 descriptors fit under the bound.
    const Codes fits = expand(tables, {103255, 102255, 101255, 1001});
    EXPECT_EQ(fits.size(), 255u * 255u * 255u);
    EXPECT_EQ(fits.back(), 1001u);

    EXPECT_EQ(expand_error(tables, {106255, 105255, 104255, 103255, 102255, 101255, 1001}),
              "limit exceeded: descriptor expansion exceeds 16777216 descriptors");
    // Repetitions that produce nothing are not walked again and again.
    Codes empty_nest;
    for (std::uint32_t x = 60; x >= 1; --x) empty_nest.push_back(100255 + x * 1000);
    empty_nest.push_back(201000);
    EXPECT_EQ(expand(tables, empty_nest), Codes{});
}

TEST(ExpandTest, WorkWithoutOutputIsBounded) {
    // Each sequence names the next one 200 times and the last is empty: 200^40 visits, no output.
    TableSet tables;
    for (std::uint32_t k = 0; k < 40; ++k) tables.store_sequence({300000 + k, Codes(200, 300000 + k + 1)});
    tables.store_sequence({300040, {}});
    EXPECT_EQ(expand_error(tables, {300000}), "limit exceeded: descriptor expansion exceeds 67108864 steps");
}

}  // namespace
}  // namespace corvane

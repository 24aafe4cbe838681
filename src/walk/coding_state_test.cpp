#include <gtest/gtest.h>

#include "walk/coding_state.hpp"
#include "walk/operators.hpp"

namespace corvane {
namespace {

// A bitmap over the history as it stands, with these entries.
void define_bitmap(ValueCodingState& state, std::initializer_list<std::uint8_t> entries) {
    state.bitmaps.expect(false);
    for (const std::uint8_t entry : entries) {
        ASSERT_TRUE(state.bitmaps.takes_entry(31031));
        state.bitmaps.add_entry(entry);
    }
    state.bitmaps.end_run();
}

TEST(CodingState, SubsetResetClearsOperatorsAndBitmapsButNotTheTextNumbering) {
    ElementDefinition a, b, c;
    ValueCodingState state;
    state.numbering = {4, 2};
    for (const std::uint32_t code : {201130u, 202129u, 203010u, 204008u, 206012u, 207002u, 208010u}) {
        detail::apply_operator(code, state.operators);
    }
    state.operators.new_references[1001] = -5;
    state.bitmaps.descriptor_history = {{&a}};
    state.bitmaps.expect(true);
    ASSERT_TRUE(state.bitmaps.takes_entry(31031));
    state.bitmaps.add_entry(0);

    state.reset_for_next_subset();
    EXPECT_EQ(state.operators, OperatorState{});
    EXPECT_EQ(state.numbering.text_counter, 4u);
    EXPECT_TRUE(state.bitmaps.descriptor_history.empty());
    EXPECT_EQ(state.bitmaps.phase(), BitmapPhase::Idle);
    state.bitmaps.reuse();
    EXPECT_EQ(state.bitmaps.in_use(), nullptr);
    // The next bitmap counts back from its own operator, not from the one before the reset.
    state.bitmaps.descriptor_history = {{&a}, {&b}, {&c}};
    define_bitmap(state, {0});
    auto referenced = state.next_bitmap_element();
    ASSERT_TRUE(referenced);
    EXPECT_EQ(referenced->entry.element, &c);
}

TEST(CodingState, NextBitmapElementSkipsAbsentEntriesAndCountsFromTheAnchor) {
    ElementDefinition a, b, c, d;
    ValueCodingState state;
    state.bitmaps.descriptor_history = {{&a}, {&b}, {&c}, {&d}};
    define_bitmap(state, {1, 0, 1, 2});
    auto first = state.next_bitmap_element();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->entry.element, &b);
    // Any entry other than 1 means present.
    auto second = state.next_bitmap_element();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->entry.element, &d);
    auto done = state.next_bitmap_element();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->entry.element, nullptr);

    // Anchor 1 with four entries counts from index 0, so entry 3 is past a history of three.
    ValueCodingState past;
    past.bitmaps.descriptor_history = {{&a}};
    define_bitmap(past, {1, 1, 1, 0});
    past.bitmaps.descriptor_history.push_back({&b});
    past.bitmaps.descriptor_history.push_back({&c});
    auto outside = past.next_bitmap_element();
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().render(), "invalid data: bitmap reference is outside descriptor history");
}

}  // namespace
}  // namespace corvane

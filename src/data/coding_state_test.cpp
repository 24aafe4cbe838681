#include <gtest/gtest.h>

#include "data/coding_state.hpp"

namespace corvane {
namespace {

TEST(CodingState, StartsWithTheInitialValues) {
    const ValueCodingState state;
    EXPECT_EQ(state.operators.reference_multiplier, 1);
    EXPECT_EQ(state.operators.width_delta, 0);
    EXPECT_EQ(state.operators.scale_delta, 0);
    EXPECT_EQ(state.operators.associated_field_width, 0);
    EXPECT_FALSE(state.operators.local_width_pending);
    EXPECT_FALSE(state.operators.text_width_set);
    EXPECT_EQ(state.bitmaps.phase(), BitmapPhase::Idle);
    EXPECT_EQ(state.bitmaps.in_use(), nullptr);
    EXPECT_TRUE(state.bitmaps.descriptor_history.empty());
}

TEST(CodingState, ResetKeepsOnlyTheTextNumbering) {
    ElementDefinition element;
    ValueCodingState state;
    state.numbering.text_counter = 4;
    state.operators.width_delta = 3;
    state.operators.reference_multiplier = 10;
    state.bitmaps.descriptor_history = {&element};
    state.bitmaps.expect(true);
    ASSERT_TRUE(state.bitmaps.takes_entry(31031));
    state.bitmaps.add_entry(0);
    state.operators.new_references[1001] = -5;
    state.operators.new_reference_width = 7;
    state.reset_for_next_subset();
    EXPECT_EQ(state.numbering.text_counter, 4u);
    EXPECT_EQ(state.operators.width_delta, 0);
    EXPECT_EQ(state.operators.reference_multiplier, 1);
    EXPECT_EQ(state.bitmaps.phase(), BitmapPhase::Idle);
    EXPECT_EQ(state.bitmaps.in_use(), nullptr);
    state.bitmaps.reuse();
    EXPECT_EQ(state.bitmaps.in_use(), nullptr);
    EXPECT_TRUE(state.bitmaps.descriptor_history.empty());
    EXPECT_TRUE(state.operators.new_references.empty());
    EXPECT_EQ(state.operators.new_reference_width, 0);
}

// A bitmap over the history as it stands, with these entries.
void define_bitmap(ValueCodingState& state, std::initializer_list<std::uint8_t> entries) {
    state.bitmaps.expect(false);
    for (const std::uint8_t entry : entries) {
        ASSERT_TRUE(state.bitmaps.takes_entry(31031));
        state.bitmaps.add_entry(entry);
    }
    state.bitmaps.end_run();
}

TEST(CodingState, NextBitmapElementSkipsAbsentEntriesAndCountsFromTheAnchor) {
    ElementDefinition a, b, c, d;
    ValueCodingState state;
    state.bitmaps.descriptor_history = {&a, &b, &c, &d};
    define_bitmap(state, {1, 0, 1, 2});
    auto first = state.next_bitmap_element();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, &b);
    // Any entry other than 1 means present.
    auto second = state.next_bitmap_element();
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, &d);
    auto done = state.next_bitmap_element();
    ASSERT_TRUE(done);
    EXPECT_EQ(*done, nullptr);

    // Anchor 1 with four entries counts from index 0, so entry 3 is past a history of three.
    ValueCodingState past;
    past.bitmaps.descriptor_history = {&a};
    define_bitmap(past, {1, 1, 1, 0});
    past.bitmaps.descriptor_history.push_back(&b);
    past.bitmaps.descriptor_history.push_back(&c);
    auto outside = past.next_bitmap_element();
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().render(), "csv/table parse error: bitmap reference is outside descriptor history");
}

}  // namespace
}  // namespace corvane

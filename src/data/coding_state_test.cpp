#include <gtest/gtest.h>

#include "data/coding_state.hpp"

namespace corvane {
namespace {

TEST(CodingState, StartsWithTheInitialValues) {
    const ValueCodingState state;
    EXPECT_EQ(state.reference_multiplier, 1);
    EXPECT_EQ(state.width_delta, 0);
    EXPECT_EQ(state.scale_delta, 0);
    EXPECT_EQ(state.associated_field_width, 0);
    EXPECT_FALSE(state.local_width_pending);
    EXPECT_FALSE(state.text_width_set);
    EXPECT_FALSE(state.defining_bitmap);
    EXPECT_TRUE(state.bitmap.empty());
    EXPECT_TRUE(state.descriptor_history.empty());
}

TEST(CodingState, ResetKeepsOnlyTheTextNumbering) {
    ElementDefinition element;
    ValueCodingState state;
    state.text_counter = 4;
    state.width_delta = 3;
    state.reference_multiplier = 10;
    state.defining_bitmap = true;
    state.bitmap = {0, 1};
    state.descriptor_history = {&element};
    state.new_references[1001] = -5;
    state.new_reference_width = 7;
    state.reset_for_next_subset();
    EXPECT_EQ(state.text_counter, 4u);
    EXPECT_EQ(state.width_delta, 0);
    EXPECT_EQ(state.reference_multiplier, 1);
    EXPECT_FALSE(state.defining_bitmap);
    EXPECT_TRUE(state.bitmap.empty());
    EXPECT_TRUE(state.descriptor_history.empty());
    EXPECT_TRUE(state.new_references.empty());
    EXPECT_EQ(state.new_reference_width, 0);
}

TEST(CodingState, NextBitmapElementSkipsAbsentEntriesAndCountsFromTheAnchor) {
    ElementDefinition a, b, c, d;
    ValueCodingState state;
    state.descriptor_history = {&a, &b, &c, &d};
    state.bitmap = {1, 0, 1, 2};
    state.bitmap_anchor = 4;
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
    state.descriptor_history = {&a, &b, &c};
    state.bitmap = {1, 1, 1, 0};
    state.bitmap_anchor = 1;
    state.bitmap_cursor = 0;
    auto outside = state.next_bitmap_element();
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().render(), "csv/table parse error: bitmap reference is outside descriptor history");
}

}  // namespace
}  // namespace corvane

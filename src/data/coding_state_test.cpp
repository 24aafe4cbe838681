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
    EXPECT_EQ(state.bitmap_phase(), BitmapPhase::Idle);
    EXPECT_EQ(state.bitmap_in_use(), nullptr);
    EXPECT_TRUE(state.descriptor_history.empty());
}

TEST(CodingState, ResetKeepsOnlyTheTextNumbering) {
    ElementDefinition element;
    ValueCodingState state;
    state.text_counter = 4;
    state.width_delta = 3;
    state.reference_multiplier = 10;
    state.descriptor_history = {&element};
    state.expect_bitmap(true);
    ASSERT_TRUE(state.takes_bitmap_entry(31031));
    state.add_bitmap_entry(0);
    state.new_references[1001] = -5;
    state.new_reference_width = 7;
    state.reset_for_next_subset();
    EXPECT_EQ(state.text_counter, 4u);
    EXPECT_EQ(state.width_delta, 0);
    EXPECT_EQ(state.reference_multiplier, 1);
    EXPECT_EQ(state.bitmap_phase(), BitmapPhase::Idle);
    EXPECT_EQ(state.bitmap_in_use(), nullptr);
    state.reuse_bitmap();
    EXPECT_EQ(state.bitmap_in_use(), nullptr);
    EXPECT_TRUE(state.descriptor_history.empty());
    EXPECT_TRUE(state.new_references.empty());
    EXPECT_EQ(state.new_reference_width, 0);
}

// A bitmap over the history as it stands, with these entries.
void define_bitmap(ValueCodingState& state, std::initializer_list<std::uint8_t> entries) {
    state.expect_bitmap(false);
    for (const std::uint8_t entry : entries) {
        ASSERT_TRUE(state.takes_bitmap_entry(31031));
        state.add_bitmap_entry(entry);
    }
    state.end_bitmap_run();
}

TEST(CodingState, NextBitmapElementSkipsAbsentEntriesAndCountsFromTheAnchor) {
    ElementDefinition a, b, c, d;
    ValueCodingState state;
    state.descriptor_history = {&a, &b, &c, &d};
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
    past.descriptor_history = {&a};
    define_bitmap(past, {1, 1, 1, 0});
    past.descriptor_history.push_back(&b);
    past.descriptor_history.push_back(&c);
    auto outside = past.next_bitmap_element();
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().render(), "csv/table parse error: bitmap reference is outside descriptor history");
}

}  // namespace
}  // namespace corvane

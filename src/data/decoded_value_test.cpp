#include <gtest/gtest.h>

#include "data/decoded_value.hpp"

namespace corvane {
namespace {

TEST(ValueList, BlocksKeepTheOrderAndFreeOneAtATime) {
    ValueList list;
    constexpr std::size_t kCount = 4096 + 8192 + 5;  // into the third block
    for (std::size_t i = 0; i < kCount; ++i) list.append().descriptor = static_cast<std::uint32_t>(i);
    ASSERT_EQ(list.size(), kCount);
    for (const std::size_t i :
         {std::size_t{0}, std::size_t{4095}, std::size_t{4096}, std::size_t{12287}, std::size_t{12288}, kCount - 1}) {
        EXPECT_EQ(list[i].descriptor, i);
    }
    ASSERT_EQ(list.block_count(), 3u);
    std::size_t next = 0;
    for (std::size_t b = 0; b < list.block_count(); ++b) {
        for (const DecodedValue& value : list.block(b)) EXPECT_EQ(value.descriptor, next++);
    }
    EXPECT_EQ(next, kCount);
    list.release_block(0);
    EXPECT_EQ(list.back().descriptor, kCount - 1);
    EXPECT_EQ(list.block(1).front().descriptor, 4096u);

    ValueList moved(std::move(list));
    EXPECT_EQ(moved.size(), kCount);
    EXPECT_TRUE(list.empty());
    list.append().descriptor = 7;
    EXPECT_EQ(list[0].descriptor, 7u);
    EXPECT_EQ(moved.back().descriptor, kCount - 1);
}

}  // namespace
}  // namespace corvane

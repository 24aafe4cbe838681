#include "error/error.hpp"

#include <gtest/gtest.h>

namespace corvane {
namespace {

// The tests of the code that raises each kind check its text; no parser raises this one.
TEST(BufrErrorTest, OddDescriptorAreaStillRenders) {
    EXPECT_EQ(BufrError::odd_descriptor_area().render(), "section 3 descriptor area has odd byte count");
}

TEST(BufrErrorTest, CodesPadToSixDigitsButNeverTruncate) {
    EXPECT_EQ(BufrError::element_not_found(12345678).render(), "descriptor 12345678 was not found in Table B");
}

}  // namespace
}  // namespace corvane

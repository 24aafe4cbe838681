#include "error/error.hpp"

#include <gtest/gtest.h>

#include <utility>

namespace corvane {
namespace {

// The tests of the code that raises each kind check its text; no parser raises this one.
TEST(BufrErrorTest, OddDescriptorAreaStillRenders) {
    EXPECT_EQ(BufrError::odd_descriptor_area().render(), "section 3 descriptor area has odd byte count");
}

TEST(BufrErrorTest, CodesPadToSixDigitsButNeverTruncate) {
    EXPECT_EQ(BufrError::element_not_found(12345678).render(), "descriptor 12345678 was not found in Table B");
}

// Each kind names itself, and _corvane's wording folds them all into its one parse prefix
// while leaving the other kinds alone.
TEST(BufrErrorTest, KindsFromOneTextEachHaveAPrefixThatOneParsePrefixReplaces) {
    const std::pair<BufrError, const char*> cases[] = {
        {BufrError::table_file("t"), "table file error: t"},   {BufrError::data_truncated("t"), "data truncated: t"},
        {BufrError::limit_exceeded("t"), "limit exceeded: t"}, {BufrError::unsupported("t"), "unsupported: t"},
        {BufrError::invalid_data("t"), "invalid data: t"},     {BufrError::bad_argument("t"), "bad argument: t"},
    };
    for (const auto& [error, by_kind] : cases) {
        EXPECT_EQ(error.render(), by_kind);
        EXPECT_EQ(error.render(Wording::OneParsePrefix), "csv/table parse error: t") << by_kind;
    }
    EXPECT_EQ(BufrError::io_invalid_utf8().render(Wording::OneParsePrefix),
              "io error: stream did not contain valid UTF-8");
}

}  // namespace
}  // namespace corvane

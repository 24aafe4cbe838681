#include "descriptor/descriptor.hpp"

#include <gtest/gtest.h>

namespace corvane {
namespace {

std::string failure_of(std::string_view text) {
    auto code = parse_code(text);
    return code.ok() ? "ok" : code.error().render();
}

TEST(ParseCodeTest, AcceptsTableSpellings) {
    EXPECT_EQ(*parse_code("001001"), 1001u);
    EXPECT_EQ(*parse_code("  \"001001\"  "), 1001u);
    EXPECT_EQ(*parse_code("+12"), 12u);
    EXPECT_EQ(*parse_code("1"), 1u);
    EXPECT_EQ(*parse_code("\t301011\r\n"), 301011u);
    EXPECT_EQ(*parse_code("\xC2\xA0"
                          "7\xE3\x80\x80"),
              7u);  // no-break and ideographic spaces
    EXPECT_EQ(*parse_code("4294967295"), 4294967295u);
}

TEST(ParseCodeTest, RefusesWithTheQuotedOriginalText) {
    EXPECT_EQ(failure_of(" 12x"), "table file error: bad descriptor code \" 12x\": invalid digit found in string");
    EXPECT_EQ(failure_of("\" 001001\""),
              "table file error: bad descriptor code \"\\\" 001001\\\"\": invalid digit found in string");
    EXPECT_EQ(failure_of("-12"), "table file error: bad descriptor code \"-12\": invalid digit found in string");
    EXPECT_EQ(failure_of(""), "table file error: bad descriptor code \"\": cannot parse integer from empty string");
    EXPECT_EQ(failure_of(" \"\" "),
              "table file error: bad descriptor code \" \\\"\\\" \": cannot parse integer from empty string");
    EXPECT_EQ(failure_of("4294967296"),
              "table file error: bad descriptor code \"4294967296\": number too large to fit in target type");
}

TEST(DescriptorTest, SplitsAndJoinsCodes) {
    EXPECT_EQ((Descriptor{0, 1, 1}).fxy(), 1001u);
    EXPECT_EQ((Descriptor{255, 255, 255}).fxy(), 25755255u);
    const Descriptor wrapped = Descriptor::from_fxy(1300);
    EXPECT_EQ(wrapped.f, 0);
    EXPECT_EQ(wrapped.x, 1);
    EXPECT_EQ(wrapped.y, 44);
    EXPECT_EQ(descriptor_f(1000000), 10u);
    EXPECT_EQ(descriptor_f(25600000), 0u);
    EXPECT_EQ(descriptor_y(101300), 44u);
    EXPECT_TRUE(is_class31(31031));
    EXPECT_TRUE(is_class31(131000));
    EXPECT_FALSE(is_class31(30999));
}

}  // namespace
}  // namespace corvane

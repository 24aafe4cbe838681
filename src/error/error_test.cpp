#include "error/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace corvane {
namespace {

TEST(BufrErrorTest, RendersEveryKind) {
    EXPECT_EQ(BufrError::message_too_short().render(), "message is too short to be BUFR");
    EXPECT_EQ(BufrError::missing_marker().render(), "missing BUFR marker");
    EXPECT_EQ(BufrError::unsupported_edition(3).render(), "unsupported BUFR edition 3; only edition 4 is implemented");
    EXPECT_EQ(BufrError::length_mismatch(200, 100).render(), "declared length 200 does not match buffer length 100");
    EXPECT_EQ(BufrError::truncated_section(1, 8).render(), "section 1 at offset 8 is truncated");
    EXPECT_EQ(BufrError::bad_end_marker().render(), "section 5 terminator is not 7777");
    EXPECT_EQ(BufrError::odd_descriptor_area().render(), "section 3 descriptor area has odd byte count");
    EXPECT_EQ(BufrError::sequence_not_found(301999).render(), "descriptor 301999 was not found in Table D");
    EXPECT_EQ(BufrError::incomplete_delayed_replication(101000).render(),
              "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors");
    EXPECT_EQ(BufrError::unsupported_replication(102002).render(), "unsupported replication descriptor 102002");
    EXPECT_EQ(BufrError::element_not_found(1001).render(), "descriptor 001001 was not found in Table B");
    EXPECT_EQ(BufrError::parse("boom").render(), "csv/table parse error: boom");
    EXPECT_EQ(BufrError::io_invalid_utf8().render(), "io error: stream did not contain valid UTF-8");
    EXPECT_EQ(BufrError::io_errno(ENOENT).render(), "io error: No such file or directory (os error 2)");
    EXPECT_EQ(BufrError::not_regular_file("/dev/zero").render(), "not a regular file: /dev/zero");
}

TEST(BufrErrorTest, CodesPadToSixDigitsButNeverTruncate) {
    EXPECT_EQ(BufrError::element_not_found(12345678).render(), "descriptor 12345678 was not found in Table B");
}

}  // namespace
}  // namespace corvane

#include "message/message.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "files/files.hpp"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put24(Bytes& bytes, std::size_t at, std::uint64_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 16);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 2] = static_cast<std::uint8_t>(value);
}

// A message with a 22-byte section 1, optional section 2, the given descriptors and data bytes.
Bytes make_message(const std::vector<std::uint16_t>& descriptors, const Bytes& data = {}, std::size_t section2 = 0) {
    Bytes m = {'B', 'U', 'F', 'R', 0, 0, 0, 4};
    Bytes s1(22, 0);
    put24(s1, 0, 22);
    s1[3] = 0;              // master table
    s1[4] = 0, s1[5] = 98;  // centre
    s1[9] = section2 ? 0x80 : 0;
    s1[10] = 2;                    // category
    s1[13] = 39;                   // master version
    s1[15] = 0x07, s1[16] = 0xE4;  // 2020
    s1[17] = 5, s1[18] = 6, s1[19] = 7, s1[20] = 8, s1[21] = 9;
    m.insert(m.end(), s1.begin(), s1.end());
    if (section2) {
        Bytes s2(section2, 0xEE);
        put24(s2, 0, section2);
        m.insert(m.end(), s2.begin(), s2.end());
    }
    Bytes s3(7 + 2 * descriptors.size(), 0);
    put24(s3, 0, s3.size());
    s3[5] = 2;  // two subsets
    s3[6] = 0xC0;
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        s3[7 + 2 * i] = static_cast<std::uint8_t>(descriptors[i] >> 8);
        s3[8 + 2 * i] = static_cast<std::uint8_t>(descriptors[i]);
    }
    m.insert(m.end(), s3.begin(), s3.end());
    Bytes s4(4 + data.size(), 0);
    put24(s4, 0, s4.size());
    std::copy(data.begin(), data.end(), s4.begin() + 4);
    m.insert(m.end(), s4.begin(), s4.end());
    m.insert(m.end(), {'7', '7', '7', '7'});
    put24(m, 4, m.size());
    return m;
}

std::string error_of(const Bytes& bytes) {
    auto message = parse_message(bytes);
    return message.ok() ? "ok" : message.error().render();
}

TEST(ParseMessageTest, ReadsEverySection) {
    const Bytes bytes = make_message({0x0101, 0xC10B}, {0xAA, 0xBB, 0xCC}, 6);
    auto message = parse_message(bytes);
    ASSERT_TRUE(message.ok()) << message.error().render();
    EXPECT_EQ(message->total_length, bytes.size());
    EXPECT_EQ(message->edition, 4);
    EXPECT_EQ(message->section1_length, 22u);
    EXPECT_EQ(message->originating_centre, 98);
    EXPECT_TRUE(message->local_section_present);
    EXPECT_EQ(message->section2_length, 6u);
    EXPECT_EQ(message->section2_data_offset, 8u + 22u + 4u);
    EXPECT_EQ(message->section2_data(bytes).size(), 2u);
    EXPECT_EQ(message->data_category, 2);
    EXPECT_EQ(message->master_tables_version_number, 39);
    EXPECT_EQ(message->typical_year, 2020);
    EXPECT_EQ(message->typical_second, 9);
    EXPECT_EQ(message->number_of_subsets, 2);
    EXPECT_TRUE(message->observed_data);
    EXPECT_TRUE(message->compressed_data);
    EXPECT_EQ(message->unexpanded_descriptors, (std::vector<std::uint32_t>{1001, 301011}));
    EXPECT_EQ(message->section4_length, 7u);
    const auto data = message->section4_data(bytes);
    EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes{0xAA, 0xBB, 0xCC}));
}

TEST(ParseMessageTest, SmallestValidMessage) {
    const Bytes bytes = make_message({});
    ASSERT_EQ(bytes.size(), 45u);
    auto message = parse_message(bytes);
    ASSERT_TRUE(message.ok());
    EXPECT_EQ(message->section4_data_offset, 41u);
    EXPECT_EQ(message->section4_data_length, 0u);
    EXPECT_TRUE(message->unexpanded_descriptors.empty());
}

TEST(ParseMessageTest, ChecksRunInOrder) {
    EXPECT_EQ(error_of(Bytes(7, 'B')), "message is too short to be BUFR");
    EXPECT_EQ(error_of({'B', 'U', 'F', 'R', 0, 0, 8, 4}), "section 1 at offset 8 is truncated");
    EXPECT_EQ(error_of({'X', 'U', 'F', 'R', 0, 0, 8, 4}), "missing BUFR marker");
    Bytes bytes = make_message({0x0101});
    bytes[7] = 3;
    EXPECT_EQ(error_of(bytes), "unsupported BUFR edition 3; only edition 4 is implemented");
    bytes = make_message({0x0101});
    Bytes doubled = bytes;
    doubled.insert(doubled.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(error_of(doubled), "declared length 47 does not match buffer length 94");
    bytes = make_message({0x0101});
    bytes[bytes.size() - 1] = '8';
    EXPECT_EQ(error_of(bytes), "section 5 terminator is not 7777");
    bytes = make_message({0x0101});
    put24(bytes, 8, 500);
    EXPECT_EQ(error_of(bytes), "section 1 at offset 8 is truncated");
}

TEST(ParseMessageTest, Section3AndSection4Lengths) {
    // One padding octet, of any value, after the descriptors of an odd descriptor area.
    Bytes bytes = make_message({0x0101});
    bytes.insert(bytes.begin() + 39, 0xFF);
    put24(bytes, 30, 10);
    put24(bytes, 4, bytes.size());
    auto padded = parse_message(bytes);
    ASSERT_TRUE(padded.ok()) << padded.error().render();
    EXPECT_EQ(padded->unexpanded_descriptors, (std::vector<std::uint32_t>{1001}));
    EXPECT_EQ(padded->section4_data_offset, 44u);
    put24(bytes, 30, 6);
    EXPECT_EQ(error_of(bytes), "section 3 at offset 30 is truncated");

    // A section 4 of length 3: "7777" right after it, data area empty.
    bytes = make_message({});
    bytes.pop_back();
    put24(bytes, 37, 3);
    bytes[40] = '7';
    put24(bytes, 4, bytes.size());
    auto message = parse_message(bytes);
    ASSERT_TRUE(message.ok()) << message.error().render();
    EXPECT_EQ(message->section4_data_offset, 41u);
    EXPECT_EQ(message->section4_data_length, 0u);
}

TEST(ParseMessageTest, AnyFlagBitMeansSection2) {
    Bytes bytes = make_message({0x0101});
    bytes[17] = 0x01;
    EXPECT_EQ(error_of(bytes), "section 3 at offset 39 is truncated");  // the section-3 length was read as section 2
}

TEST(ParseMessageTest, ShortSection1CannotReadPastTheBuffer) {
    // Section 1 declared as 3 bytes: the framing fits in 25 bytes, but the fixed fields do not.
    Bytes bytes = {'B', 'U', 'F', 'R', 0, 0, 25, 4, 0, 0, 3, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 4, '7', '7', '7'};
    bytes.push_back('7');
    put24(bytes, 4, bytes.size());
    EXPECT_NE(error_of(bytes), "ok");
    for (std::size_t length = 0; length < 30; ++length) {
        Bytes prefix(bytes.begin(), bytes.begin() + std::min(length, bytes.size()));
        if (prefix.size() >= 7) put24(prefix, 4, prefix.size());
        EXPECT_NE(error_of(prefix), "ok");
    }
}

TEST(SplitMessagesTest, FindsMessagesAndSkipsNoise) {
    const Bytes one = make_message({0x0101});
    Bytes buffer = {'x', 'B', 'U', 'F'};
    buffer.insert(buffer.end(), one.begin(), one.end());
    buffer.insert(buffer.end(), {'j', 'u', 'n', 'k'});
    buffer.insert(buffer.end(), one.begin(), one.end());
    auto ranges = split_messages(buffer);
    ASSERT_TRUE(ranges.ok());
    ASSERT_EQ(ranges->size(), 2u);
    EXPECT_EQ((*ranges)[0].offset, 4u);
    EXPECT_EQ((*ranges)[1].offset, 4u + one.size() + 4u);
    EXPECT_TRUE(split_messages(Bytes{'n', 'o', 'n', 'e'})->empty());
}

TEST(SplitMessagesTest, TruncatedOrShortMarkers) {
    auto ranges = split_messages(Bytes{'a', 'B', 'U', 'F', 'R', 0, 0});
    ASSERT_FALSE(ranges.ok());
    EXPECT_EQ(ranges.error().render(), "message is too short to be BUFR");
    ranges = split_messages(Bytes{'a', 'a', 'B', 'U', 'F', 'R', 0, 1, 0, 4});
    ASSERT_FALSE(ranges.ok());
    EXPECT_EQ(ranges.error().render(), "section 0 at offset 2 is truncated");
}

TEST(SplitMessagesTest, ZeroDeclaredLengthStillMovesOn) {
    Bytes buffer = {'B', 'U', 'F', 'R', 0, 0, 0, 4, 'B', 'U', 'F', 'R', 0, 0, 0, 4};
    auto ranges = split_messages(buffer);
    ASSERT_TRUE(ranges.ok());
    ASSERT_EQ(ranges->size(), 2u);
    EXPECT_EQ((*ranges)[0].length, 0u);
    EXPECT_EQ((*ranges)[1].offset, 8u);
    EXPECT_EQ(parse_message({}).error().render(), "message is too short to be BUFR");
}

TEST(RealFilesTest, SynopFileHoldsFortyFourMessages) {
    auto bytes = read_whole_file(CORVANE_TEST_DATA "/bufr/dwd-synop-44msgs.bufr");
    ASSERT_TRUE(bytes.ok()) << bytes.error().render();
    auto ranges = split_messages(*bytes);
    ASSERT_TRUE(ranges.ok());
    ASSERT_EQ(ranges->size(), 44u);
    for (const ByteRange& range : *ranges) {
        auto message = parse_message(std::span<const std::uint8_t>(*bytes).subspan(range.offset, range.length));
        ASSERT_TRUE(message.ok()) << message.error().render();
        EXPECT_EQ(message->originating_centre, 78);
    }
}

// An edition-3 message as the regulations lay it out: an 18-octet section 1, a section 2, and
// sections 3 and 4 padded to even lengths.
Bytes make_edition3_message() {
    Bytes m = {'B', 'U', 'F', 'R', 0, 0, 0, 3};
    const Bytes s1 = {0, 0, 18, 0, 7, 98, 3, 0x80, 2, 101, 13, 1, 12, 10, 30, 22, 39, 0};
    const Bytes s2 = {0, 0, 4, 0};
    const Bytes s3 = {0, 0, 12, 0, 0, 2, 0x80, 0x01, 0x01, 0xC1, 0x0B, 0};
    const Bytes s4 = {0, 0, 6, 0, 0xAB, 0};
    for (const Bytes* section : {&s1, &s2, &s3, &s4}) m.insert(m.end(), section->begin(), section->end());
    m.insert(m.end(), {'7', '7', '7', '7'});
    put24(m, 4, m.size());
    return m;
}

TEST(ParseAnyEditionTest, ReadsSection1OfEditionsTwoAndThree) {
    Bytes bytes = make_edition3_message();
    auto message = parse_any_edition(bytes);
    ASSERT_TRUE(message.ok()) << message.error().render();
    EXPECT_EQ(message->edition, 3);
    EXPECT_EQ(message->originating_centre, 98);
    EXPECT_EQ(message->originating_subcentre, 7);
    EXPECT_EQ(message->update_sequence_number, 3);
    EXPECT_EQ(message->section2_length, 4u);
    EXPECT_EQ(message->data_category, 2);
    EXPECT_EQ(message->international_data_subcategory, 255);
    EXPECT_EQ(message->local_data_subcategory, 101);
    EXPECT_EQ(message->master_tables_version_number, 13);
    EXPECT_EQ(message->local_tables_version_number, 1);
    EXPECT_EQ(message->typical_year, 2012);
    EXPECT_EQ(message->typical_month, 10);
    EXPECT_EQ(message->typical_minute, 39);
    EXPECT_EQ(message->typical_second, 0);
    EXPECT_EQ(message->number_of_subsets, 2);
    EXPECT_EQ(message->unexpanded_descriptors, (std::vector<std::uint32_t>{1001, 301011}));
    EXPECT_EQ(message->section4_data(bytes)[0], 0xAB);

    bytes[7] = 2;  // the same octets name one two-octet centre
    message = parse_any_edition(bytes);
    ASSERT_TRUE(message.ok()) << message.error().render();
    EXPECT_EQ(message->originating_centre, 7 * 256 + 98);
    EXPECT_EQ(message->originating_subcentre, 0);

    for (const auto& [year_of_century, year] : {std::pair{0, 2000}, {49, 2049}, {50, 1950}, {99, 1999}, {100, 2000}}) {
        bytes[20] = static_cast<std::uint8_t>(year_of_century);
        EXPECT_EQ(parse_any_edition(bytes)->typical_year, year) << year_of_century;
    }
}

TEST(ParseAnyEditionTest, EditionFourAsParseMessageAndNoOtherEditions) {
    Bytes bytes = make_message({0x0101});
    EXPECT_EQ(parse_any_edition(bytes)->unexpanded_descriptors, (std::vector<std::uint32_t>{1001}));
    bytes.back() = '8';
    EXPECT_EQ(parse_any_edition(bytes).error().render(), "section 5 terminator is not 7777");
    bytes[7] = 1;
    EXPECT_EQ(parse_any_edition(bytes).error().render(),
              "unsupported BUFR edition 1; only editions 2, 3 and 4 are implemented");
}

TEST(ParseAnyEditionTest, NoPrefixReadsPastTheBuffer) {
    const Bytes bytes = make_edition3_message();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        Bytes prefix(bytes.begin(), bytes.begin() + length);
        if (length >= 7) put24(prefix, 4, length);
        EXPECT_FALSE(parse_any_edition(prefix).ok()) << length;
    }
}

TEST(ScanMessagesTest, KeepsTheGoodMessagesAroundBadOnes) {
    Bytes good = make_message({0x0101});
    Bytes overlong = make_edition3_message();
    put24(overlong, 4, overlong.size() + 10);  // runs into the next message
    Bytes buffer = {'j', 'u', 'n', 'k'};
    for (const Bytes* part : {&good, &overlong, &good}) buffer.insert(buffer.end(), part->begin(), part->end());
    buffer.insert(buffer.end(), {'B', 'U', 'F', 'R', 0, 1, 0, 4, 'B', 'U', 'F', 'R', 0});
    const std::size_t second_good = 4 + good.size() + overlong.size();
    const std::size_t truncated = second_good + good.size();

    std::vector<std::tuple<std::size_t, std::size_t, std::string>> seen;
    for (const ScannedMessage& found : scan_messages(buffer)) {
        seen.emplace_back(found.range.offset, found.range.length, found.error ? found.error->render() : "");
    }
    const decltype(seen) expected = {
        {4, good.size(), ""},
        {4 + good.size(), overlong.size(), "section 5 terminator is not 7777"},
        {second_good, good.size(), ""},
        {truncated, 8, "section 0 at offset " + std::to_string(truncated) + " is truncated"},
        {truncated + 8, 5, "message is too short to be BUFR"},
    };
    EXPECT_EQ(seen, expected);

    // Window after window, cut anywhere, finds what one scan finds.
    for (std::size_t cut = 0; cut <= buffer.size(); ++cut) {
        const std::span<const std::uint8_t> whole(buffer);
        ScannedPrefix first = scan_complete_messages(whole.first(cut), 0);
        ASSERT_LE(first.resume, cut);
        for (ScannedMessage& found : scan_messages(whole.subspan(first.resume), first.resume)) {
            found.range.offset += first.resume;
            first.messages.push_back(std::move(found));
        }
        decltype(seen) windowed;
        for (const ScannedMessage& found : first.messages) {
            windowed.emplace_back(found.range.offset, found.range.length, found.error ? found.error->render() : "");
        }
        EXPECT_EQ(windowed, expected) << cut;
    }

    // Bytes after "7777" inside the declared length, with no marker among them, stay with
    // their message.
    Bytes trailing = make_edition3_message();
    trailing.insert(trailing.end(), {0, 0});
    put24(trailing, 4, trailing.size());
    const auto found = scan_messages(trailing);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].error.has_value());
    EXPECT_TRUE(parse_any_edition(trailing).ok());
}

TEST(RealFilesTest, EditionThreeFilesParse) {
    // Offsets, lengths and table versions as ecCodes reports them.
    struct Expected {
        std::size_t offset, length;
        std::uint8_t master_version;
    };
    const std::vector<std::pair<const char*, std::vector<Expected>>> files = {
        {"edition3-sample.bufr", {{0, 244, 15}}},
        {"pdbufr-syn_new.bufr", {{0, 360, 14}, {360, 318, 16}, {678, 316, 16}}},      // section 1 of 22 and 24
        {"pybufrkit-amda_144.bufr", {{0, 172, 13}, {176, 172, 13}, {352, 172, 13}}},  // bytes between messages
    };
    for (const auto& [name, expected] : files) {
        auto bytes = read_whole_file(std::string(CORVANE_TEST_DATA "/bufr/") + name);
        ASSERT_TRUE(bytes.ok()) << bytes.error().render();
        const auto found = scan_messages(*bytes);
        ASSERT_EQ(found.size(), expected.size()) << name;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].range.offset, expected[i].offset) << name;
            EXPECT_EQ(found[i].range.length, expected[i].length) << name;
            const ByteRange range = found[i].range;
            auto message = parse_any_edition(std::span<const std::uint8_t>(*bytes).subspan(range.offset, range.length));
            ASSERT_TRUE(message.ok()) << name << ": " << message.error().render();
            EXPECT_EQ(message->edition, 3) << name;
            EXPECT_EQ(message->master_tables_version_number, expected[i].master_version) << name;
        }
    }
}

}  // namespace
}  // namespace corvane

#include <string>

#include <gtest/gtest.h>

#include "data/decoder.hpp"
#include "files/files.hpp"
#include "tables/definitions_loader.hpp"

namespace corvane {
namespace {

const std::string kData = CORVANE_TEST_DATA;
const std::string kDefinitions = kData + "/tables/definitions";

struct Decoded {
    TableSet tables;
    DecodedValues values;
};

// Decodes message `index` of a test file with the tables its section 1 names.
Decoded decode_file(const std::string& name, std::size_t index = 0) {
    auto bytes = read_whole_file(kData + "/bufr/" + name);
    EXPECT_TRUE(bytes) << name;
    auto ranges = split_messages(*bytes);
    EXPECT_TRUE(ranges && ranges->size() > index) << name;
    const ByteRange range = (*ranges)[index];
    const std::span<const std::uint8_t> message_bytes(bytes->data() + range.offset, range.length);
    auto message = parse_message(message_bytes);
    EXPECT_TRUE(message) << (message ? "" : message.error().render());
    auto tables = from_eccodes_definitions(kDefinitions, *message);
    EXPECT_TRUE(tables) << (tables ? "" : tables.error().render());
    Decoded decoded{std::move(*tables), {}};
    auto values = decode_uncompressed_values(*message, decoded.tables, message->section4_data(message_bytes));
    EXPECT_TRUE(values) << (values ? "" : values.error().render());
    if (values) decoded.values = std::move(*values);
    return decoded;
}

TEST(RealDataDecode, UncompressedSynopReports) {
    const Decoded first = decode_file("dwd-synop-44msgs.bufr");
    const auto& v = first.values;
    ASSERT_EQ(v.size(), 3573u);
    EXPECT_EQ(v[0].descriptor, 1001u);
    EXPECT_EQ(v[0].raw_value(), 10.0);
    EXPECT_EQ(v[2].raw_text(), "GLUECKSBURG-MEIERWIK");
    EXPECT_EQ(v[9].raw_value(), 54.82722);
    EXPECT_EQ(v[10].raw_value(), 9.5083);
    for (std::size_t index = 1; index < 44; ++index) {
        EXPECT_FALSE(decode_file("dwd-synop-44msgs.bufr", index).values.empty()) << index;
    }
}

TEST(RealDataDecode, CompressedSynopReportsAreRegroupedBySubset) {
    const Decoded decoded = decode_file("synop-cloudbelow.bufr");
    const auto& v = decoded.values;
    ASSERT_EQ(v.size(), 2684u);
    const std::size_t per_subset = v.size() / 22;
    EXPECT_EQ(v[1].raw_value(), 406.0);
    EXPECT_EQ(v[2].raw_text(), "Cheb");
    EXPECT_EQ(v[per_subset + 1].raw_value(), 414.0);
    EXPECT_EQ(v[per_subset + 2].raw_text(), "Karlovy Vary");
    EXPECT_EQ(v[9].raw_value(), 50.07361);
    EXPECT_EQ(*v[3].raw_meaning, "MANNED STATION");
}

TEST(RealDataDecode, CharacterDataAtTheEndOfATemp) {
    const Decoded decoded = decode_file("IUSK73_AMMC_182300.bufr");
    ASSERT_EQ(decoded.values.size(), 1310u);
    const DecodedValue& last = decoded.values.back();
    EXPECT_EQ(last.descriptor, 205060u);
    EXPECT_EQ(*last.name, "characterData");
    EXPECT_EQ(last.raw_text(), "Manual stop");
    // High bytes become question marks; the trailing blanks go.
    const Decoded padded = decode_file("C05060.bufr");
    ASSERT_EQ(padded.values.size(), 815u);
    EXPECT_EQ(padded.values.back().raw_text(), "??????????");
}

}  // namespace
}  // namespace corvane

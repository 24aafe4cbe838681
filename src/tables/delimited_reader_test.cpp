#include "tables/delimited_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::TempDir;

bool operator==(const RecordPosition& a, const RecordPosition& b) {
    return a.record == b.record && a.line == b.line && a.byte == b.byte;
}

struct Record {
    std::vector<std::string> fields;
    RecordPosition position;
    bool operator==(const Record&) const = default;
};

// Every record of one reader, or the rendered error that stopped the reading.
std::string read_records(DelimitedReader& reader, std::vector<Record>& records) {
    for (;;) {
        Result<bool> more = reader.read_record();
        if (!more) return more.error().render();
        if (!*more) return "";
        Record record{{}, reader.position()};
        for (std::string_view field : reader.fields()) record.fields.emplace_back(field);
        records.push_back(std::move(record));
    }
}

// Reads `content` from a file, and from memory, which must give the same records and error.
std::string read_all(const TempDir& dir, std::string_view content, DelimitedDialect dialect,
                     std::vector<Record>& records) {
    Result<DelimitedReader> reader = DelimitedReader::open(dir.write("input.txt", content), dialect);
    if (!reader) return reader.error().render();
    const std::string outcome = read_records(*reader, records);
    DelimitedReader in_memory = DelimitedReader::over(content, dialect);
    std::vector<Record> from_memory;
    EXPECT_EQ(read_records(in_memory, from_memory), outcome);
    EXPECT_EQ(from_memory, records);
    return outcome;
}

using Fields = std::vector<std::string>;

TEST(DelimitedReaderTest, QuotingFollowsTheDialect) {
    TempDir dir;
    std::vector<Record> records;
    ASSERT_EQ(read_all(dir, "a,\"b,\"\"c\"\"\nd\",e\n\"ab\"cd,x\"y,\"\"\nq,r,\"open", {',', std::nullopt}, records),
              "");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].fields, (Fields{"a", "b,\"c\"\nd", "e"}));
    EXPECT_EQ(records[1].fields, (Fields{"abcd", "x\"y", ""}));
    EXPECT_EQ(records[2].fields, (Fields{"q", "r", "open"}));
}

TEST(DelimitedReaderTest, RecordEndsBlankLinesAndPositions) {
    TempDir dir;
    std::vector<Record> records;
    ASSERT_EQ(read_all(dir, "a,b\r\n\r\nc,d\re,f\n\n\ng,h", {',', std::nullopt}, records), "");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].fields, (Fields{"c", "d"}));
    EXPECT_EQ(records[3].fields, (Fields{"g", "h"}));
    const std::vector<std::vector<std::uint64_t>> expected = {{0, 1, 0}, {1, 2, 5}, {2, 4, 11}, {3, 5, 15}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const RecordPosition& p = records[i].position;
        EXPECT_EQ((std::vector<std::uint64_t>{p.record, p.line, p.byte}), expected[i]) << "record " << i;
    }
}

TEST(DelimitedReaderTest, CommentsOnlyAtRecordStart) {
    TempDir dir;
    std::vector<Record> records;
    ASSERT_EQ(read_all(dir, "#x|y\n1|#2\n  # not a comment|z\n#last", {'|', '#'}, records), "");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fields, (Fields{"1", "#2"}));
    EXPECT_EQ(records[1].fields, (Fields{"  # not a comment", "z"}));
    EXPECT_EQ(records[0].position.byte, 0u);  // reading began before the skipped comment
    // Without a comment byte the same line is data.
    records.clear();
    EXPECT_EQ(read_all(dir, "#x|y\n1|#2\n", {'|', std::nullopt}, records), "");
    EXPECT_EQ(records.size(), 2u);
}

TEST(DelimitedReaderTest, RecordsSpanningTheBuffer) {
    TempDir dir;
    std::vector<Record> records;
    // The carriage return is the last byte of the first buffer, its line feed the first of the next.
    std::string content(DelimitedReader::kBufferSize - 1, 'x');
    content += "\r\ny,\"q";
    content += std::string(DelimitedReader::kBufferSize, 'z') + "\"\"w\"\n";
    EXPECT_EQ(read_all(dir, content, {',', std::nullopt}, records),
              "table file error: CSV error: record 1 (line: 2, byte: 8193): found record with 2 fields, but the "
              "previous record has 1 fields");
}

TEST(DelimitedReaderTest, LongQuotedFieldAcrossBuffers) {
    TempDir dir;
    std::vector<Record> records;
    std::string content = "y,\"" + std::string(DelimitedReader::kBufferSize - 3, 'z') + "\"\"w\"\n1,2";
    ASSERT_EQ(read_all(dir, content, {',', std::nullopt}, records), "");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fields[1], std::string(DelimitedReader::kBufferSize - 3, 'z') + "\"w");
    EXPECT_EQ(records[1].position.byte, content.size() - 3);
    EXPECT_EQ(records[1].position.line, 2u);
}

TEST(DelimitedReaderTest, FieldCountIsFixedByTheFirstRecord) {
    TempDir dir;
    std::vector<Record> records;
    EXPECT_EQ(read_all(dir, "a|b|c\n\n1|2|3\n   \n", {'|', '#'}, records),
              "table file error: CSV error: record 2 (line: 4, byte: 13): found record with 1 fields, but the "
              "previous record has 3 fields");
    EXPECT_EQ(records.size(), 2u);
}

TEST(DelimitedReaderTest, Utf8IsCheckedPerFieldAtTheGivenPosition) {
    TempDir dir;
    Result<DelimitedReader> reader = DelimitedReader::open(
        dir.write("u.csv", "ok,\xC3\xA9t\xC3\xA9\nab,c\xC3\n\xA9,x\xFFy\n"), {',', std::nullopt});
    ASSERT_TRUE(reader.ok());
    ASSERT_TRUE(*reader->read_record());
    EXPECT_TRUE(reader->check_utf8(reader->position()).ok());
    // A sequence cut by the line break is invalid on both sides, though the bytes would join up.
    ASSERT_TRUE(*reader->read_record());
    EXPECT_EQ(testing::error_text(reader->check_utf8(reader->position())),
              "table file error: CSV parse error: record 1 (line 2, field: 1, byte: 9): invalid utf-8: invalid "
              "UTF-8 in field 1 near byte index 1");
    ASSERT_TRUE(*reader->read_record());
    EXPECT_EQ(testing::error_text(reader->check_utf8(RecordPosition{})),
              "table file error: CSV parse error: record 0 (line 1, field: 0, byte: 0): invalid utf-8: invalid "
              "UTF-8 in field 0 near byte index 0");
}

TEST(DelimitedReaderTest, OpenFailureCarriesTheSystemText) {
    TempDir dir;
    Result<DelimitedReader> reader = DelimitedReader::open(dir / "absent.csv", {',', std::nullopt});
    EXPECT_EQ(testing::error_text(reader), "table file error: No such file or directory (os error 2)");
    Result<DelimitedReader> directory = DelimitedReader::open(dir.path(), {',', std::nullopt});
    EXPECT_EQ(testing::error_text(directory), "table file error: Is a directory (os error 21)");
}

TEST(DelimitedReaderTest, EmptyInputHasNoRecords) {
    TempDir dir;
    std::vector<Record> records;
    EXPECT_EQ(read_all(dir, "\n\r\n\r", {',', std::nullopt}, records), "");
    EXPECT_TRUE(records.empty());
}

}  // namespace
}  // namespace corvane

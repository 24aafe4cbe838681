#include "tables/table_archive.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;

// The archive is packed from the ecCodes 2.28 and 2.50 tarballs; tests/data holds some 2.28 files unpacked.
const TableArchive& archive() {
    static const TableArchive opened = [] {
        Result<TableArchive> result = TableArchive::open(CORVANE_TABLE_ARCHIVE);
        if (!result) throw std::runtime_error(result.error().render());
        return std::move(result).value();
    }();
    return opened;
}

TableChoice choice(std::uint8_t master_version, std::uint8_t local_version, std::uint16_t centre,
                   std::uint16_t subcentre) {
    return {0, master_version, centre, subcentre, local_version};
}

// The first code whose entries differ, or "" when both maps hold the same.
template <class Map>
std::string first_difference(const Map& packed, const Map& unpacked) {
    if (packed.size() != unpacked.size()) {
        return std::to_string(packed.size()) + " entries against " + std::to_string(unpacked.size());
    }
    for (const auto& [code, value] : unpacked) {
        const auto it = packed.find(code);
        if (it == packed.end() || it->second != value) return "entry " + std::to_string(code);
    }
    return "";
}

// Loads `packed` from the archive and `unpacked` from the copy in tests/data: both give the same
// tables, or both fail with the same error.
void expect_same_tables(const TableChoice& packed, const TableChoice& unpacked, std::uint32_t added_element = 0) {
    Result<TableSet> from_archive = archive().load(packed);
    if (added_element != 0 && from_archive) ASSERT_EQ(from_archive->elements.erase(added_element), 1u);
    Result<TableSet> from_files = from_eccodes_definitions(testing::definitions_root(), unpacked);
    ASSERT_EQ(error_text(from_archive), error_text(from_files));
    if (!from_files.ok()) return;
    EXPECT_EQ(first_difference(from_archive->elements, from_files->elements), "");
    EXPECT_EQ(first_difference(from_archive->sequences, from_files->sequences), "");
    EXPECT_EQ(first_difference(from_archive->code_tables, from_files->code_tables), "");
}

TEST(TableArchiveTest, MasterVersionsEqualTheUnpackedFiles) {
    for (const std::uint8_t version : {13, 18, 39}) {
        SCOPED_TRACE(version);
        expect_same_tables(choice(version, 0, 98, 0), choice(version, 0, 98, 0));
    }
}

TEST(TableArchiveTest, LinkedVersionsLoadTheirTarget) {
    // In the archive 10 to 12 are links to 13; the copy holds 12 as an alias file.
    for (const std::uint8_t version : {10, 11, 12}) {
        SCOPED_TRACE(version);
        expect_same_tables(choice(version, 0, 7, 0), choice(13, 0, 7, 0));
    }
}

TEST(TableArchiveTest, LocalTablesEqualTheUnpackedFiles) {
    // The copy is ecCodes 2.28's; the archive has 2.50's, which adds 013242 (most unstable CAPE).
    expect_same_tables(choice(13, 101, 98, 0), choice(13, 101, 98, 0), 13242);
    expect_same_tables(choice(18, 8, 78, 0), choice(18, 8, 78, 0));
    // Subcentre 64 of centre 78 is a link to subcentre 0.
    expect_same_tables(choice(18, 8, 78, 64), choice(18, 8, 78, 0));
    // Centre 98 has no local version 1 for subcentre 70: the master tables alone.
    expect_same_tables(choice(13, 1, 98, 70), choice(13, 0, 98, 70));
}

TEST(TableArchiveTest, MixedFieldCountsArePackedToLoad) {
    // Master version 19 keeps its local tables under 19-1. Those of centre 254 mix records of 11
    // and 8 fields (some ending in a blank), which the element.table reader refuses; the packer
    // pads them, so the archive loads what the copy cannot.
    EXPECT_TRUE(error_text(from_eccodes_definitions(testing::definitions_root(), choice(19, 1, 254, 0)))
                    .starts_with("table file error: CSV error:"));
    Result<TableSet> packed = archive().load(choice(19, 1, 254, 0));
    ASSERT_TRUE(packed.ok()) << error_text(packed);
    const ElementDefinition* eleven = packed->find_element(10200);
    const ElementDefinition* padded = packed->find_element(40231);
    ASSERT_NE(eleven, nullptr);
    ASSERT_NE(padded, nullptr);
    EXPECT_EQ(eleven->reference, -131072);
    EXPECT_EQ(padded->abbreviation, "cloudinessSummary");
    EXPECT_EQ(padded->width, 3);
}

TEST(TableArchiveTest, MissingMasterTablesNameTheChoice) {
    EXPECT_EQ(error_text(archive().load(choice(3, 3, 98, 0))),
              "no BUFR tables for master table 0 version 3 (local version 3, centre 98, subcentre 0)");
    EXPECT_EQ(error_text(archive().load({5, 13, 7, 1, 0})),
              "no BUFR tables for master table 5 version 13 (local version 0, centre 7, subcentre 1)");
}

TEST(TableArchiveTest, DamagedBytesAreRefused) {
    std::ifstream in(CORVANE_TABLE_ARCHIVE, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 10000u);
    EXPECT_EQ(error_text(TableArchive::from_bytes("CVTABLEZ")), "table file error: not a table archive");
    EXPECT_EQ(error_text(TableArchive::from_bytes("CVTABLES\x02")),
              "table file error: table archive format 2 is not supported");
    // Cut anywhere, or with a byte more, the archive fails as a whole.
    for (const std::size_t size : {std::size_t{9}, std::size_t{5000}, bytes.size() / 2, bytes.size() - 1}) {
        const std::string text = error_text(TableArchive::from_bytes(bytes.substr(0, size)));
        EXPECT_TRUE(text.starts_with("table file error: table archive is damaged at byte ")) << text;
    }
    EXPECT_FALSE(TableArchive::from_bytes(bytes + '\0').ok());
}

}  // namespace
}  // namespace corvane

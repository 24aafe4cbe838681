#include "tables/bufr4_loader.hpp"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "descriptor/descriptor.hpp"
#include "tables/delimited_reader.hpp"
#include "tables/eccodes_loader.hpp"
#include "text/text.hpp"

namespace corvane {
namespace {

constexpr std::size_t kElementFields = 8;
constexpr std::size_t kSequenceFields = 6;
constexpr std::size_t kCodeFlagFields = 4;

std::string_view element_type_of(std::string_view unit) {
    if (unit == "Code table") return "code";
    if (unit == "Flag table") return "flags";
    if (unit == "CCITT IA5") return "string";
    return "long";
}

// Calls `on_row` with the fields of every record after the header row; stops at the first error.
template <class OnRow>
Status for_each_row(const std::filesystem::path& file, OnRow&& on_row) {
    Result<DelimitedReader> opened = DelimitedReader::open(file, DelimitedDialect{',', std::nullopt});
    if (!opened) return std::move(opened).error();
    DelimitedReader& reader = *opened;
    // The header row only fixes the field count; its text is never read.
    for (bool header = true;; header = false) {
        Result<bool> more = reader.read_record();
        if (!more) return std::move(more).error();
        if (!*more) return {};
        if (header) continue;
        // An invalid first row is reported where the header began.
        const RecordPosition at = reader.position().record == 1 ? RecordPosition{} : reader.position();
        if (Status s = reader.check_utf8(at); !s) return s;
        if (Status s = on_row(reader.fields()); !s) return s;
    }
}

Status load_table_b(ElementMap& elements, const std::filesystem::path& file) {
    return for_each_row(file, [&](std::span<const std::string_view> fields) -> Status {
        if (fields.size() < kElementFields) return {};
        Result<ElementDefinition> element = parse_element(
            {fields[2], "", element_type_of(fields[4]), fields[3], fields[4], fields[5], fields[6], fields[7]});
        if (!element) return std::move(element).error();
        elements.insert_or_assign(element->code, std::move(element).value());
        return {};
    });
}

Status load_table_d(SequenceMap& sequences, const std::filesystem::path& file,
                    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>>& grouping) {
    grouping.clear();
    Status status = for_each_row(file, [&](std::span<const std::string_view> fields) -> Status {
        if (fields.size() < kSequenceFields) return {};
        Result<std::uint32_t> code = parse_code(fields[2]);
        if (!code) return std::move(code).error();
        Result<std::uint32_t> member = parse_code(fields[5]);
        if (!member) return std::move(member).error();
        grouping[*code].push_back(*member);
        return {};
    });
    if (!status) return status;
    // A later file's sequence replaces an earlier one whole; members are never joined across files.
    for (auto& [code, members] : grouping) {
        sequences.insert_or_assign(code, SequenceDefinition{code, std::move(members)});
    }
    return {};
}

// The entry text with every run of white space made one blank, as the ecCodes code tables read.
std::string entry_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::string_view rest = trim_unicode_whitespace(text); !rest.empty();) {
        const std::size_t space = whitespace_length(rest);
        if (space > 0) {
            out.push_back(' ');
            rest = trim_unicode_whitespace(rest);
            continue;
        }
        out.push_back(rest.front());
        rest.remove_prefix(1);
    }
    return out;
}

Status load_code_flag(CodeTableMap& code_tables, const std::filesystem::path& file,
                      std::unordered_map<std::uint32_t, CodeTable>& grouping) {
    grouping.clear();
    Status status = for_each_row(file, [&](std::span<const std::string_view> fields) -> Status {
        if (fields.size() < kCodeFlagFields) return {};
        std::uint64_t figure = 0;
        IntParseFailure failure{};
        const std::string_view digits = fields[2];
        if (digits.empty() || digits.front() == '+' || !parse_unsigned(digits, UINT64_MAX, figure, failure)) return {};
        std::string text = entry_text(fields[3]);
        if (text.empty()) return {};
        Result<std::uint32_t> code = parse_code(fields[0]);
        if (!code) return std::move(code).error();
        grouping[*code].insert_or_assign(figure, std::move(text));
        return {};
    });
    if (!status) return status;
    for (auto& [code, table] : grouping) code_tables.insert_or_assign(code, std::move(table));
    return {};
}

}  // namespace

Result<TableSet> from_bufr4_dir(const std::filesystem::path& dir) {
    Result<TableSet> tables = from_bufr4_45(dir);
    if (!tables) return tables;
    Result<std::vector<std::filesystem::path>> code_flag = matching_files(dir, "BUFRCREX_CodeFlag_en_", ".csv");
    if (!code_flag) return std::move(code_flag).error();
    std::unordered_map<std::uint32_t, CodeTable> grouping;
    for (const auto& file : *code_flag) {
        if (Status s = load_code_flag(tables->code_tables, file, grouping); !s) return std::move(s).error();
    }
    return tables;
}

Result<TableSet> from_bufr4_45(const std::filesystem::path& dir) {
    TableSet tables;
    Result<std::vector<std::filesystem::path>> table_b = matching_files(dir, "BUFRCREX_TableB_en_", ".csv");
    if (!table_b) return std::move(table_b).error();
    tables.elements.reserve(2048);
    for (const auto& file : *table_b) {
        if (Status s = load_table_b(tables.elements, file); !s) return std::move(s).error();
    }
    Result<std::vector<std::filesystem::path>> table_d = matching_files(dir, "BUFR_TableD_en_", ".csv");
    if (!table_d) return std::move(table_d).error();
    tables.sequences.reserve(1024);
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> grouping;
    for (const auto& file : *table_d) {
        if (Status s = load_table_d(tables.sequences, file, grouping); !s) return std::move(s).error();
    }
    return tables;
}

}  // namespace corvane

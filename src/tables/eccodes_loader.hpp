// Loading an ecCodes-style BUFR table directory: element.table, sequence.def and codetables/.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"
#include "tables/table_source.hpp"

namespace corvane {

// Alias files naming further alias files are followed at most this many times.
inline constexpr int kMaxAliasHops = 32;

// element.table, sequence.def and (when present) codetables/ of one directory.
Result<TableSet> from_eccodes_dir(const std::filesystem::path& dir);

// The readers insert into an existing map, replacing entries of equal code.
Status load_eccodes_element_table(ElementMap& elements, const std::filesystem::path& file);
Status load_eccodes_sequence_def(SequenceMap& sequences, const std::filesystem::path& file);
Status load_eccodes_code_tables(CodeTableMap& code_tables, const std::filesystem::path& dir);

// The entries of `dir` whose names start with `prefix` and end with `suffix`, sorted by name bytes.
Result<std::vector<std::filesystem::path>> matching_files(const std::filesystem::path& dir, std::string_view prefix,
                                                          std::string_view suffix);

// `path` itself when it is a directory, else the directory that its alias file (chain) names.
Result<std::filesystem::path> resolve_eccodes_table_dir(const std::filesystem::path& path);

// The same operations over any source; the overloads above read the file system.
Status load_eccodes_element_table(const TableSource& source, ElementMap& elements, const std::filesystem::path& file);
Status load_eccodes_sequence_def(const TableSource& source, SequenceMap& sequences, const std::filesystem::path& file);
Status load_eccodes_code_tables(const TableSource& source, CodeTableMap& code_tables, const std::filesystem::path& dir);
Result<std::filesystem::path> resolve_eccodes_table_dir(const TableSource& source, const std::filesystem::path& path);
// What from_eccodes_dir reads, into `tables`.
Status load_eccodes_dir(const TableSource& source, TableSet& tables, const std::filesystem::path& dir);
// element.table, sequence.def and codetables/ of `dir` over `tables`, each only when present
// (local tables, tables a user adds): each entry replaces the entry of equal code.
Status load_present_eccodes_files(const TableSource& source, TableSet& tables, const std::filesystem::path& dir);

}  // namespace corvane

// Tables a user lays over the chosen ones: directories of ecCodes or WMO BUFR4 files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

enum class TableLayout : std::uint8_t {
    // element.table, sequence.def and codetables/, each only when present.
    Eccodes,
    // BUFRCREX_TableB_en_*.csv, BUFR_TableD_en_*.csv and BUFRCREX_CodeFlag_en_*.csv.
    Bufr4,
};

struct TableDirectory {
    TableLayout layout = TableLayout::Eccodes;
    std::filesystem::path path;
};

// The entries of every directory as one set; an entry of an earlier directory comes before
// (replaces) the entry of equal code of a later one.
Result<TableSet> load_extra_tables(std::span<const TableDirectory> directories);

}  // namespace corvane

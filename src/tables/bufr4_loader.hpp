// Loading the WMO BUFR4 comma-separated Table B and Table D files of one directory.
#pragma once

#include <filesystem>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// Every BUFRCREX_TableB_en_*.csv, then every BUFR_TableD_en_*.csv, in name order; no code tables.
Result<TableSet> from_bufr4_45(const std::filesystem::path& dir);

// The same, with the code and flag tables of every BUFRCREX_CodeFlag_en_*.csv: the entries whose
// code figure is a number ("All 4" and ranges of reserved figures are left out).
Result<TableSet> from_bufr4_dir(const std::filesystem::path& dir);

}  // namespace corvane

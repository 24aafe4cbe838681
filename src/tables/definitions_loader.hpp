// Loading the master and local tables that a message names from an ecCodes definitions root.
#pragma once

#include <filesystem>

#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// root/bufr/tables/M/wmo/V (aliases followed), then root/bufr/tables/M/local/L/N/U over it.
Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const BufrMessage& message);

}  // namespace corvane

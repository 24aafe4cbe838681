// Loading the master and local tables that a message names from an ecCodes definitions root.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>

#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"
#include "tables/table_source.hpp"

namespace corvane {

// The section-1 fields that choose a message's tables; nothing else of a message matters to them.
struct TableChoice {
    std::uint8_t master_table_number = 0;
    std::uint8_t master_tables_version_number = 0;
    std::uint16_t originating_centre = 0;
    std::uint16_t originating_subcentre = 0;
    std::uint8_t local_tables_version_number = 0;

    static TableChoice of(const BufrMessage& message);
    bool operator==(const TableChoice&) const = default;
};

// root/bufr/tables/M/wmo/V, where the master tables of a choice stand (maybe as an alias).
std::filesystem::path master_tables_path(const std::filesystem::path& root, const TableChoice& choice);

// The highest master version V of root/bufr/tables/M/wmo/V for the choice's master table M, if any.
std::optional<std::uint8_t> newest_master_version(const TableSource& source, const std::filesystem::path& root,
                                                  std::uint8_t master_table);

// root/bufr/tables/M/local/L/N/U, where the local tables of a choice stand if it has any.
std::filesystem::path local_tables_path(const std::filesystem::path& root, const TableChoice& choice);

// root/bufr/tables/M/wmo/V (aliases followed), then root/bufr/tables/M/local/L/N/U over it.
Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const TableChoice& choice);
Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const BufrMessage& message);
// The same rules over any source of ecCodes-layout files.
Result<TableSet> from_eccodes_definitions(const TableSource& source, const std::filesystem::path& root,
                                          const TableChoice& choice);
// As above, but a choice whose master tables are missing fails with TablesNotFound, naming
// every number of the choice, rather than with the error of reading a missing file.
Result<TableSet> load_table_choice(const TableSource& source, const std::filesystem::path& root,
                                   const TableChoice& choice);

// Adds element_key() of every element of every master and local table under root/bufr/tables,
// aliases followed: the keys of any choice that these files can load. A file that cannot be
// read adds nothing: loading its choice reports the error.
void collect_element_keys(const TableSource& source, const std::filesystem::path& root,
                          std::unordered_set<std::string>& keys);

}  // namespace corvane

#include "tables/definitions_loader.hpp"

#include <string>
#include <sys/stat.h>

#include "tables/eccodes_loader.hpp"

namespace corvane {
namespace {

bool path_exists(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Master version 19 names its local levels "19-L"; every other version uses L alone.
std::string local_level(const BufrMessage& message) {
    const std::string local = std::to_string(message.local_tables_version_number);
    if (message.master_tables_version_number == 19) return "19-" + local;
    return local;
}

}  // namespace

Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const BufrMessage& message) {
    const std::filesystem::path tables_root =
        root / "bufr" / "tables" / std::to_string(message.master_table_number);
    Result<std::filesystem::path> master =
        resolve_eccodes_table_dir(tables_root / "wmo" / std::to_string(message.master_tables_version_number));
    if (!master) return std::move(master).error();

    TableSet tables;
    tables.elements.reserve(2048);
    tables.sequences.reserve(1024);
    if (Status s = load_eccodes_element_table(tables.elements, *master / "element.table"); !s) {
        return std::move(s).error();
    }
    if (Status s = load_eccodes_sequence_def(tables.sequences, *master / "sequence.def"); !s) {
        return std::move(s).error();
    }
    if (const auto code_tables = *master / "codetables"; path_exists(code_tables)) {
        if (Status s = load_eccodes_code_tables(tables.code_tables, code_tables); !s) return std::move(s).error();
    }
    if (message.local_tables_version_number == 0) return tables;

    const std::filesystem::path local = tables_root / "local" / local_level(message) /
                                        std::to_string(message.originating_centre) /
                                        std::to_string(message.originating_subcentre);
    if (!path_exists(local)) return tables;
    // Local entries are all optional; each one present replaces master entries of equal code.
    if (const auto file = local / "element.table"; path_exists(file)) {
        if (Status s = load_eccodes_element_table(tables.elements, file); !s) return std::move(s).error();
    }
    if (const auto file = local / "sequence.def"; path_exists(file)) {
        if (Status s = load_eccodes_sequence_def(tables.sequences, file); !s) return std::move(s).error();
    }
    if (const auto dir = local / "codetables"; path_exists(dir)) {
        if (Status s = load_eccodes_code_tables(tables.code_tables, dir); !s) return std::move(s).error();
    }
    return tables;
}

}  // namespace corvane

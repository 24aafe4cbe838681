#include "tables/extra_tables.hpp"

#include "files/files.hpp"
#include "tables/bufr4_loader.hpp"
#include "tables/eccodes_loader.hpp"

namespace corvane {
namespace {

Result<TableSet> load_directory(const TableDirectory& directory) {
    if (directory.layout == TableLayout::Bufr4) return from_bufr4_dir(directory.path);
    TableSet tables;
    if (Status s = load_present_eccodes_files(file_system_source(), tables, directory.path); !s) {
        return std::move(s).error();
    }
    return tables;
}

}  // namespace

Result<TableSet> load_extra_tables(std::span<const TableDirectory> directories) {
    TableSet merged;
    // The last directory first, so that each earlier one replaces what it defines again.
    for (auto it = directories.rbegin(); it != directories.rend(); ++it) {
        Result<TableSet> tables = load_directory(*it);
        if (!tables) {
            // Several directories may be given: name the one at fault.
            const BufrError& error = tables.error();
            if (error.kind() != ErrorKind::TableFile) return tables;
            return BufrError::table_file(display_path(it->path) + ": " + error.text());
        }
        merged.overlay(*tables);
    }
    return merged;
}

}  // namespace corvane

// The packed table archive: a whole ecCodes BUFR definitions tree in one file, written by
// tools/pack_tables.py (format: src/corvane/data/README.md).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "error/error.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// Checked whole when opened and never changed after, so any number of threads may load from it.
class TableArchive {
public:
    // Takes the archive's bytes.
    static Result<TableArchive> from_bytes(std::string bytes);
    static Result<TableArchive> open(const std::filesystem::path& file);

    TableArchive(TableArchive&&) noexcept;
    TableArchive& operator=(TableArchive&&) noexcept;
    ~TableArchive();

    // Where the tables come from, as the generator recorded it.
    std::string_view label() const;

    // The tables of one choice, by the rules of a definitions root; a choice whose master
    // tables are not in the archive fails with TablesNotFound.
    Result<TableSet> load(const TableChoice& choice) const;

private:
    class Tree;
    explicit TableArchive(std::unique_ptr<const Tree> tree);

    std::unique_ptr<const Tree> tree_;
};

}  // namespace corvane

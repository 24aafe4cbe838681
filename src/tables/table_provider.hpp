// The tables for messages of any origin, each table choice loaded once and shared.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "error/error.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/table_archive.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// Either chooses per message from section 1 (from the packed archive or an ecCodes definitions
// root, by the rules of a definitions root) or gives one fixed set to every message. A choice is
// loaded on first use; its tables, or the error of loading them, are kept for the provider's
// life, so that a file's messages load each choice once. Any number of threads may use one
// provider.
class TableProvider {
public:
    static TableProvider from_archive(TableArchive archive);
    static TableProvider from_definitions(std::filesystem::path root);
    static TableProvider fixed(TableSet tables);

    TableProvider(TableProvider&&) noexcept;
    ~TableProvider();

    // The tables of `choice`, loading them unless an earlier call did. A thread that asks for
    // a choice while another loads it waits for that load.
    const Result<TableSet>& get(const TableChoice& choice) const;
    // What get() would return without loading: null when `choice` is not loaded yet.
    const Result<TableSet>* find(const TableChoice& choice) const;
    // Whether every message gets the same set.
    bool is_fixed() const { return fixed_.has_value(); }
    // The archive's label, for tables from an archive.
    std::optional<std::string_view> label() const;

private:
    struct Entry;
    TableProvider(std::optional<TableArchive> archive, std::filesystem::path root,
                  std::optional<Result<TableSet>> fixed);

    const TableSource& source() const;
    // The choice that loads the same files as `choice`: choices share an entry through it.
    TableChoice loaded_choice(const TableChoice& choice) const;
    Entry* remembered(const TableChoice& choice) const;

    std::optional<TableArchive> archive_;
    std::filesystem::path root_;
    std::optional<Result<TableSet>> fixed_;
    mutable std::mutex mutex_;
    // By loaded choice; entries never move nor go before the provider.
    mutable std::unordered_map<std::uint64_t, std::unique_ptr<Entry>> entries_;
    // By the choice a message asked for, so that asking again costs one lookup.
    mutable std::unordered_map<std::uint64_t, Entry*> asked_;
};

}  // namespace corvane

// The tables for messages of any origin, each table choice loaded once and shared.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "error/error.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/table_archive.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// What a choice is decoded with, from the files of a provider that chooses per message.
struct ChosenTables {
    // The choice whose files are loaded, which choices that load the same files share: the
    // newest master version present when the message names a newer one, and local fields of 0
    // when the choice has no local tables.
    TableChoice loaded;
    bool master_found = false;
    bool local_found = false;
};

// Either chooses per message from section 1 (from the packed archive or an ecCodes definitions
// root, by the rules of a definitions root) or gives one fixed set to every message. A message
// whose master version is newer than every version present gets the newest: each version keeps
// the entries of those before it. A choice is loaded on first use; its tables, or the error of
// loading them, are kept for the provider's life, so that a file's messages load each choice
// once. Any number of threads may use one provider once it is set up.
class TableProvider {
public:
    static TableProvider from_archive(TableArchive archive);
    static TableProvider from_definitions(std::filesystem::path root);
    static TableProvider fixed(TableSet tables);

    TableProvider(TableProvider&&) noexcept;
    ~TableProvider();

    // Set-up, before any other call: `extra` comes before the files of every set (its entries
    // replace those of equal code), and `hint` says how to add tables in the errors of local
    // descriptors that no table defines.
    void set_extra(TableSet extra);
    void set_missing_tables_hint(std::string hint) { hint_ = std::move(hint); }

    // The tables of `choice`, loading them unless an earlier call did. A thread that asks for
    // a choice while another loads it waits for that load.
    const Result<TableSet>& get(const TableChoice& choice) const;
    // What get() would return without loading: null when `choice` is not loaded yet.
    const Result<TableSet>* find(const TableChoice& choice) const;
    // Whether every message gets the same set.
    bool is_fixed() const { return fixed_.has_value(); }
    // What `choice` is decoded with; nothing for a fixed set.
    std::optional<ChosenTables> chosen(const TableChoice& choice) const;
    // `error`, from decoding a message of `choice`, with the local tables that would define its
    // descriptor when that is a local one (class 48-63 or entry 192-255) that no table has.
    BufrError explain(const TableChoice& choice, BufrError error) const;
    // The key of every element that some choice can load, extra tables included, in byte order;
    // reads every table file that it has not loaded.
    std::vector<std::string> element_keys() const;
    // The archive, for tables from an archive.
    const TableArchive* archive() const { return archive_ ? &*archive_ : nullptr; }
    // The archive's label, for tables from an archive.
    std::optional<std::string_view> label() const;

private:
    struct Entry;
    TableProvider(std::optional<TableArchive> archive, std::filesystem::path root,
                  std::optional<Result<TableSet>> fixed);

    const TableSource& source() const;
    Entry* remembered(const TableChoice& choice) const;

    std::optional<TableArchive> archive_;
    std::filesystem::path root_;
    std::optional<Result<TableSet>> fixed_;
    TableSet extra_;
    std::string hint_;
    mutable std::mutex mutex_;
    // By loaded choice; entries never move nor go before the provider.
    mutable std::unordered_map<std::uint64_t, std::unique_ptr<Entry>> entries_;
    // By the choice a message asked for, so that asking again costs one lookup.
    mutable std::unordered_map<std::uint64_t, Entry*> asked_;
};

}  // namespace corvane

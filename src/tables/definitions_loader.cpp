#include "tables/definitions_loader.hpp"

#include <set>
#include <string>
#include <vector>

#include "text/text.hpp"

#include "tables/eccodes_loader.hpp"

namespace corvane {
namespace {

std::filesystem::path tables_root(const std::filesystem::path& root, const TableChoice& choice) {
    return root / "bufr" / "tables" / std::to_string(choice.master_table_number);
}

// Master version 19 names its local levels "19-L"; every other version uses L alone.
std::string local_level(const TableChoice& choice) {
    const std::string local = std::to_string(choice.local_tables_version_number);
    if (choice.master_tables_version_number == 19) return "19-" + local;
    return local;
}

// The names in `dir`, or none when it is no readable directory.
std::vector<std::string> entries(const TableSource& source, const std::filesystem::path& dir) {
    std::vector<std::string> names;
    if (source.kind(dir) != EntryKind::Directory || !source.list(dir, names)) names.clear();
    return names;
}

}  // namespace

TableChoice TableChoice::of(const BufrMessage& message) {
    return {message.master_table_number, message.master_tables_version_number, message.originating_centre,
            message.originating_subcentre, message.local_tables_version_number};
}

std::filesystem::path master_tables_path(const std::filesystem::path& root, const TableChoice& choice) {
    return tables_root(root, choice) / "wmo" / std::to_string(choice.master_tables_version_number);
}

std::optional<std::uint8_t> newest_master_version(const TableSource& source, const std::filesystem::path& root,
                                                  std::uint8_t master_table) {
    const std::filesystem::path wmo = tables_root(root, {master_table}) / "wmo";
    std::vector<std::string> names;
    if (source.kind(wmo) != EntryKind::Directory || !source.list(wmo, names)) return std::nullopt;
    std::optional<std::uint8_t> newest;
    for (const std::string& name : names) {
        std::uint64_t version = 0;
        IntParseFailure failure{};
        if (!parse_unsigned(name, UINT8_MAX, version, failure) || name.front() == '+') continue;
        if (!newest || version > *newest) newest = static_cast<std::uint8_t>(version);
    }
    return newest;
}

std::filesystem::path local_tables_path(const std::filesystem::path& root, const TableChoice& choice) {
    return tables_root(root, choice) / "local" / local_level(choice) / std::to_string(choice.originating_centre) /
           std::to_string(choice.originating_subcentre);
}

Result<TableSet> from_eccodes_definitions(const TableSource& source, const std::filesystem::path& root,
                                          const TableChoice& choice) {
    Result<std::filesystem::path> master = resolve_eccodes_table_dir(source, master_tables_path(root, choice));
    if (!master) return std::move(master).error();
    TableSet tables;
    if (Status s = load_eccodes_dir(source, tables, *master); !s) return std::move(s).error();
    if (choice.local_tables_version_number == 0) return tables;

    const std::filesystem::path local = local_tables_path(root, choice);
    if (source.kind(local) == EntryKind::Missing) return tables;
    // Local entries are all optional; each one present replaces master entries of equal code.
    if (Status s = load_present_eccodes_files(source, tables, local); !s) return std::move(s).error();
    return tables;
}

Result<TableSet> load_table_choice(const TableSource& source, const std::filesystem::path& root,
                                   const TableChoice& choice) {
    if (source.kind(master_tables_path(root, choice)) == EntryKind::Missing) {
        return BufrError::tables_not_found(choice.master_table_number, choice.master_tables_version_number,
                                           choice.local_tables_version_number, choice.originating_centre,
                                           choice.originating_subcentre);
    }
    return from_eccodes_definitions(source, root, choice);
}

void collect_element_keys(const TableSource& source, const std::filesystem::path& root,
                          std::unordered_set<std::string>& keys) {
    ElementMap elements;
    std::set<std::filesystem::path> read;
    const auto add = [&](const std::filesystem::path& dir) {
        const std::filesystem::path file = dir / "element.table";
        // Many versions are aliases of one directory: each is read once.
        if (!read.insert(file).second || source.kind(file) != EntryKind::File) return;
        elements.clear();
        if (!load_eccodes_element_table(source, elements, file)) return;
        for (const auto& [code, element] : elements) keys.insert(element_key(element));
    };
    const std::filesystem::path tables = root / "bufr" / "tables";
    for (const std::string& master : entries(source, tables)) {
        for (const std::string& version : entries(source, tables / master / "wmo")) {
            if (Result<std::filesystem::path> dir = resolve_eccodes_table_dir(source,
                                                                              tables / master / "wmo" / version)) {
                add(*dir);
            }
        }
        const std::filesystem::path local = tables / master / "local";
        for (const std::string& level : entries(source, local)) {
            for (const std::string& centre : entries(source, local / level)) {
                for (const std::string& subcentre : entries(source, local / level / centre)) {
                    add(local / level / centre / subcentre);
                }
            }
        }
    }
}

Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const TableChoice& choice) {
    return from_eccodes_definitions(file_system_source(), root, choice);
}

Result<TableSet> from_eccodes_definitions(const std::filesystem::path& root, const BufrMessage& message) {
    return from_eccodes_definitions(root, TableChoice::of(message));
}

}  // namespace corvane

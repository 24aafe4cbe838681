#include "tables/table_provider.hpp"

#include <algorithm>
#include <atomic>
#include <unordered_set>

namespace corvane {
namespace {

constexpr std::size_t kRememberedChoices = 4096;

std::uint64_t packed(const TableChoice& choice) {
    return std::uint64_t{choice.master_table_number} << 48 | std::uint64_t{choice.master_tables_version_number} << 40 |
           std::uint64_t{choice.local_tables_version_number} << 32 | std::uint64_t{choice.originating_centre} << 16 |
           choice.originating_subcentre;
}

}  // namespace

struct TableProvider::Entry {
    TableChoice choice;
    std::once_flag once;
    std::atomic<bool> ready = false;
    std::optional<Result<TableSet>> tables;
};

TableProvider::TableProvider(std::optional<TableArchive> archive, std::filesystem::path root,
                             std::optional<Result<TableSet>> fixed)
    : archive_(std::move(archive)), root_(std::move(root)), fixed_(std::move(fixed)) {}

TableProvider::TableProvider(TableProvider&& other) noexcept
    : archive_(std::move(other.archive_)),
      root_(std::move(other.root_)),
      fixed_(std::move(other.fixed_)),
      extra_(std::move(other.extra_)),
      hint_(std::move(other.hint_)),
      entries_(std::move(other.entries_)),
      asked_(std::move(other.asked_)) {}

TableProvider::~TableProvider() = default;

TableProvider TableProvider::from_archive(TableArchive archive) { return {std::move(archive), {}, std::nullopt}; }

TableProvider TableProvider::from_definitions(std::filesystem::path root) {
    return {std::nullopt, std::move(root), std::nullopt};
}

TableProvider TableProvider::fixed(TableSet tables) { return {std::nullopt, {}, Result<TableSet>(std::move(tables))}; }

std::optional<std::string_view> TableProvider::label() const {
    if (!archive_) return std::nullopt;
    return archive_->label();
}

const TableSource& TableProvider::source() const { return archive_ ? archive_->source() : file_system_source(); }

void TableProvider::set_extra(TableSet extra) {
    if (fixed_ && fixed_->ok()) fixed_->value().overlay(extra);
    extra_ = std::move(extra);
}

std::optional<ChosenTables> TableProvider::chosen(const TableChoice& choice) const {
    if (fixed_) return std::nullopt;
    // Every centre without local tables loads the master tables alone: one set for all of
    // them, however many centres a file names. A missing master keeps the whole choice, which
    // its error names.
    const TableSource& files = source();
    ChosenTables chosen{choice};
    if (files.kind(master_tables_path(root_, choice)) == EntryKind::Missing) {
        const std::optional<std::uint8_t> newest = newest_master_version(files, root_, choice.master_table_number);
        if (!newest || *newest >= choice.master_tables_version_number) return chosen;
        chosen.loaded.master_tables_version_number = *newest;
    }
    chosen.master_found = true;
    chosen.local_found = choice.local_tables_version_number != 0 &&
                         files.kind(local_tables_path(root_, chosen.loaded)) != EntryKind::Missing;
    if (!chosen.local_found) {
        chosen.loaded = {choice.master_table_number, chosen.loaded.master_tables_version_number, 0, 0, 0};
    }
    return chosen;
}

std::vector<std::string> TableProvider::element_keys() const {
    std::unordered_set<std::string> keys;
    const auto add = [&keys](const TableSet& tables) {
        for (const auto& [code, element] : tables.elements) keys.insert(element_key(element));
    };
    if (fixed_) {
        if (fixed_->ok()) add(fixed_->value());
    } else {
        collect_element_keys(source(), root_, keys);
        add(extra_);
    }
    std::vector<std::string> sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

BufrError TableProvider::explain(const TableChoice& choice, BufrError error) const {
    if (error.kind() != ErrorKind::ElementNotFound && error.kind() != ErrorKind::SequenceNotFound) return error;
    const std::uint32_t code = error.missing_descriptor();
    const bool local = (code / 1000 % 100) >= 48 || code % 1000 >= 192;
    const std::optional<ChosenTables> used = fixed_ || !local ? std::nullopt : chosen(choice);
    if (!used) return error;
    std::string detail = ": a local descriptor, which the local tables of centre " +
                         std::to_string(choice.originating_centre) + " subcentre " +
                         std::to_string(choice.originating_subcentre) + " (local version " +
                         std::to_string(choice.local_tables_version_number) + ")";
    if (used->local_found) {
        detail += " do not define";
    } else {
        detail += archive_ ? " would define, and none are packed" : " would define, and the definitions root has none";
    }
    if (!hint_.empty()) detail += "; " + hint_;
    return std::move(error).with_detail(std::move(detail));
}

TableProvider::Entry* TableProvider::remembered(const TableChoice& choice) const {
    const auto found = asked_.find(packed(choice));
    return found == asked_.end() ? nullptr : found->second;
}

const Result<TableSet>& TableProvider::get(const TableChoice& choice) const {
    if (fixed_) return *fixed_;
    Entry* found;
    {
        const std::lock_guard lock(mutex_);
        found = remembered(choice);
    }
    if (found == nullptr) {
        // Looking at the files may take system calls: not under the lock.
        const TableChoice loaded = chosen(choice)->loaded;
        const std::lock_guard lock(mutex_);
        std::unique_ptr<Entry>& slot = entries_[packed(loaded)];
        if (!slot) {
            slot = std::make_unique<Entry>();
            slot->choice = loaded;
        }
        found = slot.get();
        // A hostile file can name millions of choices; past a bound they are looked at anew.
        if (asked_.size() < kRememberedChoices) asked_.emplace(packed(choice), found);
    }
    std::call_once(found->once, [&] {
        Result<TableSet> loaded = load_table_choice(source(), root_, found->choice);
        if (loaded && !extra_.empty()) loaded->overlay(extra_);
        found->tables.emplace(std::move(loaded));
        found->ready.store(true, std::memory_order_release);
    });
    return *found->tables;
}

const Result<TableSet>* TableProvider::find(const TableChoice& choice) const {
    if (fixed_) return &*fixed_;
    const std::lock_guard lock(mutex_);
    const Entry* found = remembered(choice);
    return found != nullptr && found->ready.load(std::memory_order_acquire) ? &*found->tables : nullptr;
}

}  // namespace corvane

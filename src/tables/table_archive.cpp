#include "tables/table_archive.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "files/files.hpp"
#include "tables/eccodes_loader.hpp"
#include "tables/table_source.hpp"

namespace corvane {
namespace {

constexpr std::string_view kMagic = "CVTABLES";
constexpr std::uint64_t kFormat = 1;

enum class Kind : std::uint8_t { Directory = 0, File = 1, Link = 2 };

struct Entry {
    std::uint32_t name = 0;
    // A directory index, a file index, or for a link the name index of the sibling it names.
    std::uint32_t target = 0;
    Kind kind = Kind::Directory;
};

struct FileLines {
    // Where the file's varint line-index deltas start, and how many there are.
    std::uint32_t offset = 0;
    std::uint32_t count = 0;
};

// Reads the varints of an archive; every read is bounds-checked and a failure sticks.
class Cursor {
public:
    explicit Cursor(std::string_view bytes, std::size_t position = 0) : bytes_(bytes), position_(position) {}

    std::uint64_t number() {
        std::uint64_t value = 0;
        for (unsigned shift = 0; shift < 64; shift += 7) {
            if (position_ >= bytes_.size()) return reject();
            const auto byte = static_cast<std::uint8_t>(bytes_[position_++]);
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (byte < 0x80) return value;
        }
        return reject();
    }
    // A number below `bound`, the count or index it is checked against.
    std::uint32_t below(std::uint64_t bound) {
        const std::uint64_t value = number();
        if (value >= bound) return static_cast<std::uint32_t>(reject());
        return static_cast<std::uint32_t>(value);
    }
    // A count of items of at least one byte each, so a damaged count cannot ask for more memory than the archive.
    std::uint32_t count() { return below(remaining() + 1); }
    std::string_view bytes(std::uint64_t length) {
        if (length > remaining()) {
            reject();
            return {};
        }
        const std::string_view taken = bytes_.substr(position_, length);
        position_ += length;
        return taken;
    }
    std::string_view text() { return bytes(number()); }

    // Marks the archive damaged where the cursor stands; every later read fails and yields 0.
    std::uint64_t reject() {
        if (ok_) failed_at_ = position_;
        ok_ = false;
        position_ = bytes_.size();
        return 0;
    }

    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }
    BufrError damaged() const {
        return BufrError::table_file("table archive is damaged at byte " + std::to_string(failed_at_));
    }

private:
    std::string_view bytes_;
    std::size_t position_;
    bool ok_ = true;
    std::size_t failed_at_ = 0;
};

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

}  // namespace

// The archive's directory tree as a table source; paths are relative to the definitions root.
class TableArchive::Tree final : public TableSource {
public:
    static Result<std::unique_ptr<const Tree>> parse(std::string bytes);

    std::string_view label() const { return label_; }

    EntryKind kind(const std::filesystem::path& path) const override {
        const Found found = find(path);
        if (!found.exists) return EntryKind::Missing;
        return found.kind == Kind::Directory ? EntryKind::Directory : EntryKind::File;
    }

    Status read(const std::filesystem::path& file, std::string& content) const override {
        const Found found = find(file);
        if (!found.exists) return BufrError::io_errno(ENOENT);
        if (found.kind == Kind::Directory) return BufrError::io_errno(EISDIR);
        const FileLines lines = files_[found.target];
        std::size_t size = lines.count - 1;
        for_each_line(lines, [&](std::uint32_t line) { size += line_offsets_[line + 1] - line_offsets_[line]; });
        content.resize(size);
        char* out = content.data();
        bool first = true;
        for_each_line(lines, [&](std::uint32_t line) {
            if (!first) *out++ = '\n';
            first = false;
            const std::uint32_t length = line_offsets_[line + 1] - line_offsets_[line];
            std::memcpy(out, bytes_.data() + line_offsets_[line], length);
            out += length;
        });
        return {};
    }

    Status list(const std::filesystem::path& dir, std::vector<std::string>& names) const override {
        names.clear();
        const Found found = find(dir);
        if (!found.exists) return BufrError::io_errno(ENOENT);
        if (found.kind != Kind::Directory) return BufrError::io_errno(ENOTDIR);
        for (const Entry& entry : entries_of(found.target)) names.emplace_back(names_[entry.name]);
        return {};
    }

private:
    struct Found {
        bool exists = false;
        Kind kind = Kind::Directory;
        std::uint32_t target = 0;
    };

    std::span<const Entry> entries_of(std::uint32_t dir) const {
        return std::span(entries_).subspan(dir_begin_[dir], dir_begin_[dir + 1] - dir_begin_[dir]);
    }

    const Entry* lookup(std::uint32_t dir, std::string_view name) const {
        const auto entries = entries_of(dir);
        const auto it = std::lower_bound(
            entries.begin(), entries.end(), name,
            [&](const Entry& entry, std::string_view key) { return names_[entry.name] < key; });
        return it != entries.end() && names_[it->name] == name ? &*it : nullptr;
    }

    // Walks `path` from the root, following links as the file system follows symbolic links.
    Found find(const std::filesystem::path& path) const {
        Found current{true, Kind::Directory, 0};
        for (const std::filesystem::path& part : path) {
            const std::string& name = part.native();
            if (name.empty() || name == ".") continue;
            if (current.kind != Kind::Directory) return {};
            const Entry* entry = lookup(current.target, name);
            for (int hop = 0; entry != nullptr && entry->kind == Kind::Link; ++hop) {
                entry = hop < kMaxAliasHops ? lookup(current.target, names_[entry->target]) : nullptr;
            }
            if (entry == nullptr) return {};
            current = {true, entry->kind, entry->target};
        }
        return current;
    }

    template <class OnLine>
    void for_each_line(FileLines lines, OnLine&& on_line) const {
        Cursor cursor(bytes_, lines.offset);
        std::int64_t line = 0;
        for (std::uint32_t i = 0; i < lines.count; ++i) {
            line += unzigzag(cursor.number());
            on_line(static_cast<std::uint32_t>(line));
        }
    }

    std::string bytes_;
    std::string_view label_;
    std::vector<std::string_view> names_;
    // Line i is bytes_[line_offsets_[i], line_offsets_[i + 1]).
    std::vector<std::uint32_t> line_offsets_;
    std::vector<FileLines> files_;
    // Directory d holds entries_[dir_begin_[d], dir_begin_[d + 1]), in ascending name order.
    std::vector<std::uint32_t> dir_begin_;
    std::vector<Entry> entries_;
};

Result<std::unique_ptr<const TableArchive::Tree>> TableArchive::Tree::parse(std::string bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return BufrError::table_file("table archive is larger than 4 GiB");
    }
    if (!std::string_view(bytes).starts_with(kMagic)) return BufrError::table_file("not a table archive");
    auto tree = std::make_unique<Tree>();
    Tree& t = *tree;
    t.bytes_ = std::move(bytes);
    Cursor in(t.bytes_, kMagic.size());
    if (const std::uint64_t format = in.number(); in.ok() && format != kFormat) {
        return BufrError::table_file("table archive format " + std::to_string(format) + " is not supported");
    }
    t.label_ = in.text();

    t.names_.resize(in.count());
    for (std::string_view& name : t.names_) name = in.text();

    const std::uint32_t line_count = in.count();
    t.line_offsets_.resize(std::size_t{line_count} + 1);
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < line_count; ++i) {
        total += in.below(in.remaining() + 1);
        t.line_offsets_[i + 1] = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX));
    }
    const auto blob = static_cast<std::uint32_t>(in.position());
    in.bytes(total);
    for (std::uint32_t& offset : t.line_offsets_) offset += blob;

    t.files_.resize(in.count());
    for (FileLines& file : t.files_) {
        file.count = in.count();
        file.offset = static_cast<std::uint32_t>(in.position());
        if (file.count == 0) in.reject();  // a split file has at least one piece
        std::int64_t line = 0;
        for (std::uint32_t i = 0; i < file.count && in.ok(); ++i) {
            const std::int64_t step = unzigzag(in.number());
            if (step < -line || step >= line_count - line) {
                in.reject();
                break;
            }
            line += step;
        }
    }

    const std::uint32_t dir_count = in.count();
    if (dir_count == 0) in.reject();
    t.dir_begin_.reserve(std::size_t{dir_count} + 1);
    for (std::uint32_t d = 0; d < dir_count && in.ok(); ++d) {
        t.dir_begin_.push_back(static_cast<std::uint32_t>(t.entries_.size()));
        const std::uint32_t entry_count = in.count();
        for (std::uint32_t i = 0; i < entry_count && in.ok(); ++i) {
            Entry entry;
            entry.name = in.below(t.names_.size());
            const std::uint64_t tag = in.number();
            entry.kind = static_cast<Kind>(tag & 3);
            const std::uint64_t bound = entry.kind == Kind::Directory ? dir_count
                                        : entry.kind == Kind::File    ? t.files_.size()
                                        : entry.kind == Kind::Link    ? t.names_.size()
                                                                      : 0;
            if ((tag >> 2) >= bound) in.reject();
            entry.target = static_cast<std::uint32_t>(tag >> 2);
            // Lookups search by name, so names must strictly ascend.
            if (i > 0 && in.ok() && !(t.names_[t.entries_.back().name] < t.names_[entry.name])) in.reject();
            t.entries_.push_back(entry);
        }
    }
    t.dir_begin_.push_back(static_cast<std::uint32_t>(t.entries_.size()));
    if (in.ok() && in.remaining() != 0) in.reject();
    if (!in.ok()) return in.damaged();
    return std::unique_ptr<const Tree>(std::move(tree));
}

TableArchive::TableArchive(std::unique_ptr<const Tree> tree) : tree_(std::move(tree)) {}
TableArchive::TableArchive(TableArchive&&) noexcept = default;
TableArchive& TableArchive::operator=(TableArchive&&) noexcept = default;
TableArchive::~TableArchive() = default;

Result<TableArchive> TableArchive::from_bytes(std::string bytes) {
    Result<std::unique_ptr<const Tree>> tree = Tree::parse(std::move(bytes));
    if (!tree) return std::move(tree).error();
    return TableArchive(std::move(tree).value());
}

Result<TableArchive> TableArchive::open(const std::filesystem::path& file) {
    std::string bytes;
    if (Status read = read_whole_file(file, bytes); !read) return std::move(read).error();
    return from_bytes(std::move(bytes));
}

std::string_view TableArchive::label() const { return tree_->label(); }

const TableSource& TableArchive::source() const { return *tree_; }

Result<TableSet> TableArchive::load(const TableChoice& choice) const { return load_table_choice(*tree_, {}, choice); }

}  // namespace corvane

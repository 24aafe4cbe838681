#include "tables/eccodes_loader.hpp"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "descriptor/descriptor.hpp"
#include "files/files.hpp"
#include "tables/delimited_reader.hpp"
#include "text/text.hpp"

namespace corvane {
namespace {

constexpr std::size_t kElementColumns = 8;

// Length of the white-space character at `i`, or 0; table text is nearly all ASCII.
std::size_t space_length(std::string_view text, std::size_t i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) < 0x80) return is_ascii_space(c) ? 1 : 0;
    return whitespace_length(text.substr(i));
}

// The next white-space separated token of `rest`, consumed from it; empty when none is left.
std::string_view next_token(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size()) {
        const std::size_t n = space_length(rest, i);
        if (n == 0) break;
        i += n;
    }
    const std::size_t begin = i;
    while (i < rest.size() && space_length(rest, i) == 0) ++i;
    const std::string_view token = rest.substr(begin, i - begin);
    rest.remove_prefix(i);
    return token;
}

// Calls `on_line` with every trimmed line that is neither empty nor a comment; stops at its first error.
template <class OnLine>
Status for_each_line(std::string_view text, OnLine&& on_line) {
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = trim_unicode_whitespace(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty() || line.front() == '#') continue;
        if (Status s = on_line(line); !s) return s;
    }
    return {};
}

bool stat_ok(const char* path, struct stat& info) { return ::stat(path, &info) == 0; }

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names (not paths) of matching entries, in byte order.
Status matching_names(const std::filesystem::path& dir, std::string_view prefix, std::string_view suffix,
                      std::vector<std::string>& names) {
    names.clear();
    const std::unique_ptr<DIR, DirCloser> handle(::opendir(dir.c_str()));
    if (!handle) return BufrError::io_errno(errno);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(handle.get());
        if (entry == nullptr) {
            if (errno != 0) return BufrError::io_errno(errno);
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (name.starts_with(prefix) && name.ends_with(suffix)) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return {};
}

class FileSystemSource final : public TableSource {
public:
    EntryKind kind(const std::filesystem::path& path) const override {
        struct stat info {};
        if (!stat_ok(path.c_str(), info)) return EntryKind::Missing;
        if (S_ISDIR(info.st_mode)) return EntryKind::Directory;
        return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
    }
    Status read(const std::filesystem::path& file, std::string& content) const override {
        return read_whole_file(file, content);
    }
    Status list(const std::filesystem::path& dir, std::vector<std::string>& names) const override {
        return matching_names(dir, "", "", names);
    }
};

Status read_utf8_file(const TableSource& source, const std::filesystem::path& file, std::string& content) {
    if (Status s = source.read(file, content); !s) return s;
    std::size_t valid = 0;
    if (!is_valid_utf8(content, valid)) return BufrError::io_invalid_utf8();
    return {};
}

std::string_view file_stem(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

Status parse_code_table(std::string_view text, CodeTable& table) {
    return for_each_line(text, [&](std::string_view line) -> Status {
        std::string_view rest = line;
        const std::string_view key = next_token(rest);
        const std::string_view second = next_token(rest);
        std::string_view token = next_token(rest);
        if (second.empty() || token.empty()) return {};
        std::uint64_t value = 0;
        IntParseFailure failure{};
        if (!parse_unsigned(key, UINT64_MAX, value, failure)) return bad_number_error("code table key", key, failure);
        std::string meaning;
        meaning.reserve(token.size() + rest.size() + 1);
        do {
            if (!meaning.empty()) meaning.push_back(' ');
            meaning.append(token);
            token = next_token(rest);
        } while (!token.empty());
        table.insert_or_assign(value, std::move(meaning));
        return {};
    });
}

Status parse_statement(std::string_view statement, SequenceMap& sequences) {
    const std::size_t equals = statement.find('=');
    if (equals == std::string_view::npos) return {};
    std::string_view key = trim_unicode_whitespace(statement.substr(0, equals));
    while (!key.empty() && key.front() == '"') key.remove_prefix(1);
    while (!key.empty() && key.back() == '"') key.remove_suffix(1);
    Result<std::uint32_t> code = parse_code(key);
    if (!code) return std::move(code).error();

    const std::string_view body = statement.substr(equals + 1);
    const std::size_t open = body.find('[');
    const std::size_t close = body.find(']');
    if (open == std::string_view::npos || close == std::string_view::npos) {
        return BufrError::table_file(std::string(statement));
    }
    if (close < open) {
        return BufrError::table_file("sequence statement closes \"]\" before \"[\": " + quote_text(statement));
    }

    SequenceDefinition sequence;
    sequence.code = *code;
    std::string_view members = body.substr(open + 1, close - open - 1);
    sequence.members.reserve(static_cast<std::size_t>(std::count(members.begin(), members.end(), ',')) + 1);
    while (true) {
        const std::size_t comma = members.find(',');
        const std::string_view piece = trim_unicode_whitespace(members.substr(0, comma));
        if (!piece.empty()) {
            Result<std::uint32_t> member = parse_code(piece);
            if (!member) return std::move(member).error();
            sequence.members.push_back(*member);
        }
        if (comma == std::string_view::npos) break;
        members.remove_prefix(comma + 1);
    }
    sequences.insert_or_assign(sequence.code, std::move(sequence));
    return {};
}

}  // namespace

const TableSource& file_system_source() {
    static const FileSystemSource source;
    return source;
}

Status load_eccodes_element_table(const TableSource& source, ElementMap& elements, const std::filesystem::path& file) {
    std::string content;
    // Unlike the other files, a missing or unreadable element.table is a TableFile error.
    if (Status s = source.read(file, content); !s) {
        if (s.error().kind() != ErrorKind::Io) return s;
        return BufrError::table_file(s.error().text());
    }
    DelimitedReader reader = DelimitedReader::over(content, DelimitedDialect{'|', '#'});
    for (;;) {
        Result<bool> more = reader.read_record();
        if (!more) return std::move(more).error();
        if (!*more) return {};
        if (Status s = reader.check_utf8(reader.position()); !s) return s;
        const auto fields = reader.fields();
        if (fields.size() < kElementColumns) continue;
        Result<ElementDefinition> element = parse_element(
            {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7]});
        if (!element) return std::move(element).error();
        elements.insert_or_assign(element->code, std::move(element).value());
    }
}

Status load_eccodes_sequence_def(const TableSource& source, SequenceMap& sequences, const std::filesystem::path& file) {
    std::string content;
    if (Status s = read_utf8_file(source, file, content); !s) return s;
    std::string joined;
    return for_each_line(content, [&](std::string_view line) -> Status {
        // Most statements sit on one line and need no copy.
        if (joined.empty() && line.find(']') != std::string_view::npos) return parse_statement(line, sequences);
        if (!joined.empty()) joined.push_back(' ');
        joined.append(line);
        if (line.find(']') == std::string_view::npos) return {};
        Status status = parse_statement(joined, sequences);
        joined.clear();
        return status;
    });
}

Status load_eccodes_code_tables(const TableSource& source, CodeTableMap& code_tables,
                                const std::filesystem::path& dir) {
    std::vector<std::string> names;
    if (Status s = source.list(dir, names); !s) return s;
    code_tables.reserve(code_tables.size() + names.size());
    std::string content;
    for (const std::string& name : names) {
        if (!name.ends_with(".table")) continue;
        const std::string_view stem = file_stem(name);
        std::size_t valid = 0;
        if (!is_valid_utf8(stem, valid)) continue;
        Result<std::uint32_t> code = parse_code(stem);
        if (!code) return std::move(code).error();
        if (Status s = read_utf8_file(source, dir / name, content); !s) return s;
        CodeTable table;
        table.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1);
        if (Status s = parse_code_table(content, table); !s) return s;
        code_tables.insert_or_assign(*code, std::move(table));
    }
    return {};
}

Status load_eccodes_element_table(ElementMap& elements, const std::filesystem::path& file) {
    return load_eccodes_element_table(file_system_source(), elements, file);
}

Status load_eccodes_sequence_def(SequenceMap& sequences, const std::filesystem::path& file) {
    return load_eccodes_sequence_def(file_system_source(), sequences, file);
}

Status load_eccodes_code_tables(CodeTableMap& code_tables, const std::filesystem::path& dir) {
    return load_eccodes_code_tables(file_system_source(), code_tables, dir);
}

Result<std::vector<std::filesystem::path>> matching_files(const std::filesystem::path& dir, std::string_view prefix,
                                                          std::string_view suffix) {
    std::vector<std::string> names;
    if (Status s = matching_names(dir, prefix, suffix, names); !s) return std::move(s).error();
    std::vector<std::filesystem::path> paths;
    paths.reserve(names.size());
    for (const std::string& name : names) paths.push_back(dir / name);
    return paths;
}

Result<std::filesystem::path> resolve_eccodes_table_dir(const TableSource& source, const std::filesystem::path& start) {
    std::filesystem::path path = start;
    std::string content;
    for (int hop = 0; hop <= kMaxAliasHops; ++hop) {
        const EntryKind kind = source.kind(path);
        if (kind == EntryKind::Directory) return path;
        if (kind != EntryKind::File) {
            return BufrError::table_file("ecCodes table directory does not exist: " + display_path(path));
        }
        if (Status s = read_utf8_file(source, path, content); !s) return std::move(s).error();
        const std::string_view target = trim_unicode_whitespace(content);
        if (target.empty() || target.find_first_of("/\\") != std::string_view::npos) {
            return BufrError::table_file("invalid ecCodes table alias " + display_path(path) + " -> " +
                                         quote_text(target));
        }
        // A regular file always has a parent here: at worst the empty path, the current directory.
        path = path.parent_path() / target;
    }
    return BufrError::table_file("ecCodes table alias chain from " + display_path(start) +
                                 " does not reach a directory within " + std::to_string(kMaxAliasHops) + " aliases");
}

Result<std::filesystem::path> resolve_eccodes_table_dir(const std::filesystem::path& path) {
    return resolve_eccodes_table_dir(file_system_source(), path);
}

Status load_eccodes_dir(const TableSource& source, TableSet& tables, const std::filesystem::path& dir) {
    tables.elements.reserve(tables.elements.size() + 2048);
    tables.sequences.reserve(tables.sequences.size() + 1024);
    if (Status s = load_eccodes_element_table(source, tables.elements, dir / "element.table"); !s) return s;
    if (Status s = load_eccodes_sequence_def(source, tables.sequences, dir / "sequence.def"); !s) return s;
    // Code tables are optional: anything standing at the name is read, and only absence skips them.
    const std::filesystem::path code_tables = dir / "codetables";
    if (source.kind(code_tables) == EntryKind::Missing) return {};
    return load_eccodes_code_tables(source, tables.code_tables, code_tables);
}

Status load_present_eccodes_files(const TableSource& source, TableSet& tables, const std::filesystem::path& dir) {
    if (const auto file = dir / "element.table"; source.kind(file) != EntryKind::Missing) {
        if (Status s = load_eccodes_element_table(source, tables.elements, file); !s) return s;
    }
    if (const auto file = dir / "sequence.def"; source.kind(file) != EntryKind::Missing) {
        if (Status s = load_eccodes_sequence_def(source, tables.sequences, file); !s) return s;
    }
    if (const auto codes = dir / "codetables"; source.kind(codes) != EntryKind::Missing) {
        return load_eccodes_code_tables(source, tables.code_tables, codes);
    }
    return {};
}

Result<TableSet> from_eccodes_dir(const std::filesystem::path& dir) {
    TableSet tables;
    if (Status s = load_eccodes_dir(file_system_source(), tables, dir); !s) return std::move(s).error();
    return tables;
}

}  // namespace corvane

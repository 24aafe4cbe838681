// Builds a small definitions root from the input, lets a message choose master and local tables
// from it and decodes that message: alias chains, local levels and any table text end cleanly.
//
// The input, line by line:
//   M V L N U               section-1 numbers (master table, master version, local version, centre,
//                           subcentre) used when no message entry is given
//   =path/below/the/root    a file holding the bytes up to the next line that starts with "=";
//                           a path ending in "/" is an empty directory
//   =message                not written: a BUFR message whose section 1 chooses the tables and whose
//                           data is then decoded with them
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "data/decoder.hpp"
#include "message/message.hpp"
#include "scratch_dir.hpp"
#include "tables/definitions_loader.hpp"
#include "tables/expand.hpp"

namespace {

namespace fs = std::filesystem;

// A tree this small already holds every case of the table choice; it also bounds the disk used.
constexpr std::size_t kMaxEntries = 24;
constexpr std::size_t kMaxDepth = 10;
constexpr std::size_t kMaxComponent = 64;

struct Entry {
    std::string_view path;
    std::string_view content;
};

struct Input {
    std::string_view header;
    std::vector<Entry> entries;
    std::optional<std::string_view> message;
};

Input split_input(std::string_view text) {
    std::vector<std::string_view> chunks;
    std::size_t start = 0;
    if (!text.empty() && text.front() == '=') {
        chunks.emplace_back();
        start = 1;
    }
    for (;;) {
        const std::size_t cut = text.find("\n=", start);
        chunks.push_back(text.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
        if (cut == std::string_view::npos) break;
        start = cut + 2;
    }
    Input input;
    input.header = chunks.front();
    for (std::size_t i = 1; i < chunks.size() && input.entries.size() < kMaxEntries; ++i) {
        const std::string_view chunk = chunks[i];
        const std::size_t newline = chunk.find('\n');
        Entry entry{chunk.substr(0, newline), newline == std::string_view::npos ? "" : chunk.substr(newline + 1)};
        if (entry.path == "message") {
            input.message = entry.content;
        } else {
            input.entries.push_back(entry);
        }
    }
    return input;
}

// Only plain relative paths below the root: nothing the input names may land outside it.
std::optional<fs::path> path_below(const fs::path& root, std::string_view path) {
    fs::path out = root;
    std::size_t depth = 0;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (component.empty() || component == "." || component == ".." || component.size() > kMaxComponent ||
            component.find('\0') != std::string_view::npos || ++depth > kMaxDepth) {
            return std::nullopt;
        }
        out /= component;
    }
    if (depth == 0) return std::nullopt;
    return out;
}

// Entries that clash with earlier ones (a file where a directory should be) are left out.
void build_tree(const fs::path& root, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        const auto path = path_below(root, entry.path);
        if (!path) continue;
        std::error_code ignored;
        if (entry.path.back() == '/') {
            fs::create_directories(*path, ignored);
            continue;
        }
        fs::create_directories(path->parent_path(), ignored);
        std::FILE* out = std::fopen(path->c_str(), "wb");
        if (out == nullptr) continue;
        if (std::fwrite(entry.content.data(), 1, entry.content.size(), out) != entry.content.size()) std::abort();
        std::fclose(out);
    }
}

std::uint32_t next_number(std::string_view& header) {
    while (!header.empty() && header.front() == ' ') header.remove_prefix(1);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(header.data(), header.data() + header.size(), value);
    header.remove_prefix(static_cast<std::size_t>(end - header.data()));
    return error == std::errc() ? value : 0;
}

corvane::BufrMessage message_from_header(std::string_view header) {
    corvane::BufrMessage message;
    message.master_table_number = static_cast<std::uint8_t>(next_number(header));
    message.master_tables_version_number = static_cast<std::uint8_t>(next_number(header));
    message.local_tables_version_number = static_cast<std::uint8_t>(next_number(header));
    message.originating_centre = static_cast<std::uint16_t>(next_number(header));
    message.originating_subcentre = static_cast<std::uint16_t>(next_number(header));
    return message;
}

// The first message of the entry, with its bytes; nothing when it has none that parses.
std::optional<std::pair<corvane::BufrMessage, std::span<const std::uint8_t>>> parse_first(std::string_view text) {
    const std::span<const std::uint8_t> buffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    auto ranges = corvane::split_messages(buffer);
    if (!ranges.ok() || ranges->empty()) return std::nullopt;
    const auto bytes = buffer.subspan(ranges->front().offset, ranges->front().length);
    auto message = corvane::parse_message(bytes);
    if (!message.ok()) return std::nullopt;
    return std::pair{std::move(message).value(), bytes};
}

void load_and_decode(const fs::path& root, const Input& input) {
    const auto parsed = input.message ? parse_first(*input.message) : std::nullopt;
    const corvane::BufrMessage message = parsed ? parsed->first : message_from_header(input.header);
    auto tables = corvane::from_eccodes_definitions(root, message);
    if (!tables.ok() || !parsed) return;
    (void)corvane::expand_descriptors(*tables, message.unexpanded_descriptors);
    auto values = corvane::decode_uncompressed_values(message, *tables, message.section4_data(parsed->second));
    if (values.ok() && values->size() > corvane::kMaxDecodedValues) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchDir root;
    const Input input = split_input(std::string_view(reinterpret_cast<const char*>(data), size));
    build_tree(root.path(), input.entries);
    load_and_decode(root.path(), input);
    return 0;
}

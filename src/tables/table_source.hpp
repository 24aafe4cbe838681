// Where ecCodes-layout table files are read from: the file system or a packed table archive.
// The ecCodes loaders run over this interface, so both sources follow the same rules.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "error/error.hpp"

namespace corvane {

enum class EntryKind : std::uint8_t { Missing, Directory, File, Other };

class TableSource {
public:
    virtual ~TableSource() = default;

    // What stands at `path`, links followed.
    virtual EntryKind kind(const std::filesystem::path& path) const = 0;
    // The whole file into `content`, reusing its storage; an Io error as the system would give it.
    virtual Status read(const std::filesystem::path& file, std::string& content) const = 0;
    // The entry names of a directory in ascending byte order; an Io error as the system would give it.
    virtual Status list(const std::filesystem::path& dir, std::vector<std::string>& names) const = 0;
};

// The file system itself; stateless.
const TableSource& file_system_source();

}  // namespace corvane

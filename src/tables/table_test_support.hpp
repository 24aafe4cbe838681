// Scratch directories and files for the table loader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "error/error.hpp"

namespace corvane::testing {

// A fresh directory under the system temp directory, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-tables-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rest) const { return path_ / rest; }

    // Writes `content` byte for byte, creating parent directories.
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view content) const {
        const std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return file;
    }
    std::filesystem::path mkdir(const std::filesystem::path& relative) const {
        std::filesystem::create_directories(path_ / relative);
        return path_ / relative;
    }

private:
    std::filesystem::path path_;
};

inline std::filesystem::path test_data() { return CORVANE_TEST_DATA; }
inline std::filesystem::path definitions_root() { return test_data() / "tables" / "definitions"; }
inline std::filesystem::path master_dir(int version) {
    return definitions_root() / "bufr" / "tables" / "0" / "wmo" / std::to_string(version);
}

// The rendered text of a failed result, or a marker when it succeeded.
template <class R>
std::string error_text(const R& result) {
    return result.ok() ? std::string("<no error>") : result.error().render();
}

}  // namespace corvane::testing

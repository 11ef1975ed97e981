// A folder of its own for a test that writes files, removed with everything in it at the end.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os/text.h"

namespace simtest {

class TempFolder {
  public:
    TempFolder() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ =
            std::filesystem::temp_directory_path() / ("zq-sim-" + std::to_string(::getpid()) + "-" +
                                                      test->test_suite_name() + "-" + test->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::filesystem::path Path(const std::string& name) const { return path_ / name; }
    // The path as the simulator's file calls take it.
    std::wstring Wide(const std::string& name) const { return os::FromUtf8(Path(name).string()); }

    // Writes `text` as the whole file, with a time of writing a second later than the file had,
    // so that a rewrite shows even where the clock is coarse.
    void Write(const std::string& name, const std::string& text) const {
        const std::filesystem::path path = Path(name);
        std::error_code missing;
        const auto before = std::filesystem::last_write_time(path, missing);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        if (!missing) {
            std::filesystem::last_write_time(path, before + std::chrono::seconds(1));
        }
    }

    // The file's lines; none when it is missing.
    std::vector<std::string> Lines(const std::string& name) const {
        std::ifstream file(Path(name), std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(file, line)) {
            lines.push_back(line);
        }
        return lines;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace simtest

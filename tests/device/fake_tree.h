// A throw-away directory tree standing in for /sys and /dev in the device tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace plctest {

class FakeTree {
  public:
    FakeTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "plctree.XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        root_ = pattern;
    }
    ~FakeTree() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Path(const std::string& rel) const { return root_ / rel; }

    void Dir(const std::string& rel) const { std::filesystem::create_directories(Path(rel)); }
    void File(const std::string& rel, const std::string& content = "") const {
        std::filesystem::create_directories(Path(rel).parent_path());
        std::ofstream(Path(rel)) << content;
    }
    void Link(const std::string& rel, const std::string& target) const {
        std::filesystem::create_directories(Path(rel).parent_path());
        std::filesystem::create_directory_symlink(target, Path(rel));
    }

  private:
    std::filesystem::path root_;
};

}  // namespace plctest

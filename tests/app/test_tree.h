// A real temporary directory tree for the chooser tests, made current for the
// duration of a test and removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

class TestTree : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    original_ = fs::current_path();
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path root = fs::temp_directory_path() /
                    (std::string("vld_app_") + info->test_suite_name() + "_" + info->name());
    std::error_code ignored;
    fs::remove_all(root, ignored);
    fs::create_directories(root);
    fs::current_path(root);
    // As the platform spells it, which is how full paths will begin.
    root_ = fs::current_path().string();
  }
  void TearDown() override {
    namespace fs = std::filesystem;
    fs::current_path(original_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  static void File(const std::string& name) { std::ofstream(name, std::ios::binary) << "x"; }
  static void Directory(const std::string& name) { std::filesystem::create_directories(name); }
  // The name joined to the tree's root as the platform's full paths are.
  std::string Full(const std::string& relative) const {
    std::string path = root_ + kSeparator + relative;
    for (char& c : path) {
      if (c == '/') c = kSeparator;
    }
    return path;
  }
  // Entries of `directory` matching an extension (any case), in the order the
  // system lists them, each as `prefix` + name.
  static std::vector<std::string> Listed(const std::string& directory, const std::string& extension,
                                         const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (entry.is_directory()) continue;
      std::string name = entry.path().filename().string();
      std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : "";
      for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (tail == extension) names.push_back(prefix + name);
    }
    return names;
  }

  std::filesystem::path original_;
  std::string root_;
};

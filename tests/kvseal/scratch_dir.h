#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace kvseal_test {

// A fresh directory under the temporary folder, removed with its contents.
class CScratchDir {
 public:
  CScratchDir() {
    std::random_device random;
    m_root = std::filesystem::temp_directory_path() /
             ("kvseal-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(m_root);
  }
  ~CScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
  CScratchDir(const CScratchDir&) = delete;
  CScratchDir& operator=(const CScratchDir&) = delete;

  // ROOT/name as UTF-8, the way kvseal takes paths.
  std::string Path(const std::string& name) const { return (m_root / name).u8string(); }

  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_root / name, std::ios::binary) << bytes;
    return Path(name);
  }

  std::string Read(const std::string& name) const {
    std::ifstream file(m_root / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_root)) {
      names.push_back(entry.path().filename().u8string());
    }
    return names;
  }

 private:
  std::filesystem::path m_root;
};

}  // namespace kvseal_test

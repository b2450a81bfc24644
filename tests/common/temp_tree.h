#pragma once

// A fresh directory under the temporary folder, removed with its contents.
// Portable: the kvseal tests use it natively too. Relative names are UTF-8,
// the way kvseal takes paths.

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace kvtest {

// A file and where a test puts it, relative to a tree's root; the caller
// says what `file` names (a build path, a fake's name). A null file stands
// for an empty folder.
struct Placement {
  const char* file;
  const char* relative;
};

class CTempTree {
 public:
  CTempTree() {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (;;) {
      const std::filesystem::path candidate =
          base / ("kvt-" + std::to_string(random()) + "-" + std::to_string(counter++));
      if (std::filesystem::create_directory(candidate)) {
        m_root = candidate;
        return;
      }
    }
  }
  ~CTempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
  CTempTree(const CTempTree&) = delete;
  CTempTree& operator=(const CTempTree&) = delete;

  const std::filesystem::path& Root() const { return m_root; }
  std::filesystem::path At(const std::string& relative) const {
    return m_root / std::filesystem::u8path(relative);
  }
  // ROOT/relative as UTF-8.
  std::string Path(const std::string& relative) const { return At(relative).u8string(); }

  // Creates ROOT/relative (and its parents) and returns it.
  std::filesystem::path Dir(const std::string& relative) const {
    const std::filesystem::path dir = At(relative);
    std::filesystem::create_directories(dir);
    return dir;
  }
  // Copies a file to ROOT/relative, creating the folders on the way.
  std::filesystem::path Copy(const std::filesystem::path& from, const std::string& relative) const {
    const std::filesystem::path to = At(relative);
    std::filesystem::create_directories(to.parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
  }
  // Writes ROOT/relative, creating the folders on the way; returns Path(relative).
  std::string Write(const std::string& relative, const std::string& bytes) const {
    const std::filesystem::path to = At(relative);
    std::filesystem::create_directories(to.parent_path());
    std::ofstream(to, std::ios::binary | std::ios::trunc) << bytes;
    return Path(relative);
  }
  std::string Read(const std::string& relative) const {
    std::ifstream file(At(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  // The names directly under ROOT, in UTF-8.
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

}  // namespace kvtest

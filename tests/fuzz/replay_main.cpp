// Runs a fuzz target over every file of the corpus folders (or files) named
// on the command line, so corpora are exercised by compilers and platforms
// without libFuzzer. A failing input aborts, which fails the test.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> CollectInputs(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root(argv[i]);
    if (!std::filesystem::is_directory(root)) {
      inputs.push_back(root);
      continue;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

bool ReplayFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::filesystem::path> inputs = CollectInputs(argc, argv);
  // An empty or unreadable corpus would pass vacuously.
  if (inputs.empty()) return 1;
  for (const auto& path : inputs) {
    if (!ReplayFile(path)) return 1;
  }
  return 0;
}

#include "pe_imports.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

class CImageFile {
 public:
  explicit CImageFile(std::vector<char> bytes) : m_bytes(std::move(bytes)) {}

  template <typename T>
  const T* At(size_t offset) const {
    if (offset > m_bytes.size() || m_bytes.size() - offset < sizeof(T)) return nullptr;
    return reinterpret_cast<const T*>(m_bytes.data() + offset);
  }

  std::optional<std::string> StringAt(size_t offset) const {
    if (offset >= m_bytes.size()) return std::nullopt;
    const char* begin = m_bytes.data() + offset;
    const void* end = std::memchr(begin, '\0', m_bytes.size() - offset);
    if (end == nullptr) return std::nullopt;
    return std::string(begin, static_cast<const char*>(end));
  }

 private:
  std::vector<char> m_bytes;
};

// Maps a relative virtual address to a file offset through the section table.
class CSectionMap {
 public:
  CSectionMap(const IMAGE_SECTION_HEADER* sections, size_t count)
      : m_sections(sections), m_count(count) {}

  std::optional<size_t> Offset(DWORD rva) const {
    for (size_t i = 0; i < m_count; ++i) {
      const IMAGE_SECTION_HEADER& section = m_sections[i];
      const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
      if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size) {
        return section.PointerToRawData + (rva - section.VirtualAddress);
      }
    }
    return std::nullopt;
  }

 private:
  const IMAGE_SECTION_HEADER* m_sections;
  size_t m_count;
};

std::vector<char> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>{file}, std::istreambuf_iterator<char>{});
}

std::optional<std::vector<ImportedFunction>> ReadThunks(const CImageFile& image,
                                                        const CSectionMap& map, DWORD rva) {
  std::vector<ImportedFunction> functions;
  for (;; rva += sizeof(IMAGE_THUNK_DATA32)) {
    const auto offset = map.Offset(rva);
    const IMAGE_THUNK_DATA32* thunk = offset ? image.At<IMAGE_THUNK_DATA32>(*offset) : nullptr;
    if (thunk == nullptr) return std::nullopt;
    const DWORD value = thunk->u1.AddressOfData;
    if (value == 0) return functions;
    ImportedFunction function;
    if (value & IMAGE_ORDINAL_FLAG32) {
      function.byOrdinal = true;
      function.ordinal = static_cast<uint16_t>(IMAGE_ORDINAL32(value));
    } else {
      // IMAGE_IMPORT_BY_NAME: a 2-byte hint, then the name.
      const auto nameOffset = map.Offset(value + sizeof(WORD));
      const auto name = nameOffset ? image.StringAt(*nameOffset) : std::nullopt;
      if (!name) return std::nullopt;
      function.name = *name;
    }
    functions.push_back(function);
  }
}

}  // namespace

std::optional<std::vector<ImportedDll>> ReadImports32(const std::filesystem::path& path) {
  const CImageFile image(ReadFileBytes(path));

  const auto* dos = image.At<IMAGE_DOS_HEADER>(0);
  if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
  const size_t ntOffset = static_cast<size_t>(dos->e_lfanew);
  const auto* nt = image.At<IMAGE_NT_HEADERS32>(ntOffset);
  if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    return std::nullopt;
  }

  const size_t sectionsOffset =
      ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader;
  const size_t sectionCount = nt->FileHeader.NumberOfSections;
  if (sectionCount == 0 ||
      image.At<IMAGE_SECTION_HEADER>(
          sectionsOffset + (sectionCount - 1) * sizeof(IMAGE_SECTION_HEADER)) == nullptr) {
    return std::nullopt;
  }
  const CSectionMap map(image.At<IMAGE_SECTION_HEADER>(sectionsOffset), sectionCount);

  std::vector<ImportedDll> dlls;
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return dlls;
  for (DWORD rva = directory.VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto offset = map.Offset(rva);
    const auto* descriptor = offset ? image.At<IMAGE_IMPORT_DESCRIPTOR>(*offset) : nullptr;
    if (descriptor == nullptr) return std::nullopt;
    if (descriptor->Name == 0) return dlls;

    const auto nameOffset = map.Offset(descriptor->Name);
    const auto name = nameOffset ? image.StringAt(*nameOffset) : std::nullopt;
    // The lookup table lists the imports; linkers may leave it out and keep
    // only the address table, which on disk holds the same entries.
    const DWORD thunks =
        descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    auto functions = ReadThunks(image, map, thunks);
    if (!name || !functions) return std::nullopt;
    dlls.push_back(ImportedDll{*name, std::move(*functions)});
  }
}

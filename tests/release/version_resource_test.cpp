// The version resource of every shipped binary and the manifest of every
// shipped program, read back from the files as Windows reads them.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "shipped_files.h"

namespace {

using kvtest::Widen;

struct ModuleDeletor {
  void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using CUniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeletor>;

class CVersionInfo {
 public:
  explicit CVersionInfo(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return;
    m_block.resize(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, m_block.data())) m_block.clear();
  }

  bool Present() const { return !m_block.empty(); }

  const VS_FIXEDFILEINFO* Fixed() const {
    void* value = nullptr;
    UINT length = 0;
    if (!Present() || !::VerQueryValueW(m_block.data(), L"\\", &value, &length)) return nullptr;
    return length >= sizeof(VS_FIXEDFILEINFO) ? static_cast<VS_FIXEDFILEINFO*>(value) : nullptr;
  }

  // A string of the US English, Unicode table; nullopt when it is absent.
  std::optional<std::wstring> String(const wchar_t* name) const {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!Present() || !::VerQueryValueW(m_block.data(), query.c_str(), &value, &length)) {
      return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(value));
  }

 private:
  std::vector<unsigned char> m_block;
};

std::string ManifestOf(const std::wstring& path) {
  CUniqueModule module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return "";
  // 1: the manifest the loader reads for a process.
  const HRSRC resource = ::FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  const HGLOBAL loaded = resource ? ::LoadResource(module.get(), resource) : nullptr;
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr) return "";
  return std::string(static_cast<const char*>(bytes), ::SizeofResource(module.get(), resource));
}

std::wstring FileName(const kvtest::ShippedFile& file) {
  return std::filesystem::path(Widen(file.relative)).filename().wstring();
}

TEST(VersionResourceTest, EveryShippedBinaryCarriesTheProjectVersion) {
  const std::wstring version = Widen(KV_PROJECT_VERSION);
  for (const kvtest::ShippedFile& file : kvtest::ShippedFiles()) {
    SCOPED_TRACE(file.relative);
    const CVersionInfo info(kvtest::FromBuildPath(kvtest::ShippedPath(file).c_str()).wstring());
    ASSERT_TRUE(info.Present());

    const VS_FIXEDFILEINFO* fixed = info.Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(KV_VERSION_MINOR, KV_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, KV_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, file.program ? VFT_APP : static_cast<DWORD>(VFT_DLL));

    const std::wstring name = FileName(file);
    const std::wstring stem = std::filesystem::path(name).stem().wstring();
    EXPECT_EQ(info.String(L"FileVersion"), version);
    EXPECT_EQ(info.String(L"ProductVersion"), version);
    EXPECT_EQ(info.String(L"ProductName"), std::wstring(L"kvfetch"));
    EXPECT_EQ(info.String(L"OriginalFilename"), name);
    EXPECT_EQ(info.String(L"InternalName"), stem);
    EXPECT_EQ(info.String(L"CompanyName"), Widen(KV_COMPANY_NAME));
    EXPECT_EQ(info.String(L"LegalCopyright"), Widen(KV_LEGAL_COPYRIGHT));
    const auto description = info.String(L"FileDescription");
    ASSERT_TRUE(description.has_value());
    EXPECT_FALSE(description->empty());
  }
}

TEST(VersionResourceTest, ProgramsRunAsInvokerAndNameTheirSystems) {
  // Vista, 7, 8, 8.1 and 10/11, as Windows' compatibility GUIDs.
  const char* const kSupportedOs[] = {
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};
  for (const kvtest::ShippedFile& file : kvtest::ShippedFiles()) {
    if (!file.program) continue;
    SCOPED_TRACE(file.relative);
    const std::string manifest =
        ManifestOf(kvtest::FromBuildPath(kvtest::ShippedPath(file).c_str()).wstring());
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_EQ(manifest.find("highestAvailable"), std::string::npos);
    for (const char* id : kSupportedOs) {
      EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos)
          << id;
    }
  }
}

}  // namespace

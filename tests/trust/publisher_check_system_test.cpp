// PublisherCheck with the real system calls on modules signed at build time
// (cmake/signing.cmake). The test root is trusted nowhere, so even the good
// signatures verify with a tolerated status rather than ERROR_SUCCESS.

#include <gtest/gtest.h>

#include <windows.h>
#include <wintrust.h>

#include <filesystem>
#include <string>

#include "common/test_support.h"
#include "trust/publisher_check.h"
#include "trust/publisher_check_internal.h"
#include "win/unique_handle.h"

namespace {

std::filesystem::path ModulePath(const char* name) {
  return kvtest::FromBuildPath(KV_TRUST_MODULE_DIR) / name;
}

// What the real verifier said about the last module: its status and the
// error flags of the signer's chain.
struct Observed {
  LONG status = 0;
  DWORD chainErrors = 0;
};
Observed* g_observed = nullptr;

LONG WINAPI ObservingWinVerifyTrust(HWND window, GUID* action, void* record) {
  const LONG status = ::WinVerifyTrust(window, action, record);
  if (static_cast<WINTRUST_DATA*>(record)->dwStateAction == WTD_STATEACTION_VERIFY) {
    g_observed->status = status;
  }
  return status;
}

CRYPT_PROVIDER_DATA* WINAPI ObservingProvData(HANDLE state) {
  CRYPT_PROVIDER_DATA* provData = ::WTHelperProvDataFromStateData(state);
  if (provData && provData->csSigners > 0 && provData->pasSigners[0].pChainContext) {
    g_observed->chainErrors = provData->pasSigners[0].pChainContext->TrustStatus.dwErrorStatus;
  }
  return provData;
}

// Wine 8 returns ERROR_SUCCESS for every good signature, even though its
// chain engine flags the test root as untrusted and the expired leaf as out
// of date; Windows turns the same flags into CERT_E_UNTRUSTEDROOT or
// CERT_E_EXPIRED. Either way the status must be one the check tolerates, and
// the chain flags show that the certificates are what the signer ids claim.
TEST(PublisherCheckSystemTest, AcceptsOnlyListedSigners) {
  constexpr DWORD kUntrustedRoot = CERT_TRUST_IS_UNTRUSTED_ROOT;
  constexpr DWORD kExpired = CERT_TRUST_IS_NOT_TIME_VALID;
  struct Case {
    const char* module;
    bool expected;
    DWORD chainErrors;
  };
  const Case cases[] = {
      {"trust_trusted.dll", true, kUntrustedRoot},
      {"trust_trusted2.dll", true, kUntrustedRoot},
      {"trust_expired.dll", true, kUntrustedRoot | kExpired},
      // Good signatures by names that are not on the list.
      {"trust_unlisted.dll", false, kUntrustedRoot},
      {"trust_case.dll", false, kUntrustedRoot},
      {"trust_space.dll", false, kUntrustedRoot},
  };
  TrustApi observing = SystemTrustApi();
  observing.winVerifyTrust = &ObservingWinVerifyTrust;
  observing.provDataFromStateData = &ObservingProvData;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    const std::filesystem::path path = ModulePath(c.module);
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(PublisherCheck(path.c_str()), c.expected);

    Observed observed;
    g_observed = &observed;
    EXPECT_EQ(InspectPublisher(path.c_str(), observing).Accepted(), c.expected);
    g_observed = nullptr;
    EXPECT_TRUE(IsAcceptedTrustStatus(observed.status))
        << std::hex << "0x" << static_cast<DWORD>(observed.status);
    EXPECT_EQ(observed.chainErrors & (kUntrustedRoot | kExpired), c.chainErrors)
        << std::hex << "0x" << observed.chainErrors;
  }
}

TEST(PublisherCheckSystemTest, RefusesAnUnsignedModule) {
  const std::filesystem::path path = ModulePath("trust_unsigned.dll");
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  Observed observed;
  g_observed = &observed;
  TrustApi observing = SystemTrustApi();
  observing.winVerifyTrust = &ObservingWinVerifyTrust;
  EXPECT_FALSE(InspectPublisher(path.c_str(), observing).Accepted());
  g_observed = nullptr;
  EXPECT_EQ(static_cast<DWORD>(observed.status), static_cast<DWORD>(TRUST_E_NOSIGNATURE));
}

TEST(PublisherCheckSystemTest, RefusesNullAndMissingPaths) {
  EXPECT_FALSE(PublisherCheck(nullptr));
  EXPECT_FALSE(PublisherCheck((ModulePath("no_such_module.dll")).c_str()));
  // A directory exists but is no signed file.
  EXPECT_FALSE(PublisherCheck(kvtest::FromBuildPath(KV_TRUST_MODULE_DIR).c_str()));
}

TEST(PublisherCheckSystemTest, LetsGoOfTheFileAndRefusesItOnceTampered) {
  kvtest::CTempTree tree;
  const std::filesystem::path copy = tree.Copy(ModulePath("trust_trusted.dll"), "tampered.dll");
  ASSERT_TRUE(PublisherCheck(copy.c_str()));
  {
    // The verifier opens the file itself and closes it only when its state
    // is closed, reading the verify records again to do so. An exclusive
    // open fails if either step went wrong.
    CUniqueFile file =
        CUniqueFile(::CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << ::GetLastError();
    // Past the PE headers, inside the code the digest covers.
    ASSERT_NE(::SetFilePointer(file.Get(), 0x600, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    char byte = 0;
    DWORD done = 0;
    ASSERT_TRUE(::ReadFile(file.Get(), &byte, 1, &done, nullptr));
    byte = static_cast<char>(byte ^ 0x5a);
    ASSERT_NE(::SetFilePointer(file.Get(), 0x600, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    ASSERT_TRUE(::WriteFile(file.Get(), &byte, 1, &done, nullptr));
  }
  // A byte changed after signing breaks the digest, whoever signed it.
  EXPECT_FALSE(PublisherCheck(copy.c_str()));
}

}  // namespace

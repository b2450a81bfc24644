// The shipped programs are Authenticode-signed, as the platform's own
// verifier sees them (kvfetch's check reports its WinVerifyTrust result).
#include <gtest/gtest.h>
#include <windows.h>

#include "common/test_support.h"
#include "shipped_files.h"
#include "trust/publisher_check.h"

namespace {

TEST(ReleaseSignatureTest, ProgramsVerifyWithWinVerifyTrust) {
  for (const kvtest::ShippedFile& file : kvtest::ShippedFiles()) {
    if (!file.program) continue;
    SCOPED_TRACE(file.relative);
    const std::wstring path = kvtest::FromBuildPath(kvtest::ShippedPath(file).c_str()).wstring();
    PublisherVerdict verdict;
    static_cast<void>(PublisherCheck(path.c_str(), &verdict));
    ASSERT_TRUE(verdict.verified);
    // The test root is trusted nowhere: Windows says so, Wine returns success.
    EXPECT_TRUE(verdict.status == ERROR_SUCCESS ||
                verdict.status == static_cast<long>(CERT_E_UNTRUSTEDROOT))
        << std::hex << verdict.status;
    EXPECT_FALSE(verdict.signerName.empty());
  }
}

}  // namespace

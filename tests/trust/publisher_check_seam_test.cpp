// PublisherCheck driven through its TrustApi seam: the outcomes Wine cannot
// be made to produce (old systems, expired certificates, odd chains, names
// that fill the buffer, faults half-way through).

#include <gtest/gtest.h>

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "trust/publisher_check_internal.h"
#include "trust/trusted_publishers.h"

namespace {

// A handle value the fake verifier hands out, to see it come back on close.
HANDLE const kFakeState = reinterpret_cast<HANDLE>(0x5eed);

// The fake name call returns what the real one would: length plus terminator.
constexpr DWORD kRealCount = 0xFFFFFFFF;

// One signer whose chain leads to a certificate; each test may break a link.
struct FakeChain {
  CERT_CONTEXT cert = {};
  CERT_CHAIN_ELEMENT element = {};
  PCERT_CHAIN_ELEMENT elements[1] = {};
  CERT_SIMPLE_CHAIN simple = {};
  PCERT_SIMPLE_CHAIN simples[1] = {};
  CERT_CHAIN_CONTEXT context = {};
  CRYPT_PROVIDER_SGNR signer = {};
  CRYPT_PROVIDER_DATA provData = {};

  FakeChain() {
    element.pCertContext = &cert;
    elements[0] = &element;
    simple.cElement = 1;
    simple.rgpElement = elements;
    simples[0] = &simple;
    context.cChain = 1;
    context.rgpChain = simples;
    signer.pChainContext = &context;
    provData.csSigners = 1;
    provData.pasSigners = &signer;
  }
  FakeChain(const FakeChain&) = delete;
  FakeChain& operator=(const FakeChain&) = delete;
};

// What the fake system calls return and what they saw. The calls are plain
// function pointers, so the test reaches its fake through one pointer.
struct FakeSystem {
  BOOL versionResult = TRUE;
  DWORD majorVersion = 10;
  LONG verifyStatus = ERROR_SUCCESS;
  FakeChain chain;
  bool provDataNull = false;
  std::wstring name = TrustedPublishers().names[0];
  DWORD nameCount = kRealCount;
  bool throwInName = false;

  int versionCalls = 0;
  int verifyCalls = 0;
  int closeCalls = 0;
  WINTRUST_DATA verifyRecord = {};
  WINTRUST_FILE_INFO fileRecord = {};
  WINTRUST_DATA closeRecord = {};
  GUID closeAction = {};
  HANDLE provDataState = nullptr;
  DWORD nameType = 0;
  DWORD nameFlags = 1;
  DWORD nameBufferSize = 0;
};

FakeSystem* g_fake = nullptr;

BOOL WINAPI FakeGetVersionEx(OSVERSIONINFOW* info) {
  ++g_fake->versionCalls;
  EXPECT_EQ(info->dwOSVersionInfoSize, 284u);
  EXPECT_EQ(info->dwMajorVersion, 0u);
  if (g_fake->versionResult) info->dwMajorVersion = g_fake->majorVersion;
  return g_fake->versionResult;
}

LONG WINAPI FakeWinVerifyTrust(HWND window, GUID* action, void* record) {
  const GUID expectedAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  EXPECT_EQ(window, nullptr);
  EXPECT_TRUE(IsEqualGUID(*action, expectedAction));
  auto* data = static_cast<WINTRUST_DATA*>(record);
  if (data->dwStateAction == WTD_STATEACTION_CLOSE) {
    ++g_fake->closeCalls;
    g_fake->closeRecord = *data;
    return ERROR_SUCCESS;
  }
  ++g_fake->verifyCalls;
  g_fake->verifyRecord = *data;
  g_fake->fileRecord = *data->pFile;
  data->hWVTStateData = kFakeState;
  return g_fake->verifyStatus;
}

CRYPT_PROVIDER_DATA* WINAPI FakeProvDataFromStateData(HANDLE state) {
  g_fake->provDataState = state;
  return g_fake->provDataNull ? nullptr : &g_fake->chain.provData;
}

DWORD WINAPI FakeCertGetNameString(PCCERT_CONTEXT cert, DWORD type, DWORD flags, void* typePara,
                                   LPWSTR buffer, DWORD bufferSize) {
  EXPECT_EQ(cert, &g_fake->chain.cert);
  EXPECT_EQ(typePara, nullptr);
  g_fake->nameType = type;
  g_fake->nameFlags = flags;
  g_fake->nameBufferSize = bufferSize;
  if (g_fake->throwInName) throw std::bad_alloc();
  const std::wstring& name = g_fake->name;
  const std::size_t units = std::min<std::size_t>(name.size(), bufferSize - 1);
  std::memcpy(buffer, name.data(), units * sizeof(wchar_t));
  buffer[units] = L'\0';
  return g_fake->nameCount == kRealCount ? static_cast<DWORD>(units + 1) : g_fake->nameCount;
}

const TrustApi kFakeApi = {&FakeGetVersionEx, &FakeWinVerifyTrust, &FakeProvDataFromStateData,
                           &FakeCertGetNameString};

class PublisherCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    g_fake = &m_fake;
    // The path must exist: the existence test is a real call.
    wchar_t exe[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    m_path = exe;
  }
  void TearDown() override { g_fake = nullptr; }

  bool Check() { return InspectPublisher(m_path.c_str(), kFakeApi).Accepted(); }

  FakeSystem m_fake;
  std::wstring m_path;
};

TEST_F(PublisherCheckTest, FillsTheVerifyAndCloseRecords) {
  EXPECT_TRUE(Check());

  const WINTRUST_DATA& verify = m_fake.verifyRecord;
  EXPECT_EQ(verify.cbStruct, 48u);
  EXPECT_EQ(verify.pPolicyCallbackData, nullptr);
  EXPECT_EQ(verify.pSIPClientData, nullptr);
  EXPECT_EQ(verify.dwUIChoice, static_cast<DWORD>(WTD_UI_NONE));
  EXPECT_EQ(verify.fdwRevocationChecks, static_cast<DWORD>(WTD_REVOKE_NONE));
  EXPECT_EQ(verify.dwUnionChoice, static_cast<DWORD>(WTD_CHOICE_FILE));
  EXPECT_EQ(verify.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_VERIFY));
  EXPECT_EQ(verify.hWVTStateData, nullptr);
  EXPECT_EQ(verify.pwszURLReference, nullptr);
  EXPECT_EQ(verify.dwProvFlags, 0x1080u);
  EXPECT_EQ(verify.dwUIContext, static_cast<DWORD>(WTD_UICONTEXT_EXECUTE));

  EXPECT_EQ(m_fake.fileRecord.cbStruct, 16u);
  EXPECT_EQ(m_fake.fileRecord.hFile, nullptr);
  EXPECT_EQ(m_fake.fileRecord.pgKnownSubject, nullptr);

  // The close record is fresh: zero apart from size, state and action.
  WINTRUST_DATA expectedClose = {};
  expectedClose.cbStruct = 48;
  expectedClose.hWVTStateData = kFakeState;
  expectedClose.dwStateAction = WTD_STATEACTION_CLOSE;
  EXPECT_EQ(std::memcmp(&m_fake.closeRecord, &expectedClose, sizeof(expectedClose)), 0);

  EXPECT_EQ(m_fake.provDataState, kFakeState);
  EXPECT_EQ(m_fake.nameType, static_cast<DWORD>(CERT_NAME_SIMPLE_DISPLAY_TYPE));
  EXPECT_EQ(m_fake.nameFlags, 0u);
  EXPECT_EQ(m_fake.nameBufferSize, 512u);
}

TEST_F(PublisherCheckTest, ToleratesOnlyExpiryAndUntrustedRoot) {
  struct Case {
    LONG status;
    bool expected;
  };
  const Case cases[] = {
      {ERROR_SUCCESS, true},
      {static_cast<LONG>(CERT_E_EXPIRED), true},
      {static_cast<LONG>(CERT_E_UNTRUSTEDROOT), true},
      {static_cast<LONG>(TRUST_E_NOSIGNATURE), false},
      {static_cast<LONG>(TRUST_E_BAD_DIGEST), false},
      {static_cast<LONG>(TRUST_E_EXPLICIT_DISTRUST), false},
      {static_cast<LONG>(CERT_E_REVOKED), false},
      {static_cast<LONG>(CERT_E_CHAINING), false},
      {static_cast<LONG>(TRUST_E_SUBJECT_NOT_TRUSTED), false},
      {1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "status 0x" << static_cast<DWORD>(c.status));
    FakeSystem fresh;
    fresh.verifyStatus = c.status;
    g_fake = &fresh;
    EXPECT_EQ(Check(), c.expected);
    EXPECT_EQ(fresh.verifyCalls, 1);
    EXPECT_EQ(fresh.closeCalls, 1) << "a refused status must still close the state";
  }
}

TEST_F(PublisherCheckTest, RefusesEveryBrokenLinkOfTheSignerChain) {
  struct Case {
    const char* what;
    std::function<void(FakeChain&)> breakIt;
  };
  const Case cases[] = {
      {"no signers", [](FakeChain& c) { c.provData.csSigners = 0; }},
      {"null signer array", [](FakeChain& c) { c.provData.pasSigners = nullptr; }},
      {"no chain context", [](FakeChain& c) { c.signer.pChainContext = nullptr; }},
      {"no simple chains", [](FakeChain& c) { c.context.cChain = 0; }},
      {"null chain array", [](FakeChain& c) { c.context.rgpChain = nullptr; }},
      {"null first chain", [](FakeChain& c) { c.simples[0] = nullptr; }},
      {"no elements", [](FakeChain& c) { c.simple.cElement = 0; }},
      {"null element array", [](FakeChain& c) { c.simple.rgpElement = nullptr; }},
      {"null first element", [](FakeChain& c) { c.elements[0] = nullptr; }},
      {"no certificate", [](FakeChain& c) { c.element.pCertContext = nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeChain chain;
    EXPECT_EQ(SignerCertificate(&chain.provData), &chain.cert);
    c.breakIt(chain);
    EXPECT_EQ(SignerCertificate(&chain.provData), nullptr);

    FakeSystem fresh;
    c.breakIt(fresh.chain);
    g_fake = &fresh;
    EXPECT_FALSE(Check());
    EXPECT_EQ(fresh.closeCalls, 1);
  }
  EXPECT_EQ(SignerCertificate(nullptr), nullptr);

  m_fake.provDataNull = true;
  g_fake = &m_fake;
  EXPECT_FALSE(Check());
  EXPECT_EQ(m_fake.closeCalls, 1);
}

TEST_F(PublisherCheckTest, RefusesNamesThatMayHaveBeenCut) {
  const std::wstring listed = TrustedPublishers().names[0];
  struct Case {
    const char* what;
    std::wstring name;
    DWORD count;
    bool expected;
  };
  const Case cases[] = {
      {"listed name", listed, kRealCount, true},
      {"count claims the whole buffer", listed, 512, false},
      {"count zero: the call failed", listed, 0, false},
      {"count 511 still leaves room for the terminator", listed, 511, true},
      {"name longer than the buffer", listed + std::wstring(600, L' '), kRealCount, false},
      {"no display name at all", L"", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem fresh;
    fresh.name = c.name;
    fresh.nameCount = c.count;
    g_fake = &fresh;
    EXPECT_EQ(Check(), c.expected);
    EXPECT_EQ(fresh.closeCalls, 1);
  }
}

TEST_F(PublisherCheckTest, FaultDuringVerificationClosesOnceAndRefuses) {
  m_fake.throwInName = true;
  EXPECT_FALSE(Check());
  EXPECT_EQ(m_fake.verifyCalls, 1);
  EXPECT_EQ(m_fake.closeCalls, 1);
}

TEST_F(PublisherCheckTest, SkipsVerificationOnlyOnAReportedOldSystem) {
  struct Case {
    const char* what;
    BOOL versionResult;
    DWORD major;
    LONG status;
    bool expected;
    int verifyCalls;
  };
  const Case cases[] = {
      {"Windows XP, unsigned file", TRUE, 5, static_cast<LONG>(TRUST_E_NOSIGNATURE), true, 0},
      {"Vista verifies", TRUE, 6, static_cast<LONG>(TRUST_E_NOSIGNATURE), false, 1},
      // A failed query tells nothing: verify rather than wave the file through.
      {"failed query, unsigned", FALSE, 5, static_cast<LONG>(TRUST_E_NOSIGNATURE), false, 1},
      {"failed query, good signature", FALSE, 5, ERROR_SUCCESS, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem fresh;
    fresh.versionResult = c.versionResult;
    fresh.majorVersion = c.major;
    fresh.verifyStatus = c.status;
    g_fake = &fresh;
    EXPECT_EQ(Check(), c.expected);
    EXPECT_EQ(fresh.versionCalls, 1);
    EXPECT_EQ(fresh.verifyCalls, c.verifyCalls);
    EXPECT_EQ(fresh.closeCalls, c.verifyCalls);
  }
}

TEST_F(PublisherCheckTest, RefusesNullAndMissingPathsWithoutVerifying) {
  EXPECT_FALSE(InspectPublisher(nullptr, kFakeApi).Accepted());
  EXPECT_FALSE(InspectPublisher(L"Z:\\no\\such\\dir\\Wirelink.dll", kFakeApi).Accepted());
  EXPECT_EQ(m_fake.versionCalls, 0);
  EXPECT_EQ(m_fake.verifyCalls, 0);
}

}  // namespace

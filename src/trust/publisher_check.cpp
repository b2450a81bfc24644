#include "trust/publisher_check.h"

#include <windows.h>
#include <shlwapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "trust/publisher_check_internal.h"
#include "trust/trusted_publishers.h"

namespace {

// The record as it stood before pSignatureSettings was appended: 48 bytes on
// i686. Passing the older size keeps the call valid on every Windows from
// Vista on. (An x86_64 build would need 80 here.)
constexpr DWORD kWinTrustDataSize = 48;
static_assert(offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD) == kWinTrustDataSize,
              "WINTRUST_DATA prefix up to dwUIContext must be 48 bytes (i686)");

constexpr DWORD kWinTrustFileInfoSize = 16;
static_assert(sizeof(WINTRUST_FILE_INFO) == kWinTrustFileInfoSize,
              "WINTRUST_FILE_INFO must be 16 bytes (i686)");

constexpr DWORD kOsVersionInfoExSize = 284;
static_assert(sizeof(OSVERSIONINFOEXW) == kOsVersionInfoExSize,
              "OSVERSIONINFOEXW must be 284 bytes");

// Revocation data may come from the local cache only: the check must never
// wait on the network before the network library is even loaded. A root
// signs its own revocation lists, so asking about it proves nothing.
constexpr DWORD kProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
static_assert(kProvFlags == 0x1080, "provider flags changed");

// A name needs its terminator, so a count equal to the buffer size means the
// name may have been cut short.
constexpr DWORD kNameBufferSize = 512;

// Vista is 6.0. XP-era verifiers reject the SHA-256 signatures our
// publishers use, so checking there would refuse every good library.
constexpr DWORD kFirstVerifyingMajorVersion = 6;

// Ends the verification state opened by one verify call. The close call
// gets a fresh record so that nothing the verify call wrote into its own
// record can leak into the close.
class CTrustStateCloser {
 public:
  CTrustStateCloser(const TrustApi& api, HANDLE state) : m_api(api), m_state(state) {}
  ~CTrustStateCloser() {
    WINTRUST_DATA closeData = {};
    closeData.cbStruct = kWinTrustDataSize;
    closeData.hWVTStateData = m_state;
    closeData.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    m_api.winVerifyTrust(nullptr, &action, &closeData);
  }
  CTrustStateCloser(const CTrustStateCloser&) = delete;
  CTrustStateCloser& operator=(const CTrustStateCloser&) = delete;

  HANDLE State() const { return m_state; }

 private:
  const TrustApi& m_api;
  HANDLE m_state;
};

// The records of one verify call. The verifier keeps pointers to them in its
// state and reads them again when the state is closed (it closes the file it
// opened through pFile), so they must outlive the close call. Not movable:
// the data record points at the file record.
struct VerifyRecords {
  WINTRUST_FILE_INFO file = {};
  WINTRUST_DATA data = {};

  VerifyRecords() = default;
  VerifyRecords(const VerifyRecords&) = delete;
  VerifyRecords& operator=(const VerifyRecords&) = delete;
};

// Runs the verify call and returns its status. Whatever the status, the
// caller must close records.data.hWVTStateData while `records` still lives.
LONG VerifySignature(const wchar_t* path, const TrustApi& api, VerifyRecords& records) {
  records.file.cbStruct = kWinTrustFileInfoSize;
  records.file.pcwszFilePath = path;

  WINTRUST_DATA& data = records.data;
  data.cbStruct = kWinTrustDataSize;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &records.file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = kProvFlags;
  data.dwUIContext = WTD_UICONTEXT_EXECUTE;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return api.winVerifyTrust(nullptr,  // no window: never show UI
                            &action, &data);
}

// The subject's simple display name, or an empty string when there is none
// or it did not fit.
std::wstring SignerDisplayName(PCCERT_CONTEXT cert, const TrustApi& api) {
  wchar_t name[kNameBufferSize] = {};
  const DWORD count = api.certGetNameString(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE,
                                            0,        // subject, not issuer
                                            nullptr,  // no type parameter
                                            name, kNameBufferSize);
  if (count < 1 || count >= kNameBufferSize) return std::wstring();
  return std::wstring(name);
}

// Fills in the verdict from the verify call on. The step becomes kAccepted
// only as the last thing, once nothing can raise any more.
void InspectSignature(const wchar_t* path, const TrustApi& api, PublisherVerdict& verdict) {
  // Declared before the closer so that they are destroyed after the close.
  VerifyRecords records;
  const LONG status = VerifySignature(path, api, records);
  CTrustStateCloser closer(api, records.data.hWVTStateData);
  verdict.verified = true;
  verdict.status = status;
  if (!IsAcceptedTrustStatus(status)) {
    verdict.step = PublisherStep::kStatusRefused;
    return;
  }

  const CRYPT_PROVIDER_DATA* provData = api.provDataFromStateData(closer.State());
  const PCCERT_CONTEXT cert = SignerCertificate(provData);
  if (!cert) {
    verdict.step = PublisherStep::kNoSignerCertificate;
    return;
  }

  // An empty name is on no list, so it needs no case of its own.
  verdict.signerName = SignerDisplayName(cert, api);
  verdict.step = MatchPublisherName(verdict.signerName.c_str()) ? PublisherStep::kAccepted
                                                                : PublisherStep::kNameNotListed;
}

}  // namespace

const TrustApi& SystemTrustApi() {
  static const TrustApi api = {
      &::GetVersionExW,
      &::WinVerifyTrust,
      &::WTHelperProvDataFromStateData,
      &::CertGetNameStringW,
  };
  return api;
}

bool IsLegacyWindows(const TrustApi& api) {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = kOsVersionInfoExSize;
  // A failed query says nothing about the system; treating it as "old"
  // would wave an unverified library through, so it verifies as usual.
  if (!api.getVersionEx(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
  return info.dwMajorVersion < kFirstVerifyingMajorVersion;
}

bool IsAcceptedTrustStatus(LONG status) {
  switch (static_cast<DWORD>(status)) {
    case ERROR_SUCCESS:
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
      return true;
    default:
      return false;
  }
}

PCCERT_CONTEXT SignerCertificate(const CRYPT_PROVIDER_DATA* provData) {
  if (!provData || provData->csSigners == 0 || !provData->pasSigners) return nullptr;
  // Only the first signer counts: that is the one Authenticode verified.
  const CERT_CHAIN_CONTEXT* chainContext = provData->pasSigners[0].pChainContext;
  if (!chainContext || !chainContext->rgpChain || chainContext->cChain == 0) return nullptr;
  const CERT_SIMPLE_CHAIN* chain = chainContext->rgpChain[0];
  if (!chain || chain->cElement == 0 || !chain->rgpElement) return nullptr;
  const CERT_CHAIN_ELEMENT* element = chain->rgpElement[0];
  if (!element) return nullptr;
  return element->pCertContext;
}

PublisherVerdict InspectPublisher(const wchar_t* path, const TrustApi& api) {
  PublisherVerdict verdict;
  if (!path || !::PathFileExistsW(path)) return verdict;
  try {
    if (IsLegacyWindows(api)) {
      verdict.step = PublisherStep::kLegacyWindows;
      return verdict;
    }
    InspectSignature(path, api, verdict);
  } catch (...) {
    // Unwinding has already closed the verification state, if one was open.
    verdict.step = PublisherStep::kFault;
  }
  return verdict;
}

// The findings cost a status copy and a move of the name the check reads
// anyway: nothing next to the verification itself.
bool PublisherCheck(const wchar_t* path, PublisherVerdict* findings) {
  PublisherVerdict verdict = InspectPublisher(path, SystemTrustApi());
  const bool trusted = verdict.Accepted();
  if (findings) *findings = std::move(verdict);
  return trusted;
}

bool MatchPublisherName(const wchar_t* name) {
  if (!name) return false;
  const std::wstring_view candidate(name);
  const TrustedPublisherList list = TrustedPublishers();
  for (std::size_t i = 0; i < list.count; ++i) {
    if (candidate == list.names[i]) return true;
  }
  return false;
}

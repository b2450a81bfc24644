#pragma once

// The pieces of PublisherCheck that tests drive directly. Not for other
// subsystems: they call PublisherCheck(path).

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "trust/publisher_check.h"

// The four system calls whose outcomes Wine cannot be made to produce on
// demand (old Windows, expired certificates, odd chains, over-long names).
// The loader's path always uses SystemTrustApi().
struct TrustApi {
  decltype(&::GetVersionExW) getVersionEx;
  decltype(&::WinVerifyTrust) winVerifyTrust;
  decltype(&::WTHelperProvDataFromStateData) provDataFromStateData;
  decltype(&::CertGetNameStringW) certGetNameString;
};

const TrustApi& SystemTrustApi();

// PublisherCheck with the given system calls: it returns exactly this
// verdict's Accepted().
PublisherVerdict InspectPublisher(const wchar_t* path, const TrustApi& api);

// True only when the system positively reports a major version below 6.
[[nodiscard]] bool IsLegacyWindows(const TrustApi& api);

// The verification outcomes that still identify the signer: a good
// signature, an expired signing certificate, or a root this machine does not
// trust (our publishers' roots need not be installed everywhere).
[[nodiscard]] bool IsAcceptedTrustStatus(LONG status);

// The first signer's end certificate: the first element of the first simple
// chain, or null when any link of the way there is missing or empty.
[[nodiscard]] PCCERT_CONTEXT SignerCertificate(const CRYPT_PROVIDER_DATA* provData);

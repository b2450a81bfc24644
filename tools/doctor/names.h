#pragma once

#include <windows.h>

#include <string>

#include "diagnosis.h"

// Names shared by the text and the JSON reports, so the two never differ.
// The ...Name functions give identifiers ("status_refused"), which the JSON
// report uses as they are and the text report spells with spaces.

std::string Utf8(const std::wstring& text);

// "0x800B0109"
std::string HexStatus(long status);
// The header name of a WinVerifyTrust status, such as "CERT_E_UNTRUSTEDROOT",
// or "unknown status".
const char* TrustStatusName(long status);

// What became of a candidate the loader looked at, after its check.
enum class CandidateLoad {
  kNotTried,     // missing, path too long, or refused by the publisher check
  kLoaded,       // loaded here and usable: the run's library
  kNotUsable,    // loaded here, but HttpInit, HttpUninit or the factory is missing
  kAlreadyHeld,  // an earlier candidate stays loaded, so nothing was loaded
  kLoadFailed,   // LoadLibraryW refused it
};
CandidateLoad ClassifyLoad(const CandidateReport& candidate);
const char* CandidateLoadName(CandidateLoad load);

const char* PublisherStepName(PublisherStep step);
const char* RequestOutcomeName(HttpGetOutcome outcome);
// For a failure text "err_A_B": the WinHTTP or Win32 name of A, or the HTTP
// status when A is 0 and B is not; empty when there is nothing to add.
std::string ExplainRequestError(const std::string& errorText);

// What `check` tests, such as "errno" or "appid_string".
const char* EnvelopeCheckName(EnvelopeCheck check);

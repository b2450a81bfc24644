#include "names.h"

#include <winhttp.h>

#include <cstdio>

namespace {

struct StatusName {
  long status;
  const char* name;
};

// The statuses an operator is likely to meet: the three the check tolerates
// and the usual reasons for a refusal.
#define KV_STATUS(code) \
  { static_cast<long>(code), #code }
constexpr StatusName kTrustStatusNames[] = {
    KV_STATUS(ERROR_SUCCESS),
    KV_STATUS(CERT_E_EXPIRED),
    KV_STATUS(CERT_E_UNTRUSTEDROOT),
    KV_STATUS(TRUST_E_NOSIGNATURE),
    KV_STATUS(TRUST_E_BAD_DIGEST),
    KV_STATUS(TRUST_E_SUBJECT_NOT_TRUSTED),
    KV_STATUS(TRUST_E_EXPLICIT_DISTRUST),
    KV_STATUS(TRUST_E_PROVIDER_UNKNOWN),
    KV_STATUS(TRUST_E_SUBJECT_FORM_UNKNOWN),
    KV_STATUS(TRUST_E_CERT_SIGNATURE),
    KV_STATUS(TRUST_E_SYSTEM_ERROR),
    KV_STATUS(CERT_E_CHAINING),
    KV_STATUS(CERT_E_REVOKED),
    KV_STATUS(CERT_E_UNTRUSTEDTESTROOT),
    KV_STATUS(CERT_E_WRONG_USAGE),
    KV_STATUS(CRYPT_E_SECURITY_SETTINGS),
    KV_STATUS(CRYPT_E_FILE_ERROR),
};

constexpr StatusName kRequestErrorNames[] = {
    KV_STATUS(ERROR_INSUFFICIENT_BUFFER),         KV_STATUS(ERROR_WINHTTP_TIMEOUT),
    KV_STATUS(ERROR_WINHTTP_INVALID_URL),         KV_STATUS(ERROR_WINHTTP_NAME_NOT_RESOLVED),
    KV_STATUS(ERROR_WINHTTP_OPERATION_CANCELLED), KV_STATUS(ERROR_WINHTTP_CANNOT_CONNECT),
    KV_STATUS(ERROR_WINHTTP_CONNECTION_ERROR),    KV_STATUS(ERROR_WINHTTP_INVALID_SERVER_RESPONSE),
};
#undef KV_STATUS

template <std::size_t N>
const char* FindName(const StatusName (&table)[N], long status) {
  for (const StatusName& entry : table) {
    if (entry.status == status) return entry.name;
  }
  return nullptr;
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
  return out;
}

std::string HexStatus(long status) {
  char text[11] = {};
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

const char* TrustStatusName(long status) {
  const char* name = FindName(kTrustStatusNames, status);
  return name ? name : "unknown status";
}

CandidateLoad ClassifyLoad(const CandidateReport& candidate) {
  if (!candidate.loadTried) return CandidateLoad::kNotTried;
  if (candidate.usable) return CandidateLoad::kLoaded;
  if (candidate.loadedHere) return CandidateLoad::kNotUsable;
  if (candidate.moduleHeld) return CandidateLoad::kAlreadyHeld;
  return CandidateLoad::kLoadFailed;
}

const char* CandidateLoadName(CandidateLoad load) {
  switch (load) {
    case CandidateLoad::kNotTried:
      return "not_tried";
    case CandidateLoad::kLoaded:
      return "loaded";
    case CandidateLoad::kNotUsable:
      return "not_usable";
    case CandidateLoad::kAlreadyHeld:
      return "already_held";
    case CandidateLoad::kLoadFailed:
      return "load_failed";
  }
  return "unknown";
}

const char* PublisherStepName(PublisherStep step) {
  switch (step) {
    case PublisherStep::kNoFile:
      return "no_file";
    case PublisherStep::kLegacyWindows:
      return "legacy_windows";
    case PublisherStep::kStatusRefused:
      return "status_refused";
    case PublisherStep::kNoSignerCertificate:
      return "no_signer_certificate";
    case PublisherStep::kNameNotListed:
      return "not_listed";
    case PublisherStep::kFault:
      return "fault";
    case PublisherStep::kAccepted:
      return "trusted";
  }
  return "unknown";
}

const char* RequestOutcomeName(HttpGetOutcome outcome) {
  switch (outcome) {
    case HttpGetOutcome::kSucceeded:
      return "success";
    case HttpGetOutcome::kNoFactory:
      return "no_factory";
    case HttpGetOutcome::kNoTask:
      return "no_task";
    case HttpGetOutcome::kNotStarted:
      return "not_started";
    case HttpGetOutcome::kNoEvent:
      return "no_event";
    case HttpGetOutcome::kNoAnswer:
      return "timeout";
    case HttpGetOutcome::kFailed:
      return "failure";
  }
  return "unknown";
}

std::string ExplainRequestError(const std::string& errorText) {
  int first = 0;
  int second = 0;
  char end = '\0';
  if (std::sscanf(errorText.c_str(), "err_%d_%d%c", &first, &second, &end) != 2) {
    return std::string();
  }
  if (first == 0 && second != 0) return "HTTP status " + std::to_string(second);
  const char* name = FindName(kRequestErrorNames, first);
  return name ? name : std::string();
}

const char* EnvelopeCheckName(EnvelopeCheck check) {
  switch (check) {
    case EnvelopeCheck::kAccepted:
      return "accepted";
    case EnvelopeCheck::kNotJsonObject:
      return "json_object";
    case EnvelopeCheck::kErrnoNonZero:
      return "errno";
    case EnvelopeCheck::kDataNotString:
      return "data_string";
    case EnvelopeCheck::kDataEmpty:
      return "data_not_empty";
    case EnvelopeCheck::kDataUndecipherable:
      return "data_deciphered";
    case EnvelopeCheck::kPlainNotJsonObject:
      return "configuration_json_object";
    case EnvelopeCheck::kAppidNotString:
      return "appid_string";
  }
  return "unknown";
}

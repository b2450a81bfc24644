#pragma once

#include <string>

struct PublisherVerdict;

// Decides whether the library file at `path` (a full, NUL-terminated path,
// may be null) may be loaded into the process: its Authenticode signature
// must verify, tolerating an expired certificate or an untrusted root, and
// the display name of its signer must be on the trusted publisher list.
// On Windows before Vista every existing file is accepted, as those systems
// cannot verify the signatures our publishers use. Keeps no state, shows no UI and lets
// nothing escape: any fault inside counts as "not trusted". With `findings`,
// what the decision was made on is copied there; the decision is the same.
[[nodiscard]] bool PublisherCheck(const wchar_t* path, PublisherVerdict* findings = nullptr);

// The step of the check that decided, in the order the steps run.
enum class PublisherStep {
  kNoFile,               // null path, or nothing at the path
  kLegacyWindows,        // accepted without verification: the system predates Vista
  kStatusRefused,        // the verification status is not one we tolerate
  kNoSignerCertificate,  // no first signer with an end certificate
  kNameNotListed,        // the signer's name is empty, was cut, or is not on the list
  kFault,                // something inside the verification raised
  kAccepted,
};

// What PublisherCheck found out about one file; it returns exactly
// Accepted(), so a tool that explains the verdict can never disagree with
// the loader. The step decides; the rest is evidence.
struct PublisherVerdict {
  PublisherStep step = PublisherStep::kNoFile;
  bool verified = false;  // WinVerifyTrust returned, and `status` is its result
  long status = 0;
  // Read only after a tolerated status; empty when there is none or it was cut.
  std::wstring signerName;

  bool Accepted() const {
    return step == PublisherStep::kAccepted || step == PublisherStep::kLegacyWindows;
  }
  // The signer's name was read and is on the list.
  bool Listed() const { return step == PublisherStep::kAccepted; }
};

// True when `name` (NUL-terminated) equals an entry of the trusted publisher
// list code unit for code unit: no case folding, trimming or normalisation.
[[nodiscard]] bool MatchPublisherName(const wchar_t* name);

#pragma once

// Decides whether the library file at `path` (a full, NUL-terminated path,
// may be null) may be loaded into the process: its Authenticode signature
// must verify, tolerating an expired certificate or an untrusted root, and
// the display name of its signer must be on the trusted publisher list.
// On Windows before Vista every existing file is accepted, as those systems
// cannot verify the signatures our publishers use. Keeps no state, shows no UI and lets
// nothing escape: any fault inside counts as "not trusted".
[[nodiscard]] bool PublisherCheck(const wchar_t* path);

// True when `name` (NUL-terminated) equals an entry of the trusted publisher
// list code unit for code unit: no case folding, trimming or normalisation.
[[nodiscard]] bool MatchPublisherName(const wchar_t* name);

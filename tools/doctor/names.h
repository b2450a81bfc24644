#pragma once

#include <windows.h>

#include <string>

#include "diagnosis.h"
#include "shared/name_table.h"
#include "shared/utf8.h"

// Names shared by the text and the JSON reports, so the two never differ.
// The ...Name functions give identifiers ("status_refused"), which the JSON
// report uses as they are and the text report spells with spaces.

// "0x800B0109"
std::string HexStatus(long status);
// The header name of a WinVerifyTrust status, such as "CERT_E_UNTRUSTEDROOT"
// or, for a file it could not read, "ERROR_ACCESS_DENIED"; else "unknown status".
const char* TrustStatusName(long status);
// "WSAETIMEDOUT: connection timed out" for a Win32, Winsock or WinHTTP error
// number a request or a load can end with; empty for one not in the table.
std::string ErrorName(long code);

// `text` (UTF-8 or UTF-16) made safe to print within one line: control characters (C0, DEL, C1),
// line and paragraph separators and bidirectional controls as \n, \r, \t, \xNN or \uNNNN, bytes
// that are not UTF-8 as \xNN, lone surrogates as \uNNNN. With `quoted`, '"' and '\\' are escaped
// too and the result is put in quotes.
std::string Escaped(const std::string& text, bool quoted = false);
std::string Escaped(const std::wstring& text, bool quoted = false);

// What became of a candidate the loader looked at, after its check.
enum class CandidateLoad {
  kNotTried,     // missing, path too long, or refused by the publisher check
  kLoaded,       // loaded here and usable: the run's library
  kNotUsable,    // loaded here, but HttpInit, HttpUninit or the factory is missing
  kAlreadyHeld,  // an earlier candidate stays loaded, so nothing was loaded
  kLoadFailed,   // LoadLibraryW refused it
};
CandidateLoad ClassifyLoad(const CandidateReport& candidate);

// Each enum's identifier (for the JSON report) and words (for the text
// report), one table per enum.
const NameRow<CandidateLoad>& NamesOf(CandidateLoad load);
const NameRow<PublisherStep>& NamesOf(PublisherStep step);
const NameRow<HttpGetOutcome>& NamesOf(HttpGetOutcome outcome);
const NameRow<FileKind>& NamesOf(FileKind kind);
const NameRow<ErrnoSent>& NamesOf(ErrnoSent sent);
// For a failure text "err_A_B": the WinHTTP, Winsock or Win32 name of A, or
// the HTTP status when A is 0 and B is not (saying so for a redirect); empty
// when the text is not of that form.
std::string ExplainRequestError(const std::string& errorText);

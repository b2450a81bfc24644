#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "net/http_get.h"
#include "net/net_library.h"
#include "app/decode_config.h"
#include "app/run_sequence.h"
#include "payload/config_envelope.h"
#include "payload/json_document.h"

// What a path names, looked at apart from the loader, which only asks
// PathFileExistsW (a folder passes it; a FIFO or a device does not).
enum class FileKind {
  kMissing,
  kRegular,
  kFolder,
  kOther,  // a FIFO, a device or the like: listed in its folder, but no file
};
FileKind ClassifyFile(const std::wstring& path);

// How "errno" was sent, beside the status kvfetch read from it.
enum class ErrnoSent {
  kAbsent,      // no "errno" member: read as 0
  kStatus,      // an integer in the signed 32-bit range: kvfetch's status
  kNotAStatus,  // anything else ("500", 1.5, 2^31, true...): read as 0, not an error
};

// What became of a candidate the loader looked at, after its check.
enum class CandidateLoad {
  kNotTried,     // missing, path too long, or refused by the publisher check
  kLoaded,       // loaded here and usable: the run's library
  kNotUsable,    // loaded here, but a required export or the factory is missing
  kAlreadyHeld,  // an earlier candidate stays loaded, so nothing was loaded
  kLoadFailed,   // LoadLibraryW refused it
};
CandidateLoad ClassifyLoad(const CandidateReport& candidate);

// One candidate file: what the loader saw and did at its path, and what that
// path names.
struct CandidateFinding {
  CandidateReport loader;
  FileKind kind = FileKind::kMissing;
};

// Everything kvfetch would find on this machine, step by step, as the
// system's own code found it in this process.
struct Diagnosis {
  std::wstring programPath;

  // Loader: the folder it searched, the candidates in the order it tried
  // them, and what the holder ended up with.
  bool directoryFound = false;  // false when the program's own path did not fit
  std::wstring directory;
  std::vector<CandidateFinding> candidates;
  bool libraryUsable = false;  // NetLibrary::Init's result, which the run ignores
  bool libraryHeld = false;
  std::wstring loadedPath;
  NetExports exports;
  bool hasFactory = false;

  // The request.
  std::wstring url;
  bool fetched = false;
  HttpGetReport request;
  std::string body;

  // The envelope, when the fetch succeeded.
  std::size_t bodyLengthParsed = 0;  // up to the first NUL, as the parser sees it
  EnvelopeVerdict envelope;
  ErrnoSent errnoSent = ErrnoSent::kAbsent;
  Json::Value errnoValue;  // as sent, when present
  std::string appid;
  // What QXSDK2.dll reads of the configuration text: up to its first NUL
  // (the sender's zero filler ends it early).
  std::size_t configurationLengthRead = 0;
  // Whether that text reads as complete JSON: kvfetch's checks also accept
  // an object that breaks off, from the members read before the break.
  bool configurationComplete = false;
  // The configuration as compact JSON, for an idea of the rendering's size.
  std::size_t compactLength = 0;

  // The decoding library kvfetch binds at start-up; the doctor only looks.
  std::wstring decoderPath;
  bool decoderPresent = false;

  int exitStatus = kExitFetchFailed;
};

// Runs kvfetch's steps up to the decoding call, through the same code:
// NetLibrary::Init, HttpGet with kConfigUrl, InspectConfigEnvelope. Makes
// one real request, like kvfetch. Call once per process: the holder keeps the
// library it loaded.
Diagnosis Diagnose();

// The envelope part of Diagnose, on `diagnosis.body`: what follows a
// successful fetch.
void InspectFetchedBody(Diagnosis& diagnosis);

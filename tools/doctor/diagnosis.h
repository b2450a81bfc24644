#pragma once

#include <windows.h>

#include <string>

#include "net/http_get.h"
#include "net/net_library.h"
#include "payload/config_envelope.h"

// The exit status kvfetch reports for a failed fetch.
inline constexpr int kExitFetchFailed = -1;

// Everything kvfetch would find on this machine, step by step, as the
// system's own code found it in this process.
struct Diagnosis {
  std::wstring programPath;

  // Loader: the search, and what the holder ended up with.
  LibrarySearchReport search;
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
  std::string appid;
  // What QXSDK2.dll reads of the configuration text: up to its first NUL
  // (the sender's zero filler ends it early).
  std::size_t configurationLengthRead = 0;

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

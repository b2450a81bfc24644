#include "diagnosis.h"

#include <shlwapi.h>

#include <cstring>

#include "app/config_url.h"
#include "payload/json_document.h"

namespace {

// Paths longer than MAX_PATH are what kvfetch refuses as well; the doctor
// only needs room for them to say so.
constexpr DWORD kPathCapacity = 32768;

constexpr const wchar_t* kDecoderName = L"QXSDK2.dll";

std::wstring ModulePath(HMODULE module) {
  std::wstring path(kPathCapacity, L'\0');
  const DWORD length = ::GetModuleFileNameW(module, &path[0], kPathCapacity);
  path.resize(length < kPathCapacity ? length : 0);
  return path;
}

// Where the loader finds QXSDK2.dll first: beside the program.
std::wstring DecoderPath(const std::wstring& programPath) {
  const std::wstring::size_type separator = programPath.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return kDecoderName;
  return programPath.substr(0, separator + 1) + kDecoderName;
}

void DescribeHeldLibrary(Diagnosis& diagnosis) {
  const NetLibrary& library = NetLibrary::Instance();
  diagnosis.libraryHeld = library.Module() != nullptr;
  if (diagnosis.libraryHeld) diagnosis.loadedPath = ModulePath(library.Module());
  diagnosis.exports = library.Exports();
  diagnosis.hasFactory = library.Factory() != nullptr;
}

void DescribeSearch(const LibrarySearchReport& search, Diagnosis& diagnosis) {
  diagnosis.directoryFound = search.directoryFound;
  diagnosis.directory = search.directory;
  for (const CandidateReport& candidate : search.candidates) {
    const FileKind kind =
        candidate.path.empty() ? FileKind::kMissing : ClassifyFile(candidate.path);
    diagnosis.candidates.push_back({candidate, kind});
  }
}

// The "errno" member as sent; kvfetch's own lookup decides whether it is a
// status: an in-range integer reads the same under any default.
void DescribeErrno(const JsonDocument& envelope, Diagnosis& diagnosis) {
  if (!envelope.isObject() || !envelope.isMember("errno")) return;
  diagnosis.errnoValue = envelope["errno"];
  diagnosis.errnoSent = envelope.GetIntAt("errno", 0) == envelope.GetIntAt("errno", 1)
                            ? ErrnoSent::kStatus
                            : ErrnoSent::kNotAStatus;
}

void DescribeConfiguration(Diagnosis& diagnosis) {
  const std::string& text = diagnosis.envelope.text;
  diagnosis.configurationLengthRead = ::strnlen(text.c_str(), text.size());
  diagnosis.appid = JsonDocument(text).GetStringAt("appid", "");
  // What QXSDK2.dll is handed: the text up to its first NUL.
  JsonDocument configuration;
  diagnosis.configurationComplete =
      configuration.Parse(text.substr(0, diagnosis.configurationLengthRead));
  Json::StreamWriterBuilder compact;
  compact["indentation"] = "";
  compact["emitUTF8"] = true;
  diagnosis.compactLength = Json::writeString(compact, configuration).size();
}

}  // namespace

FileKind ClassifyFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kFolder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? FileKind::kOther : FileKind::kRegular;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileKind::kMissing;
  // Wine refuses the attributes of a FIFO or a device (error 87) although
  // the folder lists it.
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return FileKind::kMissing;
  ::FindClose(search);
  return FileKind::kOther;
}

CandidateLoad ClassifyLoad(const CandidateReport& candidate) {
  if (!candidate.loadTried) return CandidateLoad::kNotTried;
  if (candidate.usable) return CandidateLoad::kLoaded;
  if (candidate.loadedHere) return CandidateLoad::kNotUsable;
  if (candidate.moduleHeld) return CandidateLoad::kAlreadyHeld;
  return CandidateLoad::kLoadFailed;
}

void InspectFetchedBody(Diagnosis& diagnosis) {
  // The run hands the body on as a C string, so the checks see it up to its
  // first NUL; the same call does the same here.
  const char* body = diagnosis.body.c_str();
  diagnosis.bodyLengthParsed = ::strnlen(body, diagnosis.body.size());
  diagnosis.envelope = InspectConfigEnvelope(body);
  DescribeErrno(JsonDocument(std::string(body)), diagnosis);
  if (diagnosis.envelope.check == EnvelopeCheck::kAccepted) DescribeConfiguration(diagnosis);
}

Diagnosis Diagnose() {
  Diagnosis diagnosis;
  diagnosis.programPath = ModulePath(nullptr);
  diagnosis.decoderPath = DecoderPath(diagnosis.programPath);
  diagnosis.decoderPresent = ::PathFileExistsW(diagnosis.decoderPath.c_str()) != FALSE;

  LibrarySearchReport search;
  diagnosis.libraryUsable = NetLibrary::Instance().Init(search);
  DescribeHeldLibrary(diagnosis);
  DescribeSearch(search, diagnosis);

  diagnosis.url = kConfigUrl;
  diagnosis.fetched = HttpGet(NetLibrary::Instance().Factory(), kConfigUrl, diagnosis.body,
                              kHttpGetTimeoutMs, &diagnosis.request);
  if (!diagnosis.fetched) return diagnosis;

  InspectFetchedBody(diagnosis);
  diagnosis.exitStatus = 0;
  return diagnosis;
}

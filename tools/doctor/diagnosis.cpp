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

void InspectBody(Diagnosis& diagnosis) {
  // The run hands the body on as a C string, so the checks see it up to its
  // first NUL; the same call does the same here.
  const char* body = diagnosis.body.c_str();
  diagnosis.bodyLengthParsed = ::strnlen(body, diagnosis.body.size());
  diagnosis.envelope = InspectConfigEnvelope(body);
  if (diagnosis.envelope.check != EnvelopeCheck::kAccepted) return;
  const std::string& text = diagnosis.envelope.text;
  diagnosis.configurationLengthRead = ::strnlen(text.c_str(), text.size());
  const JsonDocument configuration(text);
  diagnosis.appid = configuration.GetStringAt("appid", "");
}

}  // namespace

Diagnosis Diagnose() {
  Diagnosis diagnosis;
  diagnosis.programPath = ModulePath(nullptr);
  diagnosis.decoderPath = DecoderPath(diagnosis.programPath);
  diagnosis.decoderPresent = ::PathFileExistsW(diagnosis.decoderPath.c_str()) != FALSE;

  diagnosis.libraryUsable = NetLibrary::Instance().Init(&diagnosis.search);
  DescribeHeldLibrary(diagnosis);

  diagnosis.url = kConfigUrl;
  diagnosis.fetched = HttpGet(NetLibrary::Instance().Factory(), kConfigUrl, diagnosis.body,
                              kHttpGetTimeoutMs, &diagnosis.request);
  if (!diagnosis.fetched) return diagnosis;

  InspectBody(diagnosis);
  diagnosis.exitStatus = 0;
  return diagnosis;
}

#include "text_report.h"

#include <sstream>

#include "names.h"

namespace {

const char* YesNo(bool value) { return value ? "yes" : "no"; }

// Every text from outside (names, paths, the service's values, error texts)
// goes through Escaped, so none can break a line or fake one.
std::string Quoted(const std::wstring& text) { return Escaped(text, true); }

// "errno 0", or the value as sent when it is no status.
std::string DescribeErrno(const Diagnosis& diagnosis) {
  switch (diagnosis.errnoSent) {
    case ErrnoSent::kAbsent:
      return "absent (read as 0)";
    case ErrnoSent::kStatus:
      return std::to_string(diagnosis.envelope.errnoValue);
    case ErrnoSent::kNotAStatus:
      break;
  }
  Json::StreamWriterBuilder compact;
  compact["indentation"] = "";
  return Escaped(Json::writeString(compact, diagnosis.errnoValue)) +
         " (not a 32-bit integer, so not an error; read as 0)";
}

// "appid_string" -> "appid string"
std::string Spelled(const char* identifier) {
  std::string text(identifier);
  for (char& c : text) {
    if (c == '_') c = ' ';
  }
  return text;
}

// "signature 0x... (NAME) accepted; signer "..." listed -> trusted"
std::string DescribeVerdict(const PublisherVerdict& verdict) {
  std::ostringstream line;
  switch (verdict.step) {
    case PublisherStep::kNoFile:
      return "gone before the check -> not trusted";
    case PublisherStep::kLegacyWindows:
      return "accepted without verification (Windows before Vista) -> trusted";
    case PublisherStep::kFault:
      line << "fault inside the verification";
      if (verdict.verified) line << " (status " << HexStatus(verdict.status) << ")";
      line << " -> not trusted";
      return line.str();
    default:
      break;
  }
  line << "signature " << HexStatus(verdict.status) << " (" << TrustStatusName(verdict.status)
       << ") ";
  if (verdict.step == PublisherStep::kStatusRefused) {
    line << "refused -> not trusted";
    return line.str();
  }
  line << "accepted; ";
  if (verdict.step == PublisherStep::kNoSignerCertificate) {
    line << "no signer certificate -> not trusted";
    return line.str();
  }
  if (verdict.signerName.empty()) {
    line << "signer name empty or too long -> not trusted";
    return line.str();
  }
  line << "signer " << Quoted(verdict.signerName)
       << (verdict.Listed() ? " listed -> trusted" : " not listed -> not trusted");
  return line.str();
}

std::string DescribeLoad(const CandidateReport& candidate) {
  switch (ClassifyLoad(candidate)) {
    case CandidateLoad::kNotTried:
      return std::string();
    case CandidateLoad::kLoaded:
      return "loaded";
    case CandidateLoad::kNotUsable:
      return "loaded, but not usable (see below); stays loaded";
    case CandidateLoad::kAlreadyHeld:
      return "not loaded: the library loaded before it stays";
    case CandidateLoad::kLoadFailed: {
      const std::string name = ErrorName(static_cast<long>(candidate.loadError));
      return "LoadLibraryW failed (error " + std::to_string(candidate.loadError) +
             (name.empty() ? "" : ", " + name) + ")";
    }
  }
  return std::string();
}

void WriteCandidate(std::ostream& out, const CandidateReport& candidate, FileKind kind) {
  out << "candidate " << Escaped(candidate.name) << ": ";
  if (candidate.path.empty()) {
    out << "path too long -> skipped\n";
    return;
  }
  out << Escaped(candidate.path);
  if (!candidate.exists) {
    out << (kind == FileKind::kOther ? " present, but not a regular file (a FIFO, a device or the "
                                       "like); kvfetch takes it as missing\n"
                                     : " missing\n");
    return;
  }
  out << " present; ";
  if (kind == FileKind::kFolder) out << "not a regular file (a folder); ";
  out << DescribeVerdict(candidate.verdict);
  if (candidate.loadTried) out << "; " << DescribeLoad(candidate);
  out << "\n";
}

void WriteLibrary(std::ostream& out, const Diagnosis& diagnosis) {
  out << "library directory: ";
  if (!diagnosis.search.directoryFound) {
    out << "none (the program's path does not fit in MAX_PATH; kvfetch finds no library)\n";
  } else {
    out << Escaped(diagnosis.search.directory) << "\n";
  }
  const std::vector<CandidateReport>& candidates = diagnosis.search.candidates;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    WriteCandidate(
        out, candidates[i],
        i < diagnosis.candidateKinds.size() ? diagnosis.candidateKinds[i] : FileKind::kRegular);
  }

  if (!diagnosis.libraryHeld) {
    out << "loaded: none (no trusted network library two levels above the program)\n";
    return;
  }
  const NetExports& exports = diagnosis.exports;
  out << "loaded: " << Escaped(diagnosis.loadedPath) << "; exports HttpInit "
      << YesNo(exports.httpInit) << ", HttpUninit " << YesNo(exports.httpUninit)
      << ", zlib_uncompress " << YesNo(exports.zlibUncompress) << ", zlib_compress "
      << YesNo(exports.zlibCompress) << ", zlib_compressBound " << YesNo(exports.zlibCompressBound)
      << "; factory " << YesNo(diagnosis.hasFactory) << "; usable "
      << YesNo(diagnosis.libraryUsable) << "\n";
}

void WriteRequest(std::ostream& out, const Diagnosis& diagnosis) {
  out << "request: GET " << Escaped(diagnosis.url) << " -> ";
  const HttpGetReport& request = diagnosis.request;
  switch (request.outcome) {
    case HttpGetOutcome::kSucceeded:
      out << "success, " << diagnosis.body.size() << " bytes\n";
      return;
    case HttpGetOutcome::kFailed: {
      out << "failure " << Escaped(request.errorText);
      const std::string explained = ExplainRequestError(request.errorText);
      if (!explained.empty()) out << " (" << explained << ")";
      if (!request.failureBody.empty()) {
        out << "; Location " << Escaped(request.failureBody, true);
      }
      out << "\n";
      return;
    }
    case HttpGetOutcome::kNoAnswer:
      out << "no answer within " << kHttpGetTimeoutMs << " ms\n";
      return;
    case HttpGetOutcome::kNoFactory:
      out << "not made: no request factory (no usable network library)\n";
      return;
    default:
      out << "not made: " << Spelled(RequestOutcomeName(request.outcome)) << "\n";
      return;
  }
}

void WriteEnvelope(std::ostream& out, const Diagnosis& diagnosis) {
  if (!diagnosis.fetched) {
    out << "envelope: not checked (the fetch failed)\n";
    out << "configuration text: none\n";
    return;
  }
  const EnvelopeVerdict& verdict = diagnosis.envelope;
  out << "envelope: ";
  if (diagnosis.bodyLengthParsed != diagnosis.body.size()) {
    out << "read up to a NUL byte, " << diagnosis.bodyLengthParsed << " bytes; ";
  }
  // The checks run in the enum's order; the first one that refuses ends them.
  for (int i = static_cast<int>(EnvelopeCheck::kNotJsonObject);
       i <= static_cast<int>(EnvelopeCheck::kAppidNotString); ++i) {
    const EnvelopeCheck check = static_cast<EnvelopeCheck>(i);
    out << Spelled(EnvelopeCheckName(check));
    if (check == EnvelopeCheck::kErrnoNonZero) out << " " << DescribeErrno(diagnosis);
    if (check == verdict.check) {
      out << " refused (" << DescribeEnvelopeCheck(check) << ") -> refused\n";
      out << "configuration text: empty (kvfetch passes an empty text to QXSDK2.dll)\n";
      return;
    }
    out << " ok" << (check == EnvelopeCheck::kAppidNotString ? " -> accepted\n" : "; ");
  }
  out << "configuration text: " << verdict.text.size() << " bytes";
  if (diagnosis.configurationLengthRead != verdict.text.size()) {
    out << " (QXSDK2.dll reads " << diagnosis.configurationLengthRead << ", up to a NUL byte)";
  }
  out << ", appid " << Escaped(diagnosis.appid, true);
  if (!diagnosis.configurationComplete) {
    out << "; not complete JSON: kvfetch accepts it anyway, since its checks read an object "
           "that breaks off";
  }
  if (diagnosis.compactLength >= kDecoderBufferBytes - 1) {
    out << "; as compact JSON it is " << diagnosis.compactLength
        << " bytes, which fills the decoder's " << kDecoderBufferBytes
        << "-byte buffer: the rendering kvfetch prints (at most " << kDecoderBufferBytes - 1
        << " bytes) may be cut";
  }
  out << "\n";
}

}  // namespace

std::string TextReport(const Diagnosis& diagnosis) {
  std::ostringstream out;
  out << "program: " << Escaped(diagnosis.programPath) << "\n";
  WriteLibrary(out, diagnosis);
  WriteRequest(out, diagnosis);
  WriteEnvelope(out, diagnosis);

  out << "decoding: not called by the doctor; kvfetch hands the configuration text to "
         "QXSDK2.dll (ordinal 6) and prints what it returns; "
      << Escaped(diagnosis.decoderPath)
      << (diagnosis.decoderPresent ? " present\n"
                                   : " missing (kvfetch cannot start unless Windows finds it "
                                     "elsewhere)\n");
  out << "exit status: " << diagnosis.exitStatus;
  if (diagnosis.exitStatus == 0) {
    out << " (kvfetch would exit 0)\n";
  } else {
    out << " (kvfetch would exit -1, 0xFFFFFFFF: the fetch failed)\n";
  }
  return out.str();
}

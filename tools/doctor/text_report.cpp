#include "text_report.h"

#include <sstream>

#include "error_texts.h"
#include "escape.h"
#include "names.h"
#include "support/envelope_checks.h"

namespace {

const char* YesNo(bool value) { return value ? "yes" : "no"; }

// Every text from outside (names, paths, the service's values, error texts)
// goes through Escaped, so none can break a line or fake one.
std::string Quoted(const std::wstring& text) { return Escaped(text, true); }

// "errno 0", or the value as sent when it is no status.
std::string DescribeErrno(const Diagnosis& diagnosis) {
  switch (diagnosis.errnoSent) {
    case ErrnoSent::kAbsent:
      return NamesOf(ErrnoSent::kAbsent).text;
    case ErrnoSent::kStatus:
      return std::to_string(diagnosis.envelope.errnoValue);
    case ErrnoSent::kNotAStatus:
      break;
  }
  Json::StreamWriterBuilder compact;
  compact["indentation"] = "";
  return Escaped(Json::writeString(compact, diagnosis.errnoValue)) + " (" +
         NamesOf(ErrnoSent::kNotAStatus).text + ")";
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
  const char* words = NamesOf(verdict.step).text;
  switch (verdict.step) {
    case PublisherStep::kNoFile:
      return std::string(words) + " -> not trusted";
    case PublisherStep::kLegacyWindows:
      return std::string(words) + " -> trusted";
    case PublisherStep::kFault:
      line << words;
      if (verdict.verified) line << " (status " << HexStatus(verdict.status) << ")";
      line << " -> not trusted";
      return line.str();
    default:
      break;
  }
  line << "signature " << HexStatus(verdict.status) << " (" << TrustStatusName(verdict.status)
       << ") ";
  if (verdict.step == PublisherStep::kStatusRefused) {
    line << words << " -> not trusted";
    return line.str();
  }
  line << "accepted; ";
  if (verdict.step == PublisherStep::kNoSignerCertificate) {
    line << words << " -> not trusted";
    return line.str();
  }
  if (verdict.signerName.empty()) {
    line << "signer name empty or too long -> not trusted";
    return line.str();
  }
  line << "signer " << Quoted(verdict.signerName) << " " << words
       << (verdict.Listed() ? " -> trusted" : " -> not trusted");
  return line.str();
}

std::string DescribeLoad(const CandidateReport& candidate) {
  const CandidateLoad load = ClassifyLoad(candidate);
  std::string text = NamesOf(load).text;
  if (load == CandidateLoad::kLoadFailed) {
    const std::string name = ErrorName(static_cast<long>(candidate.loadError));
    text +=
        " (error " + std::to_string(candidate.loadError) + (name.empty() ? "" : ", " + name) + ")";
  }
  return text;
}

void WriteCandidate(std::ostream& out, const CandidateFinding& finding) {
  const CandidateReport& candidate = finding.loader;
  const FileKind kind = finding.kind;
  out << "candidate " << Escaped(candidate.name) << ": ";
  if (candidate.path.empty()) {
    out << "path too long -> skipped\n";
    return;
  }
  out << Escaped(candidate.path);
  if (!candidate.exists) {
    if (kind == FileKind::kOther) {
      out << " present, but " << NamesOf(kind).text << "; kvfetch takes it as missing\n";
    } else {
      out << " " << NamesOf(FileKind::kMissing).text << "\n";
    }
    return;
  }
  out << " present; ";
  if (kind == FileKind::kFolder) out << NamesOf(kind).text << "; ";
  out << DescribeVerdict(candidate.verdict);
  if (candidate.loadTried) out << "; " << DescribeLoad(candidate);
  out << "\n";
}

void WriteLibrary(std::ostream& out, const Diagnosis& diagnosis) {
  out << "library directory: ";
  if (!diagnosis.directoryFound) {
    out << "none (the program's path does not fit in MAX_PATH; kvfetch finds no library)\n";
  } else {
    out << Escaped(diagnosis.directory) << "\n";
  }
  for (const CandidateFinding& finding : diagnosis.candidates) WriteCandidate(out, finding);

  if (!diagnosis.libraryHeld) {
    out << "loaded: none (no trusted network library two levels above the program)\n";
    return;
  }
  out << "loaded: " << Escaped(diagnosis.loadedPath) << "; exports ";
  const char* separator = "";
  for (const NetExportFound& entry : ListNetExports(diagnosis.exports)) {
    out << separator << entry.name << " " << YesNo(entry.found);
    separator = ", ";
  }
  out << "; factory " << YesNo(diagnosis.hasFactory) << "; usable "
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
      out << "failure " << Escaped(request.failure.Text());
      const std::string explained = ExplainRequestFailure(request.failure);
      if (!explained.empty()) out << " (" << explained << ")";
      out << "\n";
      return;
    }
    case HttpGetOutcome::kNoAnswer:
      out << "no answer within " << kHttpGetTimeoutMs << " ms\n";
      return;
    default:
      out << "not made: " << NamesOf(request.outcome).text << "\n";
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
  // The checks in the order they run; the first one that refuses ends them.
  for (const EnvelopeCheck check : kEnvelopeCheckOrder) {
    out << Spelled(EnvelopeCheckId(check));
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
  if (diagnosis.compactLength >= kDecodeConfigOutputSize - 1) {
    out << "; as compact JSON it is " << diagnosis.compactLength
        << " bytes, which fills the decoder's " << kDecodeConfigOutputSize
        << "-byte buffer: the rendering kvfetch prints (at most " << kDecodeConfigOutputSize - 1
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

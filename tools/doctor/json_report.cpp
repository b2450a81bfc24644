#include "json_report.h"

#include <json/json.h>

#include <memory>
#include <sstream>

#include "error_texts.h"
#include "names.h"
#include "support/envelope_checks.h"
#include "support/utf8.h"

namespace {

Json::Value Verdict(const PublisherVerdict& verdict) {
  Json::Value out(Json::objectValue);
  out["step"] = NamesOf(verdict.step).id;
  out["verified"] = verdict.verified;
  if (verdict.verified) {
    out["status"] = HexStatus(verdict.status);
    out["statusName"] = TrustStatusName(verdict.status);
  }
  out["signer"] = Utf8(verdict.signerName);
  out["listed"] = verdict.Listed();
  out["trusted"] = verdict.Accepted();
  return out;
}

Json::Value Candidate(const CandidateFinding& finding) {
  const CandidateReport& candidate = finding.loader;
  Json::Value out(Json::objectValue);
  out["name"] = Utf8(candidate.name);
  out["path"] = Utf8(candidate.path);
  out["present"] = candidate.exists;
  out["fileKind"] = NamesOf(finding.kind).id;
  out["publisher"] = candidate.checked ? Verdict(candidate.verdict) : Json::Value();
  out["load"] = NamesOf(ClassifyLoad(candidate)).id;
  if (ClassifyLoad(candidate) == CandidateLoad::kLoadFailed) {
    out["loadError"] = static_cast<Json::UInt>(candidate.loadError);
  }
  return out;
}

Json::Value Library(const Diagnosis& diagnosis) {
  if (!diagnosis.libraryHeld) return Json::Value();
  Json::Value out(Json::objectValue);
  out["path"] = Utf8(diagnosis.loadedPath);
  Json::Value& exports = out["exports"] = Json::Value(Json::objectValue);
  for (const NetExportFound& entry : ListNetExports(diagnosis.exports)) {
    exports[entry.name] = entry.found;
  }
  out["factory"] = diagnosis.hasFactory;
  out["usable"] = diagnosis.libraryUsable;
  return out;
}

Json::Value Request(const Diagnosis& diagnosis) {
  Json::Value out(Json::objectValue);
  out["url"] = Utf8(diagnosis.url);
  out["outcome"] = NamesOf(diagnosis.request.outcome).id;
  out["success"] = diagnosis.fetched;
  if (diagnosis.fetched) out["bodyLength"] = static_cast<Json::UInt64>(diagnosis.body.size());
  out["error"] = diagnosis.request.failure.Text();
  const std::string explained = ExplainRequestFailure(diagnosis.request.failure);
  if (!explained.empty()) out["errorDescription"] = explained;
  if (diagnosis.request.outcome == HttpGetOutcome::kNoAnswer) {
    out["waitedMs"] = static_cast<Json::UInt>(kHttpGetTimeoutMs);
  }
  return out;
}

Json::Value Envelope(const Diagnosis& diagnosis) {
  if (!diagnosis.fetched) return Json::Value();
  const EnvelopeVerdict& verdict = diagnosis.envelope;
  Json::Value out(Json::objectValue);
  out["bodyLengthRead"] = static_cast<Json::UInt64>(diagnosis.bodyLengthParsed);
  Json::Value& checks = out["checks"] = Json::Value(Json::arrayValue);
  for (const EnvelopeCheck check : kEnvelopeCheckOrder) {
    Json::Value entry(Json::objectValue);
    entry["check"] = EnvelopeCheckId(check);
    entry["result"] = check == verdict.check ? "refused" : "ok";
    checks.append(entry);
    if (check == verdict.check) break;
  }
  out["accepted"] = verdict.check == EnvelopeCheck::kAccepted;
  out["errno"] = verdict.errnoValue;
  out["errnoSent"] = diagnosis.errnoValue;
  out["errnoKind"] = NamesOf(diagnosis.errnoSent).id;
  if (verdict.check != EnvelopeCheck::kAccepted) {
    out["refusedBy"] = EnvelopeCheckId(verdict.check);
    out["reason"] = DescribeEnvelopeCheck(verdict.check);
  }
  return out;
}

Json::Value Configuration(const Diagnosis& diagnosis) {
  if (!diagnosis.fetched || diagnosis.envelope.check != EnvelopeCheck::kAccepted) {
    return Json::Value();
  }
  Json::Value out(Json::objectValue);
  out["length"] = static_cast<Json::UInt64>(diagnosis.envelope.text.size());
  out["lengthRead"] = static_cast<Json::UInt64>(diagnosis.configurationLengthRead);
  out["appid"] = diagnosis.appid;
  out["complete"] = diagnosis.configurationComplete;
  out["compactLength"] = static_cast<Json::UInt64>(diagnosis.compactLength);
  out["mayBeCut"] = diagnosis.compactLength >= kDecodeConfigOutputSize - 1;
  return out;
}

}  // namespace

std::string JsonReport(const Diagnosis& diagnosis) {
  Json::Value root(Json::objectValue);
  root["program"] = Utf8(diagnosis.programPath);
  root["libraryDirectory"] =
      diagnosis.directoryFound ? Json::Value(Utf8(diagnosis.directory)) : Json::Value();
  Json::Value& candidates = root["candidates"] = Json::Value(Json::arrayValue);
  for (const CandidateFinding& finding : diagnosis.candidates) {
    candidates.append(Candidate(finding));
  }
  root["library"] = Library(diagnosis);
  root["request"] = Request(diagnosis);
  root["envelope"] = Envelope(diagnosis);
  root["configuration"] = Configuration(diagnosis);
  Json::Value& decoder = root["decoder"] = Json::Value(Json::objectValue);
  decoder["path"] = Utf8(diagnosis.decoderPath);
  decoder["present"] = diagnosis.decoderPresent;
  decoder["called"] = false;
  root["exitStatus"] = diagnosis.exitStatus;

  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, root) + "\n";
}

#include "names.h"

namespace {

constexpr NameRow<CandidateLoad> kCandidateLoads[] = {
    {CandidateLoad::kNotTried, "not_tried", ""},
    {CandidateLoad::kLoaded, "loaded", "loaded"},
    {CandidateLoad::kNotUsable, "not_usable", "loaded, but not usable (see below); stays loaded"},
    {CandidateLoad::kAlreadyHeld, "already_held", "not loaded: the library loaded before it stays"},
    {CandidateLoad::kLoadFailed, "load_failed", "LoadLibraryW failed"},
};

constexpr NameRow<PublisherStep> kPublisherSteps[] = {
    {PublisherStep::kNoFile, "no_file", "gone before the check"},
    {PublisherStep::kLegacyWindows, "legacy_windows",
     "accepted without verification (Windows before Vista)"},
    {PublisherStep::kStatusRefused, "status_refused", "refused"},
    {PublisherStep::kNoSignerCertificate, "no_signer_certificate", "no signer certificate"},
    {PublisherStep::kNameNotListed, "not_listed", "not listed"},
    {PublisherStep::kFault, "fault", "fault inside the verification"},
    {PublisherStep::kAccepted, "trusted", "listed"},
};

constexpr NameRow<HttpGetOutcome> kRequestOutcomes[] = {
    {HttpGetOutcome::kSucceeded, "success", "success"},
    {HttpGetOutcome::kNoFactory, "no_factory", "no request factory (no usable network library)"},
    {HttpGetOutcome::kNoTask, "no_task", "no task"},
    {HttpGetOutcome::kNotStarted, "not_started", "not started"},
    {HttpGetOutcome::kNoEvent, "no_event", "no event"},
    {HttpGetOutcome::kNoAnswer, "timeout", "no answer"},
    {HttpGetOutcome::kFailed, "failure", "failure"},
};

constexpr NameRow<FileKind> kFileKinds[] = {
    {FileKind::kMissing, "missing", "missing"},
    {FileKind::kRegular, "regular", "a regular file"},
    {FileKind::kFolder, "folder", "not a regular file (a folder)"},
    {FileKind::kOther, "other", "not a regular file (a FIFO, a device or the like)"},
};

constexpr NameRow<ErrnoSent> kErrnoSents[] = {
    {ErrnoSent::kAbsent, "absent", "absent (read as 0)"},
    {ErrnoSent::kStatus, "status", "a 32-bit status"},
    {ErrnoSent::kNotAStatus, "not_a_status", "not a 32-bit integer, so not an error; read as 0"},
};

}  // namespace

const NameRow<CandidateLoad>& NamesOf(CandidateLoad load) { return RowOf(kCandidateLoads, load); }
const NameRow<PublisherStep>& NamesOf(PublisherStep step) { return RowOf(kPublisherSteps, step); }
const NameRow<HttpGetOutcome>& NamesOf(HttpGetOutcome outcome) {
  return RowOf(kRequestOutcomes, outcome);
}
const NameRow<FileKind>& NamesOf(FileKind kind) { return RowOf(kFileKinds, kind); }
const NameRow<ErrnoSent>& NamesOf(ErrnoSent sent) { return RowOf(kErrnoSents, sent); }

#pragma once

#include "diagnosis.h"
#include "support/name_table.h"

// Each enum's identifier (for the JSON report) and words (for the text
// report), one table per enum, so the two reports never differ. The text
// report spells an identifier ("status_refused") with spaces.
const NameRow<CandidateLoad>& NamesOf(CandidateLoad load);
const NameRow<PublisherStep>& NamesOf(PublisherStep step);
const NameRow<HttpGetOutcome>& NamesOf(HttpGetOutcome outcome);
const NameRow<FileKind>& NamesOf(FileKind kind);
const NameRow<ErrnoSent>& NamesOf(ErrnoSent sent);

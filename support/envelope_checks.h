#pragma once

#include "payload/config_envelope.h"

// The envelope checks in words, for the tools that explain a refusal.

// The checks that can refuse, in the order they run; tools list them in
// this order, never in the enum's.
inline constexpr EnvelopeCheck kEnvelopeCheckOrder[] = {
    EnvelopeCheck::kNotJsonObject,      EnvelopeCheck::kErrnoNonZero,
    EnvelopeCheck::kDataNotString,      EnvelopeCheck::kDataEmpty,
    EnvelopeCheck::kDataUndecipherable, EnvelopeCheck::kPlainNotJsonObject,
    EnvelopeCheck::kAppidNotString,
};

// What `check` tests, as an identifier such as "errno" or "appid_string".
const char* EnvelopeCheckId(EnvelopeCheck check);

// A short English description of `check`, such as "data is not valid Base64".
// For kErrnoNonZero, see the verdict's errnoValue for the status itself.
const char* DescribeEnvelopeCheck(EnvelopeCheck check);

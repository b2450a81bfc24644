#include "support/envelope_checks.h"

#include "support/name_table.h"

namespace {

constexpr NameRow<EnvelopeCheck> kEnvelopeCheckRows[] = {
    {EnvelopeCheck::kAccepted, "accepted", "accepted"},
    {EnvelopeCheck::kNotJsonObject, "json_object", "body is not a JSON object"},
    {EnvelopeCheck::kErrnoNonZero, "errno", "errno is not 0"},
    {EnvelopeCheck::kDataNotString, "data_string", "data is missing or not a string"},
    {EnvelopeCheck::kDataEmpty, "data_not_empty", "data is empty"},
    {EnvelopeCheck::kDataUndecipherable, "data_deciphered", "data is not valid Base64"},
    {EnvelopeCheck::kPlainNotJsonObject, "configuration_json_object",
     "deciphered text is not a JSON object"},
    {EnvelopeCheck::kAppidNotString, "appid_string", "appid is missing or not a string"},
};

}  // namespace

const char* EnvelopeCheckId(EnvelopeCheck check) { return RowOf(kEnvelopeCheckRows, check).id; }

const char* DescribeEnvelopeCheck(EnvelopeCheck check) {
  return RowOf(kEnvelopeCheckRows, check).text;
}

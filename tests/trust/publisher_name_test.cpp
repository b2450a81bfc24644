#include <gtest/gtest.h>

#include <set>
#include <string>

#include "trust/publisher_check.h"
#include "trust/trusted_publishers.h"

namespace {

TEST(PublisherNameTest, ListHoldsDistinctNamesOfSaneLength) {
  const TrustedPublisherList list = TrustedPublishers();
  ASSERT_EQ(list.count, 24u);
  std::set<std::wstring> seen;
  for (std::size_t i = 0; i < list.count; ++i) {
    SCOPED_TRACE(i);
    const std::wstring name = list.names[i];
    EXPECT_GE(name.size(), 10u);
    EXPECT_LE(name.size(), 44u);
    EXPECT_TRUE(seen.insert(name).second) << "duplicate entry";
    EXPECT_TRUE(MatchPublisherName(name.c_str()));
  }
}

TEST(PublisherNameTest, MatchesExactlyAndNothingElse) {
  const std::wstring first = TrustedPublishers().names[0];  // "Halvorsen Lattice Software AS"
  const std::wstring last = TrustedPublishers().names[23];
  struct Case {
    std::wstring name;
    bool expected;
  };
  const Case cases[] = {
      // Listed names, first and last: the whole table is searched.
      {first, true},
      {last, true},
      {L"M\u00fcllerhof Signaltechnik GmbH", true},
      // Case and spacing are part of the name.
      {L"HALVORSEN LATTICE SOFTWARE AS", false},
      {L"halvorsen lattice software as", false},
      {L" " + first, false},
      {first + L" ", false},
      {L"Halvorsen  Lattice Software AS", false},
      // No normalisation: "u" + combining diaeresis is another publisher.
      {L"Mu\u0308llerhof Signaltechnik GmbH", false},
      // Prefixes and extensions of a listed name.
      {first.substr(0, first.size() - 1), false},
      {L"Halvorsen", false},
      {first + L" (Test)", false},
      // Nothing at all.
      {L"", false},
      {L"Greywater Signal Systems Ltd.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    EXPECT_EQ(MatchPublisherName(c.name.c_str()), c.expected);
  }
  EXPECT_FALSE(MatchPublisherName(nullptr));
}

}  // namespace

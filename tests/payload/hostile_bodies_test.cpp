// The envelope rules against every hostile body, in-process: natively, under
// the sanitizers and under Wine. A few of the bodies also go through the
// whole program (hostile_envelope_stress_tests).
#include <gtest/gtest.h>

#include "hostile_bodies.h"
#include "payload/config_envelope.h"

namespace {

TEST(HostileBodiesTest, EveryBodyMeetsTheEnvelopeRules) {
  for (const HostileBody& c : HostileBodies()) {
    SCOPED_TRACE(c.name);
    // The program hands the rules the body up to its first NUL.
    const std::string config = ParseConfigEnvelope(c.body.c_str());
    switch (c.verdict) {
      case Verdict::kAccepted:
        EXPECT_EQ(config.c_str(), c.config);
        break;
      case Verdict::kRefused:
        EXPECT_EQ(config, "");
        break;
      case Verdict::kEither:
        EXPECT_TRUE(config.empty() || config.c_str() == c.config) << config;
        break;
    }
  }
}

}  // namespace

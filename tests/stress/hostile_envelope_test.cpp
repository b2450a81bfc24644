// Hostile response bodies through the whole program: kvfetch.exe with the
// real stand-in network library, redirected to a loopback server, and the
// echo decoder, which shows exactly which text it was handed. Whatever the
// body, the run ends normally with exit 0, and the decoder is handed what the
// envelope rules make of the body in-process (a refused envelope: the empty
// text). The rules themselves are proven on every body in-process
// (HostileBodiesTest); the everyday run sends the bodies whose handling
// lives beyond them, and KVFETCH_STRESS_SCALE=full sends every one.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/deployment.h"
#include "common/test_support.h"
#include "payload/config_envelope.h"
#include "payload/hostile_bodies.h"
#include "stress_scale.h"

namespace {

// The echo decoder's answer, cut to its 1024-byte buffer as it cuts it.
std::string Echoed(const std::string& text) { return ("[" + text + "]").substr(0, 1023); }

// What only the whole program shows: the body cut at its first NUL, sizes
// through the network library, nesting on the program's own stack, the
// decoder's buffer.
bool EverydayBody(const std::string& name) {
  static const char* const kNames[] = {"sealed",
                                       "empty body",
                                       "NUL after the envelope",
                                       "NUL first",
                                       "1 MiB of garbage",
                                       "1 MiB of whitespace, then the envelope",
                                       "arrays nested 100000 deep",
                                       "objects nested 100000 deep",
                                       "sealed config nested 100000 deep",
                                       "sealed config of 4000 bytes"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

std::vector<HostileBody> BodiesToSend() {
  std::vector<HostileBody> bodies = HostileBodies();
  if (!kvtest::FullStressScale()) {
    bodies.erase(std::remove_if(bodies.begin(), bodies.end(),
                                [](const HostileBody& b) { return !EverydayBody(b.name); }),
                 bodies.end());
  }
  return bodies;
}

TEST(HostileEnvelopeStressTest, EveryBodyEndsNormallyWithTheDecoderCalled) {
  const std::vector<HostileBody> bodies = BodiesToSend();
  ASSERT_GE(bodies.size(), 10u);
  std::vector<kvtest::ProcessResult> runs(bodies.size());
  // Every tree is laid out before any process starts: a child inherits the
  // runtime's file handles, and one still open for writing on a program
  // being copied would keep that program from starting.
  std::vector<std::unique_ptr<kvtest::CDeployment>> deployments;
  for (size_t i = 0; i < bodies.size(); ++i) {
    deployments.push_back(std::make_unique<kvtest::CDeployment>(KV_DECODER_ECHO));
    deployments.back()->Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  }
  // Independent processes: a few at a time keeps the run short.
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (size_t i = next++; i < bodies.size(); i = next++) {
        kvtest::CLoopbackHttpServer server({200, bodies[i].body});
        runs[i] = deployments[i]->Run(server.Port());
      }
    });
  }
  for (std::thread& worker : workers) worker.join();

  int accepted = 0;
  for (size_t i = 0; i < bodies.size(); ++i) {
    SCOPED_TRACE(bodies[i].name);
    const std::string config = ParseConfigEnvelope(bodies[i].body.c_str());
    EXPECT_FALSE(runs[i].timedOut);
    EXPECT_EQ(runs[i].exitCode, 0u);
    // The decoder reads the text up to its first NUL.
    EXPECT_EQ(runs[i].out, Echoed(config.c_str()));
    if (!config.empty()) ++accepted;
  }
  std::printf("[ hostile  ] %zu bodies: %d accepted, %zu refused\n", bodies.size(), accepted,
              bodies.size() - static_cast<size_t>(accepted));
}

}  // namespace

// Our payload routines beside OpenSSL's (and jsoncpp plus OpenSSL for the
// whole envelope) on the same inputs, in one run. Ends with one line per
// target: "target NAME: RATIO (goal GOAL) met|short".

#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kvseal/seal_core.h"
#include "openssl_reference.h"
#include "payload/base64.h"
#include "payload/blowfish.h"
#include "payload/config_envelope.h"
#include "ratio_reporter.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

#if defined(__x86_64__)
constexpr const char* kArch = "x86_64";
#elif defined(__i386__)
constexpr const char* kArch = "i686";
#else
constexpr const char* kArch = "other";
#endif

constexpr std::int64_t kSizes[] = {1 << 10, 64 << 10, 1 << 20};

std::string RandomBytes(std::size_t size) {
  // Fixed seed: every run and both sides see the same bytes.
  std::mt19937 engine(20240611u);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(engine() & 0xFF);
  return bytes;
}

// A configuration of about `size` bytes, as the service would send it.
std::string ConfigOfSize(std::size_t size) {
  std::string config = R"({"appid":"bench","filler":")";
  const std::size_t tail = 2;
  std::mt19937 engine(7u);
  while (config.size() + tail < size) config += static_cast<char>('a' + engine() % 26);
  return config + "\"}";
}

const unsigned char* KeyBytes() {
  return reinterpret_cast<const unsigned char*>(kConfigKey.data());
}

void Base64Ours(benchmark::State& state) {
  const std::string text = Base64Encode(RandomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<unsigned char> dest(Base64DecodeBufferSize(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        Base64DecodeRaw(dest.data(), text.data(), static_cast<std::int32_t>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void Base64OpenSsl(benchmark::State& state) {
  const std::string text = Base64Encode(RandomBytes(static_cast<std::size_t>(state.range(0))));
  std::vector<unsigned char> dest(Base64DecodeBufferSize(text.size()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ReferenceBase64Decode(dest.data(), text.data(), static_cast<int>(text.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void DecryptOurs(benchmark::State& state) {
  std::string data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  auto* bytes = reinterpret_cast<unsigned char*>(data.data());
  BlowfishCipher cipher;
  cipher.AllocateTables();
  if (!cipher.SetKey(KeyBytes(), static_cast<std::int32_t>(kConfigKey.size()))) {
    state.SkipWithError("SetKey failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(cipher.Decrypt(bytes, bytes, static_cast<std::uint32_t>(data.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void DecryptOpenSsl(benchmark::State& state) {
  std::string data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  auto* bytes = reinterpret_cast<unsigned char*>(data.data());
  BF_KEY key;
  BF_set_key(&key, static_cast<int>(kConfigKey.size()), KeyBytes());
  for (auto _ : state) {
    for (std::size_t i = 0; i < data.size(); i += 8) {
      BF_ecb_encrypt(bytes + i, bytes + i, &key, BF_DECRYPT);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void SetKeyOurs(benchmark::State& state) {
  BlowfishCipher cipher;
  cipher.AllocateTables();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        cipher.SetKey(KeyBytes(), static_cast<std::int32_t>(kConfigKey.size())));
    benchmark::ClobberMemory();
  }
}

void SetKeyOpenSsl(benchmark::State& state) {
  BF_KEY key;
  for (auto _ : state) {
    BF_set_key(&key, static_cast<int>(kConfigKey.size()), KeyBytes());
    benchmark::DoNotOptimize(key);
    benchmark::ClobberMemory();
  }
}

std::string EnvelopeFor(benchmark::State& state) {
  return SealConfigEnvelope(ConfigOfSize(static_cast<std::size_t>(state.range(0))));
}

void EnvelopeOurs(benchmark::State& state) {
  const std::string body = EnvelopeFor(state);
  if (ParseConfigEnvelope(body.c_str()).empty()) {
    state.SkipWithError("envelope refused");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(ParseConfigEnvelope(body.c_str()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

void EnvelopeOpenSsl(benchmark::State& state) {
  const std::string body = EnvelopeFor(state);
  if (ReferenceParseConfigEnvelope(body.c_str()) != ParseConfigEnvelope(body.c_str())) {
    state.SkipWithError("reference disagrees");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(ReferenceParseConfigEnvelope(body.c_str()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

BENCHMARK(Base64Ours)->Name("base64/ours")->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});
BENCHMARK(Base64OpenSsl)->Name("base64/openssl")->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});
BENCHMARK(DecryptOurs)->Name("decrypt/ours")->Arg(kSizes[0])->Arg(kSizes[1]);
BENCHMARK(DecryptOpenSsl)->Name("decrypt/openssl")->Arg(kSizes[0])->Arg(kSizes[1]);
BENCHMARK(SetKeyOurs)->Name("setkey/ours");
BENCHMARK(SetKeyOpenSsl)->Name("setkey/openssl");
BENCHMARK(EnvelopeOurs)->Name("envelope/ours")->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});
BENCHMARK(EnvelopeOpenSsl)
    ->Name("envelope/openssl")
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});

// Time-stamp counter ticks per nanosecond, measured against the steady
// clock; 0 where there is no counter to read.
double TicksPerNanosecond() {
#if defined(__x86_64__) || defined(__i386__)
  const auto start = std::chrono::steady_clock::now();
  const std::uint64_t ticks = __rdtsc();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200)) {
  }
  const std::uint64_t elapsedTicks = __rdtsc() - ticks;
  const auto elapsed =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
  return static_cast<double>(elapsedTicks) / elapsed.count();
#else
  return 0.0;
#endif
}

struct Comparison {
  const char* label;  // the row's and the target's name
  const char* ours;   // benchmark names
  const char* theirs;
  double bytes;      // bytes per iteration, 0 for none
  bool speedupGoal;  // goal is OpenSSL time / ours (else ours / theirs)
  double goal;       // 0: no target, just a row
};

void PrintComparisons(const CRatioReporter& reporter, double ticksPerNs) {
  const Comparison kRows[] = {
      {"base64_1KiB", "base64/ours/1024", "base64/openssl/1024", 1368, true, 2.0},
      {"base64_64KiB", "base64/ours/65536", "base64/openssl/65536", 87384, true, 2.0},
      {"base64_1MiB", "base64/ours/1048576", "base64/openssl/1048576", 1398104, true, 2.0},
      {"decrypt_1KiB", "decrypt/ours/1024", "decrypt/openssl/1024", 1024, true, 0},
      {"decrypt_64KiB", "decrypt/ours/65536", "decrypt/openssl/65536", 65536, true, 2.0},
      {"setkey", "setkey/ours", "setkey/openssl", 0, false, 1.0},
      {"envelope_1KiB", "envelope/ours/1024", "envelope/openssl/1024", 0, false, 0.9},
      {"envelope_64KiB", "envelope/ours/65536", "envelope/openssl/65536", 0, false, 0},
      {"envelope_1MiB", "envelope/ours/1048576", "envelope/openssl/1048576", 0, false, 0},
  };
  std::printf("\n%-16s %14s %14s %12s %12s %10s\n", "", "ours ns", "openssl ns", "ours c/B",
              "openssl c/B", "ours/ossl");
  std::string targets;
  for (const Comparison& row : kRows) {
    const double ours = reporter.SecondsOf(row.ours) * 1e9;
    const double theirs = reporter.SecondsOf(row.theirs) * 1e9;
    if (ours <= 0 || theirs <= 0) continue;
    const double ratio = ours / theirs;
    char oursCycles[32] = "-";
    char theirsCycles[32] = "-";
    if (row.bytes > 0 && ticksPerNs > 0) {
      std::snprintf(oursCycles, sizeof oursCycles, "%.2f", ours * ticksPerNs / row.bytes);
      std::snprintf(theirsCycles, sizeof theirsCycles, "%.2f", theirs * ticksPerNs / row.bytes);
    } else if (ticksPerNs > 0) {
      std::snprintf(oursCycles, sizeof oursCycles, "%.0fk", ours * ticksPerNs / 1000);
      std::snprintf(theirsCycles, sizeof theirsCycles, "%.0fk", theirs * ticksPerNs / 1000);
    }
    std::printf("%-16s %14.0f %14.0f %12s %12s %10.3f\n", row.label, ours, theirs, oursCycles,
                theirsCycles, ratio);
    if (row.goal <= 0) continue;
    char line[160];
    if (row.speedupGoal) {
      const double speedup = theirs / ours;
      std::snprintf(line, sizeof line, "target %s_%s: %.2f (goal >= %.2f) %s\n", row.label, kArch,
                    speedup, row.goal, speedup >= row.goal ? "met" : "short");
    } else {
      std::snprintf(line, sizeof line, "target %s_%s: %.3f (goal <= %.2f) %s\n", row.label, kArch,
                    ratio, row.goal, ratio <= row.goal ? "met" : "short");
    }
    targets += line;
  }
  std::printf(
      "\nc/B: time-stamp counter ticks per byte (%.3f ticks/ns); k: thousand ticks per call\n",
      ticksPerNs);
  std::fputs(targets.c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintComparisons(reporter, TicksPerNanosecond());
  benchmark::Shutdown();
  return 0;
}

#include "hostile_bodies.h"

#include <algorithm>
#include <cstdio>

#include "kvseal/seal_core.h"
#include "payload/config_envelope.h"

namespace {

std::string Sealed(const std::string& config = kHostileConfig,
                   SealPadding padding = SealPadding::kZero) {
  return SealConfigEnvelope(config, kConfigKey, padding);
}

// The Base64 text of Sealed(config)'s "data".
std::string SealedData(const std::string& config = kHostileConfig) {
  const std::string envelope = Sealed(config);
  const size_t start = envelope.find("\"data\":\"") + 8;
  return envelope.substr(start, envelope.find('"', start) - start);
}

// PKCS#5 fills up to whole 8-byte blocks with bytes that hold the count.
std::string Pkcs5Padded(const std::string& text) {
  const size_t count = 8 - text.size() % 8;
  return text + std::string(count, static_cast<char>(count));
}

std::string Envelope(const std::string& errnoJson, const std::string& dataJson) {
  return "{\"errno\":" + errnoJson + ",\"data\":" + dataJson + "}";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Nested(char open, char close, const std::string& inner, size_t depth) {
  return std::string(depth, open) + inner + std::string(depth, close);
}

std::string Replaced(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

}  // namespace

std::vector<HostileBody> HostileBodies() {
  const std::string data = SealedData();
  const std::string sealed = Sealed();
  const std::string mib(1 << 20, 'A');
  std::vector<HostileBody> cases = {
      // Well-formed, or harmlessly odd, and accepted.
      {"sealed", sealed, Verdict::kAccepted},
      {"spaces and line breaks", " \r\n\t{ \"errno\" : 0 ,\n \"data\" : \"" + data + "\" }\n",
       Verdict::kAccepted},
      {"members reordered", "{\"data\":\"" + data + "\",\"errno\":0}", Verdict::kAccepted},
      {"extra members", "{\"x\":[1,{\"y\":null}],\"errno\":0,\"data\":\"" + data + "\",\"z\":1}",
       Verdict::kAccepted},
      {"NUL after the envelope", sealed + std::string("\0garbage", 8), Verdict::kAccepted},
      {"empty appid", Sealed(R"({"appid":""})"), Verdict::kAccepted, R"({"appid":""})"},
      {"appid with escaped NUL", Sealed(R"({"appid":"a\u0000b"})"), Verdict::kAccepted,
       R"({"appid":"a\u0000b"})"},
      // Truncated, malformed or not an object at all.
      {"empty body", "", Verdict::kRefused},
      {"only whitespace", " \r\n ", Verdict::kRefused},
      {"cut inside the first key", sealed.substr(0, 4), Verdict::kRefused},
      {"cut inside data", sealed.substr(0, sealed.size() / 2), Verdict::kRefused},
      {"cut before data", "{\"errno\":0,", Verdict::kRefused},
      {"cut after data", sealed.substr(0, sealed.size() - 1), Verdict::kEither},
      {"null", "null", Verdict::kRefused},
      {"array", "[" + sealed + "]", Verdict::kRefused},
      {"string", Quoted(data), Verdict::kRefused},
      {"number", "0", Verdict::kRefused},
      {"true", "true", Verdict::kRefused},
      {"empty object", "{}", Verdict::kRefused},
      {"HTML", "<html><body>busy</body></html>", Verdict::kRefused},
      {"single quotes", "{'errno':0,'data':'" + data + "'}", Verdict::kRefused},
      {"unquoted keys", "{errno:0,data:\"" + data + "\"}", Verdict::kRefused},
      // Deep nesting and sheer size.
      {"arrays nested 100000 deep", Nested('[', ']', "", 100000), Verdict::kRefused},
      {"objects nested 100000 deep",
       [] {
         std::string body;
         for (int i = 0; i < 100000; ++i) body += "{\"a\":";
         return body + "0" + std::string(100000, '}');
       }(),
       Verdict::kRefused},
      {"deep nesting inside errno", Envelope(Nested('[', ']', "0", 100000), Quoted(data)),
       Verdict::kEither},
      {"1 MiB of A as data", Envelope("0", Quoted(mib)), Verdict::kRefused},
      {"1 MiB of Base64 text as data",
       Envelope("0", Quoted(std::string(mib.size() / 4 * 4, 'Q').replace(0, data.size(), data))),
       Verdict::kRefused},
      {"1 MiB of garbage", std::string(1 << 20, '\x9c'), Verdict::kRefused},
      {"1 MiB of whitespace, then the envelope", std::string(1 << 20, ' ') + sealed,
       Verdict::kAccepted},
      // errno: only an integral, in-range non-zero refuses.
      {"errno 1", Envelope("1", Quoted(data)), Verdict::kRefused},
      {"errno -1", Envelope("-1", Quoted(data)), Verdict::kRefused},
      {"errno INT_MAX", Envelope("2147483647", Quoted(data)), Verdict::kRefused},
      {"errno INT_MIN", Envelope("-2147483648", Quoted(data)), Verdict::kRefused},
      {"errno 2^31", Envelope("2147483648", Quoted(data)), Verdict::kEither},
      {"errno 20 digits", Envelope("99999999999999999999", Quoted(data)), Verdict::kEither},
      {"errno 1e400", Envelope("1e400", Quoted(data)), Verdict::kEither},
      {"errno -1e-400", Envelope("-1e-400", Quoted(data)), Verdict::kEither},
      {"errno 0.5", Envelope("0.5", Quoted(data)), Verdict::kEither},
      {"errno as text", Envelope("\"0\"", Quoted(data)), Verdict::kEither},
      {"errno null", Envelope("null", Quoted(data)), Verdict::kEither},
      {"errno object", Envelope("{\"a\":1}", Quoted(data)), Verdict::kEither},
      {"no errno", "{\"data\":" + Quoted(data) + "}", Verdict::kEither},
      // data: wrong types and broken Base64.
      {"no data", "{\"errno\":0}", Verdict::kRefused},
      {"data null", Envelope("0", "null"), Verdict::kRefused},
      {"data number", Envelope("0", "12345678"), Verdict::kRefused},
      {"data array", Envelope("0", "[" + Quoted(data) + "]"), Verdict::kRefused},
      {"data object", Envelope("0", "{\"data\":" + Quoted(data) + "}"), Verdict::kRefused},
      {"data true", Envelope("0", "true"), Verdict::kRefused},
      {"data empty", Envelope("0", "\"\""), Verdict::kRefused},
      {"data not Base64", Envelope("0", "\"@@@@\""), Verdict::kRefused},
      {"data URL-safe alphabet", Envelope("0", "\"-_-_\""), Verdict::kRefused},
      {"data URL-safe sealed", Envelope("0", Quoted(Replaced(Replaced(data, '+', '-'), '/', '_'))),
       Verdict::kEither},
      {"data without padding", Envelope("0", Quoted(Replaced(data, '=', '\0').c_str())),
       Verdict::kEither},
      {"data with a space inside", Envelope("0", Quoted(data.substr(0, 8) + " " + data.substr(8))),
       Verdict::kRefused},
      {"data with a line break inside",
       Envelope("0", Quoted(data.substr(0, 8) + "\\n" + data.substr(8))), Verdict::kRefused},
      {"data one block short", Envelope("0", Quoted(data.substr(4))), Verdict::kEither},
      {"data 4 bytes, not a whole block", Envelope("0", "\"QUJDRA==\""), Verdict::kRefused},
      {"data zero block", Envelope("0", "\"AAAAAAAAAAA=\""), Verdict::kRefused},
      {"data sealed with another key",
       Envelope("0",
                Quoted(Base64Encode(
                    EncipherPayload(kHostileConfig, "not the key", SealPadding::kZero).value()))),
       Verdict::kRefused},
      {"data with a unicode escape",
       Envelope("0", Quoted("\\u00" +
                            [&] {
                              char hex[3];
                              std::snprintf(hex, sizeof hex, "%02x",
                                            static_cast<unsigned char>(data[0]));
                              return std::string(hex);
                            }() +
                            data.substr(1))),
       Verdict::kAccepted},
      // NUL bytes, byte order marks, comments, duplicate keys, bad UTF-8.
      {"NUL first", std::string("\0", 1) + sealed, Verdict::kRefused},
      {"NUL inside data", sealed.substr(0, 30) + '\0' + sealed.substr(30), Verdict::kRefused},
      {"UTF-8 BOM", "\xEF\xBB\xBF" + sealed, Verdict::kEither},
      {"UTF-16 BOM", "\xFF\xFE" + sealed, Verdict::kRefused},
      {"comments", "/* c */{// line\n\"errno\":0,/**/\"data\":\"" + data + "\"}", Verdict::kEither},
      {"unterminated comment", "{\"errno\":0,\"data\":\"" + data + "\"/*}", Verdict::kEither},
      {"duplicate data, good one last", "{\"errno\":0,\"data\":\"@@@@\",\"data\":\"" + data + "\"}",
       Verdict::kEither},
      {"duplicate data, good one first",
       "{\"errno\":0,\"data\":\"" + data + "\",\"data\":\"@@@@\"}", Verdict::kEither},
      {"duplicate errno", "{\"errno\":0,\"errno\":5,\"data\":\"" + data + "\"}", Verdict::kEither},
      {"bad UTF-8 in a key", "{\"\xC3\x28\":1,\"errno\":0,\"data\":\"" + data + "\"}",
       Verdict::kEither},
      {"bad UTF-8 in data", Envelope("0", Quoted("\xFF\xFE" + data)), Verdict::kRefused},
      {"overlong UTF-8 quote", "{\"errno\":0,\"data\":\"\xC0\xA2" + data + "\"}",
       Verdict::kRefused},
      {"lone surrogate escape", Envelope("0", "\"\\ud800" + data + "\""), Verdict::kRefused},
      // The deciphered text: not an object, or no string appid.
      {"sealed array", Sealed("[1,2,3]"), Verdict::kRefused},
      {"sealed string", Sealed("\"kv-demo\""), Verdict::kRefused},
      {"sealed number", Sealed("12345678"), Verdict::kRefused},
      {"sealed null", Sealed("null"), Verdict::kRefused},
      {"sealed true", Sealed("true"), Verdict::kRefused},
      {"sealed empty object", Sealed("{}"), Verdict::kRefused},
      {"sealed text", Sealed("appid=kv-demo"), Verdict::kRefused},
      {"sealed cut object", Sealed(R"({"appid":"kv-demo")"), Verdict::kEither,
       R"({"appid":"kv-demo")"},
      {"appid number", Sealed(R"({"appid":1})"), Verdict::kRefused},
      {"appid huge number", Sealed(R"({"appid":1e999})"), Verdict::kRefused},
      {"appid null", Sealed(R"({"appid":null})"), Verdict::kRefused},
      {"appid true", Sealed(R"({"appid":true})"), Verdict::kRefused},
      {"appid array", Sealed(R"({"appid":["kv-demo"]})"), Verdict::kRefused},
      {"appid object", Sealed(R"({"appid":{"id":"kv-demo"}})"), Verdict::kRefused},
      {"appid in another case", Sealed(R"({"AppId":"kv-demo"})"), Verdict::kRefused},
      {"appid nested only", Sealed(R"({"x":{"appid":"kv-demo"}})"), Verdict::kRefused},
      {"appid twice, number last", Sealed(R"({"appid":"kv-demo","appid":1})"), Verdict::kEither,
       R"({"appid":"kv-demo","appid":1})"},
      // Padding bytes are not JSON but trail the object, so they may pass along.
      {"sealed with PKCS#5 padding", Sealed(kHostileConfig, SealPadding::kPkcs5), Verdict::kEither,
       Pkcs5Padded(kHostileConfig)},
      {"sealed config nested 100000 deep", Sealed(Nested('[', ']', "", 100000)), Verdict::kRefused},
      {"sealed config of 4000 bytes", Sealed("{\"appid\":\"" + std::string(4000, 'x') + "\"}"),
       Verdict::kAccepted, "{\"appid\":\"" + std::string(4000, 'x') + "\"}"},
  };
  return cases;
}

std::string SealedHostileConfig(const std::string& config) { return Sealed(config); }

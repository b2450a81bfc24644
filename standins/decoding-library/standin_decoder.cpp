#include "app/decode_config.h"

#include <json/json.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

namespace {

// A UTF-8 continuation byte has the bit pattern 10xxxxxx.
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of `text` no longer than `limit` bytes that does not cut
// a multi-byte character in two.
size_t CharacterBoundary(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t end = limit;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return end;
}

bool ParseObject(const char* text, Json::Value& root) {
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const char* end = text + std::strlen(text);
  std::string errors;
  try {
    return reader->parse(text, end, &root, &errors) && root.isObject();
  } catch (const Json::Exception&) {
    return false;
  }
}

std::string CompactRendering(const Json::Value& root) {
  Json::StreamWriterBuilder builder;
  // One line, the text's own characters, and no comments carried over from
  // the input: the caller prints the buffer as it stands.
  builder["indentation"] = "";
  builder["commentStyle"] = "None";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, root);
}

}  // namespace

extern "C" int __cdecl DecodeConfig(const char* text, char* out, int outSize) {
  if (out == nullptr || outSize <= 0) return 0;
  out[0] = '\0';
  // A C entry point: no exception may reach the caller.
  try {
    Json::Value root;
    if (text == nullptr || !ParseObject(text, root)) return 0;
    const std::string rendering = CompactRendering(root);
    const size_t length = CharacterBoundary(rendering, static_cast<size_t>(outSize) - 1);
    std::memcpy(out, rendering.data(), length);
    out[length] = '\0';
    return static_cast<int>(length);
  } catch (...) {
    out[0] = '\0';
    return 0;
  }
}

#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <string_view>

// A parsed JSON value with lookups by dotted path ("a.b", "list[2]", "[0]")
// that never raise: a missing member, a wrong type or a bad path yields the
// caller's default or jsoncpp's shared null value, which lives for the
// whole process. Single-threaded use.
class JsonDocument : public Json::Value {
 public:
  JsonDocument() = default;

  // Parses `text`; the outcome is not reported (see Parse for what remains).
  explicit JsonDocument(const std::string& text);

  // True only for a clean parse whose root is an object or an array. Either
  // way the document keeps what the parser built before any fault, so a body
  // that breaks off still shows the members read so far; when the parser
  // gives up by raising (nesting too deep) the document is null instead.
  bool Parse(const std::string& text);

  bool IsObjectAt(std::string_view path) const;
  bool IsStringAt(std::string_view path) const;
  // The value when it is an integer within the signed 32-bit range (an
  // integral real counts), else `defaultValue`.
  std::int32_t GetIntAt(std::string_view path, std::int32_t defaultValue) const;
  std::string GetStringAt(std::string_view path, const std::string& defaultValue) const;

 private:
  const Json::Value& ValueAt(std::string_view path) const;
  static const Json::Value& ResolvePath(const Json::Value& from, std::string_view path);
  static const Json::Value& LookupSegment(const Json::Value& from, std::string_view segment);
};

#include "payload/json_document.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// Paths come from our own code; anything this long is a mistake, not a path.
constexpr std::size_t kMaxPathLength = 256;
// Indices are compared with array sizes only, so any value past every
// possible size will do; saturating keeps the arithmetic defined.
constexpr std::int64_t kSaturatedIndex = std::int64_t{1} << 40;

const Json::Value& Null() { return Json::Value::nullSingleton(); }

// Building the default settings costs about as much as parsing a small
// document, and they never change: one immutable builder serves every parse.
// Each parse still gets a reader of its own.
const Json::CharReaderBuilder& DefaultReaderBuilder() {
  static const Json::CharReaderBuilder* const builder = new Json::CharReaderBuilder;
  return *builder;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first white-space delimited token of `text`.
std::string_view FirstToken(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsSpace(text[begin])) ++begin;
  std::size_t end = begin;
  while (end < text.size() && !IsSpace(text[end])) ++end;
  return text.substr(begin, end - begin);
}

// Reads "[<integer>]" filling all of `text`. Parsed by hand rather than with
// a scanf "%d", whose behaviour on an out-of-range number is undefined and
// differs between C runtimes.
std::optional<std::int64_t> ParseBracketIndex(std::string_view text) {
  if (text.size() < 3 || text.front() != '[' || text.back() != ']') return std::nullopt;
  std::string_view digits = text.substr(1, text.size() - 2);
  // Leading white space is allowed, as scanf's "%d" allows it.
  while (!digits.empty() && IsSpace(digits.front())) digits.remove_prefix(1);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min(value * 10 + (c - '0'), kSaturatedIndex);
  }
  return negative ? -value : value;
}

const Json::Value& ElementAt(const Json::Value& array, std::int64_t index) {
  if (!array.isArray() || index < 0 || index >= static_cast<std::int64_t>(array.size())) {
    return Null();
  }
  return array[static_cast<Json::ArrayIndex>(index)];
}

const Json::Value& MemberOf(const Json::Value& object, std::string_view name) {
  if (!object.isObject()) return Null();
  // jsoncpp compares names with memcmp, which must not see a null pointer.
  const char* begin = name.empty() ? "" : name.data();
  const Json::Value* member = object.find(begin, begin + name.size());
  return member != nullptr ? *member : Null();
}

}  // namespace

JsonDocument::JsonDocument(const std::string& text) { static_cast<void>(Parse(text)); }

bool JsonDocument::Parse(const std::string& text) {
  Json::Value& root = *this;
  root = Json::Value();
  try {
    const std::unique_ptr<Json::CharReader> reader(DefaultReaderBuilder().newCharReader());
    std::string errors;
    // jsoncpp 1.9.5's reader can look one byte past `end` when the range is
    // not followed by a NUL; a std::string's data() always is, so the range
    // handed over here must stay inside the string's own storage.
    const bool parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    return parsed && errors.empty() && (root.isObject() || root.isArray());
  } catch (const Json::Exception&) {
    // The reader raises rather than reports when nesting passes its limit;
    // whatever half-built value it leaves must not pass for a document.
    // Exhausted memory is no parse error and goes on to the caller.
    root = Json::Value();
    return false;
  }
}

bool JsonDocument::IsObjectAt(std::string_view path) const { return ValueAt(path).isObject(); }

bool JsonDocument::IsStringAt(std::string_view path) const { return ValueAt(path).isString(); }

std::int32_t JsonDocument::GetIntAt(std::string_view path, std::int32_t defaultValue) const {
  const Json::Value& value = ValueAt(path);
  return value.isInt() ? value.asInt() : defaultValue;
}

std::string JsonDocument::GetStringAt(std::string_view path,
                                      const std::string& defaultValue) const {
  const Json::Value& value = ValueAt(path);
  return value.isString() ? value.asString() : defaultValue;
}

const Json::Value& JsonDocument::ValueAt(std::string_view path) const {
  try {
    return ResolvePath(*this, path);
  } catch (const Json::Exception&) {
    return Null();
  }
}

const Json::Value& JsonDocument::ResolvePath(const Json::Value& from, std::string_view path) {
  if (path.empty()) return from;
  if (path.size() >= kMaxPathLength) return Null();
  if (from.isNull()) return Null();

  const std::size_t dot = path.find('.');
  // A leading "." leaves no head to descend by: the path then names the
  // member with the empty name.
  if (dot == 0) return LookupSegment(from, std::string_view());
  const std::string_view head = path.substr(0, dot);
  const std::string_view rest =
      dot == std::string_view::npos ? std::string_view() : FirstToken(path.substr(dot + 1));
  if (rest.empty()) return LookupSegment(from, head);
  return ResolvePath(LookupSegment(from, head), rest);
}

const Json::Value& JsonDocument::LookupSegment(const Json::Value& from, std::string_view segment) {
  if (!from.isObject() && !from.isArray()) return Null();

  // "name[index]": an element of the array member `name`.
  const std::size_t bracket = segment.find('[');
  if (bracket != std::string_view::npos && bracket > 0) {
    if (const auto index = ParseBracketIndex(segment.substr(bracket))) {
      return ElementAt(MemberOf(from, segment.substr(0, bracket)), *index);
    }
  }
  // "[index]": an element of `from` itself.
  if (const auto index = ParseBracketIndex(segment)) return ElementAt(from, *index);
  return MemberOf(from, segment);
}

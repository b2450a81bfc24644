#include "payload/json_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr std::int32_t kDefault = -77;

const std::string kTree = R"({
  "n": 5,
  "s": "text",
  "a": {"b": [10, 20, {"c": 30}]},
  "list": [1, [2, 3]],
  "": {"e": 7}
})";

// One row of a table: a text given to the document, and the integer read.
struct IntCase {
  const char* text;
  std::int32_t expected;
};

TEST(JsonDocumentTest, ResolvesPaths) {
  const JsonDocument doc(kTree);
  const IntCase kCases[] = {
      // a path, and the integer found there
      {"n", 5},
      {"a.b[1]", 20},
      {"a.b[2].c", 30},
      {"a.b.[0]", 10},
      {"list[0]", 1},
      {"list[1].[1]", 3},
      // Past the end, negative, huge or malformed indices.
      {"a.b[3]", kDefault},
      {"a.b[-1]", kDefault},
      {"a.b[4294967296]", kDefault},
      {"a.b[99999999999999999999999]", kDefault},
      {"a.b[1", kDefault},
      {"a.b[1]x", kDefault},
      {"a.b[x]", kDefault},
      // An index on an object, a name on an array, a step below a scalar.
      {"a[0]", kDefault},
      {"[0]", kDefault},
      {"list.x", kDefault},
      {"n.x", kDefault},
      {"s", kDefault},
      {"missing.n", kDefault},
      // A leading "." names the member with the empty name, not its children.
      {".e", kDefault},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(doc.GetIntAt(c.text, kDefault), c.expected);
  }
  EXPECT_TRUE(doc.IsObjectAt(""));
  EXPECT_TRUE(doc.IsObjectAt(".e"));
  EXPECT_TRUE(doc.IsObjectAt("a"));
  EXPECT_TRUE(doc.IsStringAt("s"));
  EXPECT_EQ(doc.GetStringAt("s", "x"), "text");
  EXPECT_EQ(doc.GetStringAt("n", "x"), "x");
}

TEST(JsonDocumentTest, OverlongPathsAndSegmentsFindNothing) {
  const std::string name255(255, 'k');
  const std::string name300(300, 'k');
  const JsonDocument doc("{\"" + name255 + "\": 1, \"" + name300 + "\": 2, \"o\": {\"" + name300 +
                         "\": 3}}");
  EXPECT_EQ(doc.GetIntAt(name255, kDefault), 1);
  EXPECT_EQ(doc.GetIntAt(name300, kDefault), kDefault);
  EXPECT_EQ(doc.GetIntAt("o." + name300, kDefault), kDefault);
  EXPECT_EQ(doc.GetIntAt(name300 + "[0]", kDefault), kDefault);
  EXPECT_EQ(doc.GetIntAt(std::string(1000, '.'), kDefault), kDefault);
  EXPECT_EQ(doc.GetIntAt(std::string(200, '[') + "0]", kDefault), kDefault);
}

TEST(JsonDocumentTest, IntegerTyping) {
  const IntCase kCases[] = {
      // a value, and the integer it reads as
      {"0", 0},
      {"0.0", 0},
      {"-1", -1},
      {"2.0", 2},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", kDefault},
      {"4294967296", kDefault},
      {"1.5", kDefault},
      {"1e300", kDefault},
      {"\"5\"", kDefault},
      {"true", kDefault},
      {"null", kDefault},
      {"[1]", kDefault},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const JsonDocument doc(std::string(R"({"v":)") + c.text + "}");
    EXPECT_EQ(doc.GetIntAt("v", kDefault), c.expected);
  }
}

TEST(JsonDocumentTest, ParseOutcome) {
  const struct {
    std::string text;
    bool parsed;
    bool objectRoot;
  } kCases[] = {
      {R"({"a":1})", true, true},
      {"[1,2]", true, false},
      {"\xEF\xBB\xBF{}", true, true},
      {"{} trailing text", true, true},
      {"{\"a\":1, // comment\n}", true, true},
      {"5", false, false},
      {"\"text\"", false, false},
      {"", false, false},
      {"not json", false, false},
      // Cut off: the members read so far stay.
      {R"({"a":1,"b":)", false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    JsonDocument doc;
    EXPECT_EQ(doc.Parse(c.text), c.parsed);
    EXPECT_EQ(doc.IsObjectAt(""), c.objectRoot);
  }
  JsonDocument cut;
  EXPECT_FALSE(cut.Parse(R"({"a":1,"b":)"));
  EXPECT_EQ(cut.GetIntAt("a", kDefault), 1);
}

// Past the reader's nesting limit it raises from inside the parse; that must
// end as a failed parse with nothing left behind, never escape.
TEST(JsonDocumentTest, DeepNestingFailsCleanly) {
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += R"({"a":)";
  const std::string kCases[] = {std::string(100000, '['), objects,
                                std::string(1001, '[') + "1" + std::string(1001, ']')};
  for (const std::string& text : kCases) {
    SCOPED_TRACE(text.substr(0, 12));
    JsonDocument doc;
    EXPECT_FALSE(doc.Parse(text));
    EXPECT_TRUE(doc.isNull());
  }
  JsonDocument shallow;
  EXPECT_TRUE(shallow.Parse(std::string(900, '[') + std::string(900, ']')));
}

}  // namespace

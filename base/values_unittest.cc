#include "base/values.h"

#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(Value, TypeNames) {
  struct {
    Value::Type type;
    const char* name;
  } cases[] = {
      {Value::Type::NONE, "null"},
      {Value::Type::BOOLEAN, "boolean"},
      {Value::Type::INTEGER, "integer"},
      {Value::Type::DOUBLE, "double"},
      {Value::Type::STRING, "string"},
      {Value::Type::BINARY, "binary"},
      {Value::Type::DICTIONARY, "dictionary"},
      {Value::Type::LIST, "list"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.name, Value::GetTypeName(c.type));
    EXPECT_EQ(c.type, Value(c.type).type());
  }
}

TEST(Value, SetPath_CreatesAndReplacesDictionaries) {
  Value root(Value::Type::DICTIONARY);
  root.SetIntegerPath("a.b", 5);
  const Value* a = root.FindKey("a");
  ASSERT_TRUE(a && a->is_dict());
  ASSERT_TRUE(a->FindKey("b"));
  EXPECT_EQ(5, a->FindKey("b")->GetInt());
  EXPECT_EQ(5, root.FindPath("a.b")->GetInt());

  // A string at "a" replaces the whole dictionary.
  root.SetStringPath("a", "text");
  ASSERT_TRUE(root.FindKey("a")->is_string());
  EXPECT_EQ("text", root.FindKey("a")->GetString());
  EXPECT_EQ(nullptr, root.FindPath("a.b"));

  // A non-dictionary on the way is replaced by a new dictionary.
  Value other(Value::Type::DICTIONARY);
  other.SetKey("a", Value(3));
  other.SetIntegerPath("a.b", 5);
  ASSERT_TRUE(other.FindKey("a")->is_dict());
  EXPECT_EQ(5, other.FindPath("a.b")->GetInt());

  // Deep paths, and a replacement keeps one entry per key.
  root.SetIntegerPath("x.y.z", 1);
  root.SetIntegerPath("x.y.z", 2);
  EXPECT_EQ(2, root.FindPath("x.y.z")->GetInt());
  EXPECT_EQ(1u, root.FindPath("x.y")->DictItems().size());
  EXPECT_EQ(nullptr, root.FindPath("x.q"));
}

TEST(Value, Dictionary_KeysSortAsSignedBytes) {
  Value dict(Value::Type::DICTIONARY);
  const char* keys[] = {"a", "B", "\x80z", "ab", "", "A"};
  for (const char* key : keys)
    dict.SetKey(key, Value(static_cast<int>(std::string(key).size())));
  std::vector<std::string> order;
  for (const auto& entry : dict.DictItems())
    order.push_back(entry.first);
  // 0x80 is negative as a signed byte; a prefix sorts before its extensions.
  std::vector<std::string> expected = {"", "\x80z", "A", "B", "a", "ab"};
  EXPECT_EQ(expected, order);
  for (const char* key : keys) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(dict.FindKey(key));
    EXPECT_EQ(static_cast<int>(std::string(key).size()), dict.FindKey(key)->GetInt());
  }
  EXPECT_EQ(nullptr, dict.FindKey("b"));
  EXPECT_TRUE(dict.RemoveKey("B"));
  EXPECT_FALSE(dict.RemoveKey("B"));
  EXPECT_EQ(nullptr, dict.FindKey("B"));
}

TEST(Value, SetAtIndex_GrowsWithNoneAndRefusesBadInput) {
  Value list(Value::Type::LIST);
  EXPECT_TRUE(list.SetAtIndex(3, Value("v")));
  ASSERT_EQ(4u, list.GetList().size());
  for (size_t i = 0; i < 3; ++i)
    EXPECT_TRUE(list.GetList()[i].is_none()) << i;
  EXPECT_EQ("v", list.GetList()[3].GetString());

  EXPECT_TRUE(list.SetAtIndex(1, Value(7)));
  EXPECT_EQ(7, list.GetList()[1].GetInt());
  EXPECT_EQ(4u, list.GetList().size());

  // A none value and the index whose successor wraps are refused unchanged.
  EXPECT_FALSE(list.SetAtIndex(0, Value()));
  EXPECT_FALSE(list.SetAtIndex(std::numeric_limits<size_t>::max(), Value(1)));
  EXPECT_EQ(4u, list.GetList().size());
  EXPECT_TRUE(list.GetList()[0].is_none());
}

TEST(Value, Move_LeavesSourceContainersEmpty) {
  Value dict(Value::Type::DICTIONARY);
  dict.SetIntegerPath("a.b", 1);
  Value moved(std::move(dict));
  EXPECT_EQ(1, moved.FindPath("a.b")->GetInt());
  EXPECT_TRUE(dict.is_dict());  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(dict.DictItems().empty());

  Value list(Value::ListStorage{});
  list.Append(Value(1));
  Value target;
  target = std::move(list);
  EXPECT_EQ(1u, target.GetList().size());
  EXPECT_TRUE(list.GetList().empty());  // NOLINT(bugprone-use-after-move)
}

TEST(Value, Compare_DeepAndByTypeFirst) {
  Value d1(Value::Type::DICTIONARY);
  d1.SetIntegerPath("a.b", 1);
  d1.SetStringPath("c", "x");
  Value d2 = d1.Clone();
  EXPECT_EQ(d1, d2);
  d2.SetIntegerPath("a.b", 2);
  EXPECT_NE(d1, d2);
  EXPECT_LT(d1, d2);

  struct {
    Value a;
    Value b;
    bool less;
    bool equal;
  } cases[] = {
      {Value(1), Value(1), false, true},
      {Value(1), Value(2), true, false},
      {Value(1), Value(1.0), true, false},  // integer type before double
      {Value(true), Value(0), true, false},
      {Value("a"), Value("b"), true, false},
      {Value(), Value(), false, true},
      {Value(Value::BlobStorage{1, 2}), Value(Value::BlobStorage{1, 3}), true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Value::GetTypeName(c.a.type()));
    EXPECT_EQ(c.equal, c.a == c.b);
    EXPECT_EQ(c.less, c.a < c.b);
    EXPECT_FALSE(c.b < c.a && c.less);
  }
  EXPECT_DOUBLE_EQ(3.0, Value(3).GetDouble());
}

TEST(ValueDeathTest, DictionaryOperationsOnOtherTypesAreFatal) {
  EXPECT_DEATH(Value(1).FindKey("a"), "Check failed: is_dict\\(\\)");
  EXPECT_DEATH(Value(Value::Type::LIST).SetKey("a", Value(1)), "Check failed: is_dict\\(\\)");
  EXPECT_DEATH(Value("s").SetIntegerPath("a.b", 1), "Check failed: is_dict\\(\\)");
}

}  // namespace
}  // namespace base

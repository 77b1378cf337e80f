#include "support/buf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string text(const buf& b) {
  return std::string(b.data, b.len);
}

struct owned : buf {
  owned() : buf{} {}
  ~owned() { free(data); }
};

TEST(BufAdd, ZeroBytesToEmptyMakesFirstBlock) {
  owned b;
  ASSERT_EQ(buf_add(&b, "", 0), 1);
  ASSERT_NE(b.data, nullptr);
  EXPECT_EQ(b.len, 0u);
  EXPECT_EQ(b.cap, 1024u);
  EXPECT_EQ(b.data[0], '\0');
}

TEST(BufAdd, CapacityDoublesFrom1024) {
  struct {
    size_t first, second;
    uint64_t cap;
  } cases[] = {{1023, 0, 1024}, {1023, 1, 2048}, {5000, 0, 8192}, {1024, 1024, 4096}};
  for (const auto& c : cases) {
    owned b;
    std::string a(c.first, 'a'), z(c.second, 'z');
    ASSERT_EQ(buf_add(&b, a.data(), a.size()), 1);
    ASSERT_EQ(buf_add(&b, z.data(), z.size()), 1);
    EXPECT_EQ(b.cap, c.cap) << c.first << "+" << c.second;
    EXPECT_EQ(text(b), a + z);
    EXPECT_EQ(b.data[b.len], '\0');
  }
}

TEST(BufAdd, KeepsEmbeddedNuls) {
  owned b;
  ASSERT_EQ(buf_add(&b, "a\0b", 3), 1);
  EXPECT_EQ(text(b), std::string("a\0b", 3));
}

TEST(BufAdd, CeilingIs64MiBAndRefusalChangesNothing) {
  owned b;
  std::string big(kBufMaxCap - 2, 'x');
  ASSERT_EQ(buf_add(&b, big.data(), big.size()), 1);
  ASSERT_EQ(buf_add(&b, "y", 1), 1);  // 67,108,863 text bytes: the most a buf holds
  EXPECT_EQ(b.cap, kBufMaxCap);
  char* before = b.data;
  EXPECT_EQ(buf_add(&b, "z", 1), 0);
  EXPECT_EQ(b.data, before);
  EXPECT_EQ(b.len, kBufMaxCap - 1);
  EXPECT_EQ(b.cap, kBufMaxCap);
  EXPECT_EQ(b.data[b.len - 1], 'y');
  EXPECT_EQ(b.data[b.len], '\0');
}

TEST(BufAdd, RefusesHugeCountsWithoutOverflow) {
  owned b;
  buf_adds(&b, "keep");
  EXPECT_EQ(buf_add(&b, "x", SIZE_MAX), 0);
  EXPECT_EQ(buf_add(&b, "x", SIZE_MAX - 3), 0);
  EXPECT_EQ(text(b), "keep");
}

TEST(BufAddf, StackAndHeapPathsAppendWhole) {
  for (int width : {0, 10, 2047, 2048, 5000}) {
    owned b;
    buf_adds(&b, "<");
    ASSERT_EQ(buf_addf(&b, "%*s|%lld", width, "", static_cast<long long>(-42)), 1);
    // Built by appends: GCC 12 at -O3 misreads "<" + std::string(...) (bug 105329).
    std::string expect = "<";
    expect.append(static_cast<size_t>(width), ' ').append("|-42");
    EXPECT_EQ(text(b), expect) << width;
  }
}

TEST(BufJson, Escapes) {
  struct {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"\t\x01\x7f\xc3\xa9\"\\", "\"\\t\\u0001\x7f\xc3\xa9\\\"\\\\\""},
      {"\r\n", "\"\\r\\n\""},
      {"\x08\x0c\x1b\x1f", "\"\\u0008\\u000c\\u001b\\u001f\""},
      {"C:\\Users\\x", "\"C:\\\\Users\\\\x\""},
      {"\xff\xfe bad utf-8", "\"\xff\xfe bad utf-8\""},
      {"</script>", "\"</script>\""},
  };
  for (const auto& c : cases) {
    owned b;
    ASSERT_EQ(buf_json(&b, c.in.c_str()), 1);
    EXPECT_EQ(text(b), c.out);
  }
  owned b;
  buf_json(&b, "\t\x01\x7f\xc3\xa9\"\\");
  EXPECT_EQ(b.len, 17u);
}

TEST(BufJson, StopsAtTheCeilingWithAPrefix) {
  owned b;
  std::string big(kBufMaxCap - 5, 'x');
  ASSERT_EQ(buf_add(&b, big.data(), big.size()), 1);
  // Room for 4 more text bytes: the quote, "ab", then the escape does not fit.
  EXPECT_EQ(buf_json(&b, "ab\"cd"), 0);
  EXPECT_EQ(text(b).substr(big.size()), "\"ab");
}

}  // namespace

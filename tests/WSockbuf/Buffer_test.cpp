#include "WSockbuf/Buffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Unread(const TBuffer& b) {
  std::int32_t len = -1;
  const char* p = b.Peek(len);
  return p ? std::string(p, static_cast<size_t>(len)) : std::string();
}

TEST(BufferTest, NonPositiveCapacityMeansDefault) {
  for (std::int32_t size : {0, -1, INT32_MIN}) {
    TBuffer b(size);
    EXPECT_EQ(b.BufSize(), 1514) << size;
    EXPECT_EQ(b.WritePos(), 0);
    EXPECT_EQ(b.ReadPos(), 0);
  }
  TBuffer b(10);
  b.SetBufSize(-3);
  EXPECT_EQ(b.BufSize(), 1514);
  EXPECT_EQ(b.ClassName(), "TBuffer");
}

TEST(BufferTest, WriteTakesOnlyTheFreeSpace) {
  TBuffer b(8);
  EXPECT_EQ(b.Write("abc", 0), 0);
  EXPECT_EQ(b.Write("abc", -4), 0);
  EXPECT_EQ(b.WritePos(), 0);
  EXPECT_EQ(b.Write("abcde", 5), 5);
  EXPECT_EQ(b.Write("fghij", 5), 3);
  EXPECT_EQ(b.WritePos(), 8);
  EXPECT_EQ(Unread(b), "abcdefgh");
  // Space in front of the read position is not reused before the chunk is drained.
  char out[4];
  EXPECT_EQ(b.Read(out, 2), 2);
  EXPECT_EQ(b.Write("x", 1), 0);
  EXPECT_EQ(Unread(b), "cdefgh");
}

TEST(BufferTest, EmptyChunkGivesNothing) {
  TBuffer b(4);
  char out[4];
  std::int32_t len = 99;
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Read(out, 4), 0);
  EXPECT_EQ(b.Remove(4), 0);
}

TEST(BufferTest, ReadPeekAndRemoveConsumeInOrder) {
  TBuffer b(16);
  ASSERT_EQ(b.Write("hello world", 11), 11);
  char out[16] = {};
  EXPECT_EQ(b.Read(out, 5), 5);
  EXPECT_EQ(std::string(out, 5), "hello");
  EXPECT_EQ(b.ReadPos(), 5);
  std::int32_t len = 0;
  const char* p = b.Peek(len);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, static_cast<size_t>(len)), " world");
  EXPECT_EQ(b.ReadPos(), 5);  // peeking consumes nothing
  EXPECT_EQ(b.Remove(0), 0);
  EXPECT_EQ(b.Remove(-2), 0);
  EXPECT_EQ(b.Read(out, 0), 0);
  EXPECT_EQ(b.Remove(1), 1);
  EXPECT_EQ(Unread(b), "world");
  // Asking for more than is there hands out all of it.
  EXPECT_EQ(b.Read(out, 100), 5);
  EXPECT_EQ(std::string(out, 5), "world");
}

TEST(BufferTest, DrainedChunkStartsOver) {
  TBuffer b(6);
  ASSERT_EQ(b.Write("abcdef", 6), 6);
  EXPECT_EQ(b.Remove(100), 6);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 0);
  EXPECT_EQ(b.Write("123456", 6), 6);
  char out[6];
  EXPECT_EQ(b.Read(out, 5), 5);
  EXPECT_EQ(b.Read(out, 1), 1);
  EXPECT_EQ(out[0], '6');
  EXPECT_EQ(b.WritePos(), 0);
  EXPECT_EQ(b.Write("zz", 2), 2);
  EXPECT_EQ(Unread(b), "zz");
}

TEST(BufferTest, ResizeKeepsUnreadBytesAndPositions) {
  TBuffer b(10);
  ASSERT_EQ(b.Write("0123456789", 10), 10);
  ASSERT_EQ(b.Remove(3), 3);
  b.SetBufSize(10);  // same capacity: nothing moves
  EXPECT_EQ(b.ReadPos(), 3);
  b.SetBufSize(20);
  EXPECT_EQ(b.BufSize(), 20);
  EXPECT_EQ(b.ReadPos(), 3);
  EXPECT_EQ(b.WritePos(), 10);
  EXPECT_EQ(Unread(b), "3456789");
  EXPECT_EQ(b.Write("abc", 3), 3);
  b.SetBufSize(13);  // the written part still fits exactly
  EXPECT_EQ(b.ReadPos(), 3);
  EXPECT_EQ(Unread(b), "3456789abc");
}

TEST(BufferTest, ShrinkBelowWrittenPartCompactsOrRefuses) {
  TBuffer b(10);
  ASSERT_EQ(b.Write("0123456789", 10), 10);
  ASSERT_EQ(b.Remove(6), 6);
  // The four unread bytes fit the new capacity: they move to the front.
  b.SetBufSize(5);
  EXPECT_EQ(b.BufSize(), 5);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 4);
  EXPECT_EQ(Unread(b), "6789");
  EXPECT_EQ(b.Write("xyz", 3), 1);
  // Three unread bytes cannot be kept in two: the capacity stays.
  ASSERT_EQ(b.Remove(2), 2);
  b.SetBufSize(2);
  EXPECT_EQ(b.BufSize(), 5);
  EXPECT_EQ(Unread(b), "89x");
  // Exactly the unread size: the three bytes move to the front and fill it.
  b.SetBufSize(3);
  EXPECT_EQ(b.BufSize(), 3);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 3);
  EXPECT_EQ(Unread(b), "89x");
  EXPECT_EQ(b.Write("y", 1), 0);
  // Exactly the written part, some of it read: nothing moves, the positions stay.
  ASSERT_EQ(b.Remove(1), 1);
  b.SetBufSize(8);
  ASSERT_EQ(b.Write("yz", 2), 2);
  b.SetBufSize(5);
  EXPECT_EQ(b.BufSize(), 5);
  EXPECT_EQ(b.ReadPos(), 1);
  EXPECT_EQ(b.WritePos(), 5);
  EXPECT_EQ(Unread(b), "9xyz");
  // An empty chunk takes any capacity.
  ASSERT_EQ(b.Remove(4), 4);
  b.SetBufSize(2);
  EXPECT_EQ(b.BufSize(), 2);
  EXPECT_EQ(b.Write("pqr", 3), 2);
}

// A random mix of operations against a plain byte queue: nothing is lost, duplicated or
// reordered, and the positions keep their invariants (ASan checks every copy).
TEST(BufferTest, RandomOperationsMatchAQueue) {
  std::mt19937 rng(31337);
  TBuffer b(64);
  std::string model;  // the unread bytes, in order
  unsigned char next = 0;
  for (int step = 0; step < 20000; ++step) {
    const std::int32_t len = static_cast<std::int32_t>(rng() % 80) - 5;
    switch (rng() % 5) {
      case 0: {
        std::string src(static_cast<size_t>(std::max(len, 0)), '\0');
        for (char& c : src) c = static_cast<char>(next++);
        const std::int32_t room = b.BufSize() - b.WritePos();
        const std::int32_t n = b.Write(src.data(), len);
        ASSERT_EQ(n, std::max(0, std::min(len, room)));
        model += src.substr(0, static_cast<size_t>(n));
        break;
      }
      case 1: {
        std::vector<char> dst(static_cast<size_t>(std::max(len, 0)) + 1);
        const std::int32_t n = b.Read(dst.data(), len);
        ASSERT_EQ(
            n, std::max(0, std::min<std::int32_t>(len, static_cast<std::int32_t>(model.size()))));
        ASSERT_EQ(std::string(dst.data(), static_cast<size_t>(n)),
                  model.substr(0, static_cast<size_t>(n)));
        model.erase(0, static_cast<size_t>(n));
        break;
      }
      case 2: {
        const std::int32_t n = b.Remove(len);
        ASSERT_EQ(
            n, std::max(0, std::min<std::int32_t>(len, static_cast<std::int32_t>(model.size()))));
        model.erase(0, static_cast<size_t>(n));
        break;
      }
      case 3:
        if (rng() % 10 == 0) b.SetBufSize(static_cast<std::int32_t>(rng() % 100) - 10);
        break;
      default:
        ASSERT_EQ(Unread(b), model);
    }
    ASSERT_LE(0, b.ReadPos());
    ASSERT_LE(b.ReadPos(), b.WritePos());
    ASSERT_LE(b.WritePos(), b.BufSize());
    ASSERT_EQ(b.WritePos() - b.ReadPos(), static_cast<std::int32_t>(model.size()));
    if (model.empty()) {
      ASSERT_EQ(b.WritePos(), 0);
    }
  }
}

}  // namespace

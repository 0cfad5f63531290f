#include "Host/Streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/TempFile.h"

namespace {

using testsupport::TempDir;

std::string Contents(TMemoryStream& m) {
  return std::string(static_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

}  // namespace

TEST(MemoryStream, WritesReadsSeeksAndGrows) {
  TMemoryStream m;
  m.WriteBuffer("hello world", 11);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Position(), 11);
  EXPECT_EQ(m.Seek(-5, soFromEnd), 6);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 16), 5);  // short read at the end answers what there was
  EXPECT_STREQ(buf, "world");
  m.SetPosition(13);  // past the end: a write fills the gap with zeros
  m.WriteBuffer("!", 1);
  EXPECT_EQ(Contents(m), std::string("hello world\0\0!", 14));
  m.SetSize(5);
  EXPECT_EQ(m.Position(), 5);
  EXPECT_EQ(Contents(m), "hello");
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, ShortTransfersAndBadPositionsRaise) {
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  m.SetPosition(1);
  char buf[8];
  EXPECT_THROW(m.ReadBuffer(buf, 3), EReadError);
  EXPECT_THROW(m.Seek(-1, soFromBeginning), EStreamError);
  EXPECT_THROW(m.Seek(0, 7), EStreamError);
  EXPECT_THROW(m.SetSize(-1), EStreamError);
  EXPECT_EQ(m.Read(buf, -1), 0);
}

TEST(MemoryStream, WriteAllWritesEverythingOrRaises) {
  TMemoryStream m;
  m.WriteAll("ab", 0);
  EXPECT_EQ(m.Size(), 0);
  m.WriteAll("abcdef", 6);
  EXPECT_EQ(Contents(m), "abcdef");
  // A stream that takes fewer bytes than offered makes the write fail, not stop short.
  struct TFull : TMemoryStream {
    std::int32_t Write(const void* buf, std::int32_t count) override {
      return TMemoryStream::Write(buf, count > 2 ? 2 : count);
    }
  } full;
  EXPECT_THROW(full.WriteAll("abcdef", 6), EWriteError);
}

TEST(MemoryStream, CopyFromCopiesAPartOrTheWhole) {
  TMemoryStream src, dst;
  src.WriteBuffer("0123456789", 10);
  src.SetPosition(2);
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(Contents(dst), "234");
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);  // 0: all of it, from the start
  EXPECT_EQ(Contents(dst), "2340123456789");
  src.SetPosition(8);
  EXPECT_THROW(dst.CopyFrom(src, 5), EReadError);
}

TEST(FileStream, CreatesTruncatesAndReadsBack) {
  TempDir dir;
  const std::string path = dir / "a.bin";
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("first version", 13);
  }
  {
    TFileStream f(path, fmCreate);  // truncates
    f.WriteBuffer("second", 6);
  }
  TMemoryStream m;
  m.LoadFromFile(path);
  EXPECT_EQ(Contents(m), "second");
  TFileStream f(path, fmOpenReadWrite);
  EXPECT_EQ(f.Size(), 6);
  f.Seek(0, soFromEnd);
  f.WriteBuffer("!", 1);
  f.SetPosition(0);
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 8), 7);
  EXPECT_STREQ(buf, "second!");
  f.SetSize(3);
  EXPECT_EQ(f.Size(), 3);
  EXPECT_EQ(f.Position(), 3);
  m.SaveToFile(dir / "b.bin");
  TMemoryStream back;
  back.LoadFromFile(dir / "b.bin");
  EXPECT_EQ(Contents(back), "second");
}

TEST(FileStream, FailuresNameThePathAndTheReason) {
  TempDir dir;
  try {
    TFileStream f(dir / "missing.txt", fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find(dir / "missing.txt"), std::string::npos);
    EXPECT_NE(e.Message().find(std::strerror(ENOENT)), std::string::npos);
  }
  try {
    TFileStream f(dir / "no/such/folder.txt", fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_NE(e.Message().find("folder.txt"), std::string::npos);
  }
  // A folder is no file, though the system would open it for reading.
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);
  TMemoryStream m;
  EXPECT_THROW(m.LoadFromFile(dir / "missing.txt"), EFOpenError);
  { TFileStream w(dir / "ro.txt", fmCreate); }
  TFileStream r(dir / "ro.txt", fmOpenRead);
  try {
    r.WriteBuffer("x", 1);
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_NE(e.Message().find("ro.txt"), std::string::npos);
  }
  char c;
  EXPECT_THROW(r.ReadBuffer(&c, 1), EReadError);  // empty file: short read
}

// Byte streams of the host framework: the abstract stream, one in memory and one over a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Host/Component.h"
#include "Platform/Export.h"

class ORV_API EStreamError : public Exception {
 public:
  using Exception::Exception;
};
// A file that cannot be created; the text names the path and the system's reason.
class ORV_API EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// A file that cannot be opened; the text names the path and the system's reason.
class ORV_API EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// Errors of reading and writing: short transfers, and form files that cannot be read.
class ORV_API EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class ORV_API EReadError : public EFilerError {
 public:
  using EFilerError::EFilerError;
};
class ORV_API EWriteError : public EFilerError {
 public:
  using EFilerError::EFilerError;
};

inline constexpr int soFromBeginning = 0;
inline constexpr int soFromCurrent = 1;
inline constexpr int soFromEnd = 2;

class ORV_API TStream : public TObject {
 public:
  std::string ClassName() const override { return "TStream"; }

  // Transfer up to count bytes at the position; answer how many moved.
  virtual std::int32_t Read(void* buf, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buf, std::int32_t count) = 0;
  // Moves the position; origin is soFromBeginning, soFromCurrent or soFromEnd.
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

  std::int64_t Position() const;
  void SetPosition(std::int64_t pos) { Seek(pos, soFromBeginning); }
  virtual std::int64_t Size() const;
  virtual void SetSize(std::int64_t newSize);

  // As Read and Write, but a short transfer raises EReadError / EWriteError.
  void ReadBuffer(void* buf, std::int32_t count);
  void WriteBuffer(const void* buf, std::int32_t count);
  // WriteBuffer for any count: in pieces, as a single transfer counts only 32 bits.
  void WriteAll(const void* buf, std::int64_t count);
  // Copies count bytes of src from its position; count 0 copies all of src from its start.
  std::int64_t CopyFrom(TStream& src, std::int64_t count);
};

class ORV_API TMemoryStream : public TStream {
 public:
  std::string ClassName() const override { return "TMemoryStream"; }

  std::int32_t Read(void* buf, std::int32_t count) override;
  std::int32_t Write(const void* buf, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t newSize) override;

  // The bytes of the stream; valid until the size changes.
  void* Memory() { return FData.data(); }
  const void* Memory() const { return FData.data(); }
  void Clear();
  // Replaces the content with all of stream (from its start) or the file; position 0.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& stream) const;
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<std::uint8_t> FData;
  std::int64_t FPosition = 0;
};

inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
// Sharing modes are accepted and ignored: files are not locked here.
inline constexpr std::uint16_t fmShareCompat = 0x0000;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

// A stream over a file of its own; fmCreate creates or truncates. Read and write errors
// of the system raise EReadError / EWriteError with the system's reason.
class ORV_API TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, std::uint16_t mode);
  // Over a descriptor opened already, which the stream then owns and closes; fileName
  // names the file in errors. For a file created under rules of its own (exclusively, not
  // through a link) and written without opening it by name again.
  TFileStream(int handle, const std::string& fileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::string ClassName() const override { return "TFileStream"; }

  std::int32_t Read(void* buf, std::int32_t count) override;
  std::int32_t Write(const void* buf, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() const override;
  void SetSize(std::int64_t newSize) override;

  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;
  int FHandle = -1;
};

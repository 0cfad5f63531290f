#include "Host/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

std::string SysReason(int err) {
  return std::strerror(err);
}

}  // namespace

std::int64_t TStream::Position() const {
  // Seeking by 0 from the current place changes nothing.
  return const_cast<TStream*>(this)->Seek(0, soFromCurrent);
}

std::int64_t TStream::Size() const {
  auto* self = const_cast<TStream*>(this);
  std::int64_t pos = self->Seek(0, soFromCurrent);
  std::int64_t size = self->Seek(0, soFromEnd);
  self->Seek(pos, soFromBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) {}

void TStream::ReadBuffer(void* buf, std::int32_t count) {
  if (count != 0 && Read(buf, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buf, std::int32_t count) {
  if (count != 0 && Write(buf, count) != count) throw EWriteError("Stream write error");
}

void TStream::WriteAll(const void* buf, std::int64_t count) {
  const auto* p = static_cast<const char*>(buf);
  for (std::int64_t done = 0; done < count;) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, 1 << 30));
    WriteBuffer(p + done, n);
    done += n;
  }
}

std::int64_t TStream::CopyFrom(TStream& src, std::int64_t count) {
  if (count == 0) {
    src.SetPosition(0);
    count = src.Size();
  }
  if (count < 0) throw EReadError("Stream read error");
  constexpr std::int32_t kChunk = 64 * 1024;
  std::vector<char> buf(static_cast<size_t>(std::min<std::int64_t>(count, kChunk)));
  std::int64_t left = count;
  while (left > 0) {
    auto n = static_cast<std::int32_t>(std::min<std::int64_t>(left, kChunk));
    src.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

std::int32_t TMemoryStream::Read(void* buf, std::int32_t count) {
  std::int64_t size = Size();
  if (count <= 0 || FPosition >= size) return 0;
  auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - FPosition));
  std::memcpy(buf, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buf, std::int32_t count) {
  if (count <= 0) return 0;
  if (FPosition > INT64_MAX - count) throw EWriteError("Stream write error");
  std::int64_t end = FPosition + count;
  if (end > Size()) SetSize(end);
  std::memcpy(FData.data() + FPosition, buf, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  switch (origin) {
    case soFromBeginning:
      base = 0;
      break;
    case soFromCurrent:
      base = FPosition;
      break;
    case soFromEnd:
      base = Size();
      break;
    default:
      throw EStreamError("Invalid seek origin " + IntToStr(origin));
  }
  if (offset < -base || offset > INT64_MAX - base) throw EStreamError("Invalid stream position");
  FPosition = base + offset;
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  try {
    FData.resize(static_cast<size_t>(newSize));
  } catch (const std::exception&) {
    throw EStreamError("Out of memory while expanding memory stream");
  }
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::int64_t count = stream.Size();
  SetSize(count);
  FPosition = 0;
  if (count > 0) {
    // In pieces: a stream's single transfer counts only 32 bits.
    std::int64_t done = 0;
    while (done < count) {
      auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, 1 << 30));
      stream.ReadBuffer(FData.data() + done, n);
      done += n;
    }
  }
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& stream) const {
  stream.WriteAll(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) : FFileName(fileName) {
  if (mode == fmCreate) {
    FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError("Cannot create file \"" + fileName + "\": " + SysReason(errno));
    return;
  }
  int flags = O_CLOEXEC;
  switch (mode & 0x0003) {
    case fmOpenWrite:
      flags |= O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
      break;
  }
  FHandle = ::open(fileName.c_str(), flags);
  if (FHandle < 0) throw EFOpenError("Cannot open file \"" + fileName + "\": " + SysReason(errno));
  // A folder opens for reading here, but is no file to stream.
  struct stat st {};
  if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + fileName + "\": " + SysReason(EISDIR));
  }
}

TFileStream::TFileStream(int handle, const std::string& fileName)
    : FFileName(fileName), FHandle(handle) {}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int32_t TFileStream::Read(void* buf, std::int32_t count) {
  std::int32_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < count) {
    ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Cannot read file \"" + FFileName + "\": " + SysReason(errno));
    }
    if (n == 0) break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t TFileStream::Write(const void* buf, std::int32_t count) {
  std::int32_t done = 0;
  const auto* p = static_cast<const char*>(buf);
  while (done < count) {
    ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EWriteError("Cannot write file \"" + FFileName + "\": " + SysReason(errno));
    }
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, int origin) {
  int whence = SEEK_SET;
  switch (origin) {
    case soFromBeginning:
      whence = SEEK_SET;
      break;
    case soFromCurrent:
      whence = SEEK_CUR;
      break;
    case soFromEnd:
      whence = SEEK_END;
      break;
    default:
      throw EStreamError("Invalid seek origin " + IntToStr(origin));
  }
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError("Cannot seek in file \"" + FFileName + "\": " + SysReason(errno));
  return r;
}

std::int64_t TFileStream::Size() const {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0)
    throw EStreamError("Cannot read the size of \"" + FFileName + "\": " + SysReason(errno));
  return st.st_size;
}

void TFileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
    throw EStreamError("Cannot set the size of \"" + FFileName +
                       "\": " + SysReason(newSize < 0 ? EINVAL : errno));
  if (Position() > newSize) Seek(newSize, soFromBeginning);
}

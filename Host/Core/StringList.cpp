#include "Host/StringList.h"

#include "Host/Streams.h"

int TStrings::Add(const std::string& S) {
  const int last = Count();
  Insert(last, S);
  return last;
}

void TStrings::AddStrings(const TStrings& Source) {
  // Count first: Source may be this very list.
  const int n = Source.Count();
  for (int i = 0; i < n; ++i) Add(std::string(Source.Strings(i)));
}

int TStrings::IndexOf(const std::string& S) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Strings(i), S)) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string result;
  for (int i = 0; i < Count(); ++i) {
    result += Strings(i);
    result += "\r\n";
  }
  return result;
}

void TStrings::SetText(const std::string& Value) {
  Clear();
  size_t start = 0;
  const size_t n = Value.size();
  while (start < n) {
    size_t end = Value.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(Value.substr(start));
      break;
    }
    Add(Value.substr(start, end - start));
    start = end + 1;
    if (Value[end] == '\r' && start < n && Value[start] == '\n') ++start;
  }
}

void TStrings::LoadFromStream(TStream& Stream) {
  std::int64_t left = Stream.Size() - Stream.Position();
  std::string bytes;
  if (left > 0) {
    bytes.resize(static_cast<size_t>(left));
    // Whatever the stream really yields: a shorter read keeps what was read.
    size_t done = 0;
    while (done < bytes.size()) {
      auto want = static_cast<std::int32_t>(std::min<size_t>(bytes.size() - done, 1 << 30));
      std::int32_t got = Stream.Read(bytes.data() + done, want);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    bytes.resize(done);
  }
  SetText(bytes);
}

void TStrings::SaveToStream(TStream& Stream) const {
  const std::string bytes = Text();
  Stream.WriteAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead);
  LoadFromStream(file);
}

void TStrings::SaveToFile(const std::string& FileName) const {
  TFileStream file(FileName, fmCreate);
  SaveToStream(file);
}

void TStrings::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TStrings*>(Source)) {
    if (src == this) return;
    Clear();
    AddStrings(*src);
    return;
  }
  TPersistent::Assign(Source);
}

void TStrings::CheckIndex(int Index, bool Inclusive) const {
  if (Index < 0 || Index > Count() || (!Inclusive && Index == Count()))
    throw EStringListError("List index out of bounds (" + IntToStr(Index) + ")");
}

const std::string& TStringList::Strings(int Index) const {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)];
}

std::string& TStringList::operator[](int Index) {
  CheckIndex(Index);
  return FList[static_cast<size_t>(Index)];
}

void TStringList::Insert(int Index, const std::string& S) {
  CheckIndex(Index, true);
  FList.insert(FList.begin() + Index, S);
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  FList.erase(FList.begin() + Index);
}

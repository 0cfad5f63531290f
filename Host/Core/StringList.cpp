#include "Host/StringList.h"

#include "Host/Streams.h"

int TStrings::Add(const std::string& S) {
  const int Last = Count();
  Insert(Last, S);
  return Last;
}

void TStrings::AddStrings(const TStrings& Source) {
  // Count first: Source may be this very list.
  const int N = Source.Count();
  for (int I = 0; I < N; ++I) Add(std::string(Source.Strings(I)));
}

int TStrings::IndexOf(const std::string& S) const {
  for (int I = 0; I < Count(); ++I)
    if (SameText(Strings(I), S)) return I;
  return -1;
}

std::string TStrings::Text() const {
  std::string Result;
  for (int I = 0; I < Count(); ++I) {
    Result += Strings(I);
    Result += "\r\n";
  }
  return Result;
}

void TStrings::SetText(const std::string& Value) {
  Clear();
  size_t Start = 0;
  const size_t N = Value.size();
  while (Start < N) {
    size_t End = Value.find_first_of("\r\n", Start);
    if (End == std::string::npos) {
      Add(Value.substr(Start));
      break;
    }
    Add(Value.substr(Start, End - Start));
    Start = End + 1;
    if (Value[End] == '\r' && Start < N && Value[Start] == '\n') ++Start;
  }
}

void TStrings::LoadFromStream(TStream& Stream) {
  std::int64_t Left = Stream.Size() - Stream.Position();
  std::string Bytes;
  if (Left > 0) {
    Bytes.resize(static_cast<size_t>(Left));
    // Whatever the stream really yields: a shorter read keeps what was read.
    size_t Done = 0;
    while (Done < Bytes.size()) {
      auto Want = static_cast<std::int32_t>(std::min<size_t>(Bytes.size() - Done, 1 << 30));
      std::int32_t Got = Stream.Read(Bytes.data() + Done, Want);
      if (Got <= 0) break;
      Done += static_cast<size_t>(Got);
    }
    Bytes.resize(Done);
  }
  SetText(Bytes);
}

void TStrings::SaveToStream(TStream& Stream) const {
  const std::string Bytes = Text();
  Stream.WriteAll(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream File(FileName, fmOpenRead);
  LoadFromStream(File);
}

void TStrings::SaveToFile(const std::string& FileName) const {
  TFileStream File(FileName, fmCreate);
  SaveToStream(File);
}

void TStrings::Assign(const TPersistent* Source) {
  if (const auto* Src = dynamic_cast<const TStrings*>(Source)) {
    if (Src == this) return;
    Clear();
    AddStrings(*Src);
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

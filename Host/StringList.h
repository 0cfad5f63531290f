// Lists of byte-string lines.
#pragma once

#include <string>
#include <vector>

#include "Host/Component.h"
#include "Platform/Export.h"

class TStream;

// The line-list interface; TStringList holds the lines.
class ORV_API TStrings : public TPersistent {
 public:
  std::string ClassName() const override { return "TStrings"; }

  virtual int Count() const = 0;
  virtual const std::string& Strings(int Index) const = 0;
  virtual std::string& operator[](int Index) = 0;
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;

  int Add(const std::string& S);
  void AddStrings(const TStrings& Source);
  // Compares without regard to ASCII letter case; -1 when absent.
  virtual int IndexOf(const std::string& S) const;
  // Every line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, CR and LF; a final line break ends the last line, it starts no new one.
  void SetText(const std::string& Value);
  // Reads from the stream's position to its end.
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  void Assign(const TPersistent* Source) override;

 protected:
  // Raises EStringListError for an index outside 0..Count()-1 (or Count() when Inclusive).
  void CheckIndex(int Index, bool Inclusive = false) const;
};

class ORV_API EStringListError : public Exception {
 public:
  using Exception::Exception;
};

class ORV_API TStringList : public TStrings {
 public:
  TStringList() = default;
  std::string ClassName() const override { return "TStringList"; }

  int Count() const override { return static_cast<int>(FList.size()); }
  const std::string& Strings(int Index) const override;
  std::string& operator[](int Index) override;
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override { FList.clear(); }

 private:
  std::vector<std::string> FList;
};

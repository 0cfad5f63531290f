#include "Host/Resources.h"

#include <map>
#include <mutex>

#include "Host/SysUtils.h"

namespace {

struct TResourceStore {
  std::mutex Lock;
  std::map<std::string, std::string> Bitmaps;  // by upper-case name
  std::map<std::uint16_t, std::string> Strings;
};

TResourceStore& Store() {
  static TResourceStore store;
  return store;
}

}  // namespace

void AddBitmapResource(const std::string& Name, std::string Bytes) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  s.Bitmaps[UpperCase(Name)] = std::move(Bytes);
}

void RemoveBitmapResource(const std::string& Name) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  s.Bitmaps.erase(UpperCase(Name));
}

bool FindBitmapResource(const std::string& Name, std::string& Bytes) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  auto it = s.Bitmaps.find(UpperCase(Name));
  if (it == s.Bitmaps.end()) return false;
  Bytes = it->second;
  return true;
}

std::vector<std::string> BitmapResourceNames() {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : s.Bitmaps) names.push_back(name);
  return names;
}

void AddStringResources(const TStringTable& Table) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  for (const auto& [id, text] : Table) s.Strings[id] = text;
}

void RemoveStringResources(const TStringTable& Table) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  for (const auto& entry : Table) s.Strings.erase(entry.first);
}

bool FindStringResource(std::uint16_t Ident, std::string& Text) {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  auto it = s.Strings.find(Ident);
  if (it == s.Strings.end()) return false;
  Text = it->second;
  return true;
}

std::vector<std::uint16_t> StringResourceIdents() {
  TResourceStore& s = Store();
  std::lock_guard guard(s.Lock);
  std::vector<std::uint16_t> idents;
  for (const auto& entry : s.Strings) idents.push_back(entry.first);
  return idents;
}

std::string LoadStr(std::uint16_t Ident) {
  std::string text;
  FindStringResource(Ident, text);
  return text;
}

TResourceModule::TResourceModule(std::vector<std::pair<std::string, std::string>> Bitmaps,
                                 TStringTable Strings)
    : FBitmaps(std::move(Bitmaps)), FStrings(std::move(Strings)) {
  for (const auto& [name, bytes] : FBitmaps) AddBitmapResource(name, bytes);
  AddStringResources(FStrings);
}

TResourceModule::~TResourceModule() {
  for (const auto& entry : FBitmaps) RemoveBitmapResource(entry.first);
  RemoveStringResources(FStrings);
}

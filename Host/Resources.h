// The resources a loaded package carries: bitmaps found by name (the palette bitmap of a
// component class is named after the class in capitals) and texts found by identifier.
// A package adds its resources when it is loaded and takes them back when it is unloaded;
// a name or identifier added again replaces the earlier entry rather than doubling it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Export.h"

// Bytes: a BMP file (see Host/Bitmap.h). Names compare without regard to letter case.
ORV_API void AddBitmapResource(const std::string& Name, std::string Bytes);
ORV_API void RemoveBitmapResource(const std::string& Name);
// False when there is no bitmap of that name.
ORV_API bool FindBitmapResource(const std::string& Name, std::string& Bytes);
ORV_API std::vector<std::string> BitmapResourceNames();

// One string table: identifiers and their texts.
using TStringTable = std::vector<std::pair<std::uint16_t, std::string>>;
ORV_API void AddStringResources(const TStringTable& Table);
ORV_API void RemoveStringResources(const TStringTable& Table);
ORV_API bool FindStringResource(std::uint16_t Ident, std::string& Text);
// Every identifier that has a text, in ascending order.
ORV_API std::vector<std::uint16_t> StringResourceIdents();
// The text of Ident; empty when the table has none.
ORV_API std::string LoadStr(std::uint16_t Ident);

// Keeps resources added for as long as it lives: a package holds one per table as a
// static object, so loading adds them and unloading removes them.
class ORV_API TResourceModule {
 public:
  TResourceModule(std::vector<std::pair<std::string, std::string>> Bitmaps, TStringTable Strings);
  ~TResourceModule();
  TResourceModule(const TResourceModule&) = delete;
  TResourceModule& operator=(const TResourceModule&) = delete;

 private:
  std::vector<std::pair<std::string, std::string>> FBitmaps;
  TStringTable FStrings;
};

// Exceptions and the text, number and date conversions of the host framework.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "Platform/Export.h"

// The base of every exception class of the package: a message text and a help context.
class ORV_API Exception : public std::exception {
 public:
  explicit Exception(std::string message, int helpContext = 0);
  ~Exception() override;
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  int HelpContext() const noexcept { return FHelpContext; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
  int FHelpContext;
};

// A text that is not a number or a date that does not exist.
class ORV_API EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// Leading blanks skipped, optional sign, a leading '$' reads hexadecimal; anything else,
// or a value outside 32 bits, raises EConvertError quoting the text.
ORV_API std::int32_t StrToInt(const std::string& s);
// As StrToInt, but answers def instead of raising.
ORV_API std::int32_t StrToIntDef(const std::string& s, std::int32_t def);
ORV_API std::string IntToStr(std::int64_t value);
// Removes leading and trailing characters of code 32 or less.
ORV_API std::string Trim(const std::string& s);
ORV_API std::string TrimLeft(const std::string& s);
ORV_API std::string TrimRight(const std::string& s);
// ASCII letters only; other bytes unchanged.
ORV_API std::string UpperCase(const std::string& s);
ORV_API std::string LowerCase(const std::string& s);
// Equal but for ASCII letter case, as identifiers compare.
ORV_API bool SameText(const std::string& a, const std::string& b);
// A letter or '_', then letters, digits and '_': a name that components and form files take.
ORV_API bool IsValidIdent(const std::string& s);
// printf-style formatting into a byte string (strings are passed as const char*).
ORV_API std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Raises EConvertError for a date that does not exist.
ORV_API TDateTime EncodeDate(int year, int month, int day);
// Raises EConvertError for hours > 23, minutes or seconds > 59, milliseconds > 999.
ORV_API TDateTime EncodeTime(int hour, int min, int sec, int msec);
ORV_API void DecodeDate(TDateTime date, std::uint16_t& year, std::uint16_t& month,
                        std::uint16_t& day);
ORV_API void DecodeTime(TDateTime time, std::uint16_t& hour, std::uint16_t& min, std::uint16_t& sec,
                        std::uint16_t& msec);
// 1 = Sunday ... 7 = Saturday; 0 for NaN, an infinity, or a value too large to count days.
ORV_API int DayOfWeek(TDateTime date);
ORV_API bool IsLeapYear(int year);
// Local date and time now.
ORV_API TDateTime Now();

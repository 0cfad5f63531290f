// The socket component's exception, and the format-with-arguments form it can be built from.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

#include "Host/SysUtils.h"
#include "Platform/Export.h"

// One argument of a format: %d takes a number, %s a text.
using TFmtArg = std::variant<std::int64_t, std::string>;

// Expands %d, %s and %% of Fmt from Args in order. A specifier that does not match its
// argument, a missing argument or an unknown specifier raises EConvertError quoting the
// format, so a faulty format never reads past its arguments.
ORV_API std::string FormatArgs(const std::string& Fmt, std::initializer_list<TFmtArg> Args);

class ORV_API ESocketException : public Exception {
 public:
  explicit ESocketException(const std::string& Msg) : Exception(Msg) {}
  ESocketException(const std::string& Fmt, std::initializer_list<TFmtArg> Args)
      : Exception(FormatArgs(Fmt, Args)) {}
};

#include "WSocket/SocketException.h"

std::string FormatArgs(const std::string& Fmt, std::initializer_list<TFmtArg> Args) {
  std::string out;
  out.reserve(Fmt.size() + 16);
  auto next = Args.begin();
  const auto invalid = [&Fmt]() {
    return EConvertError("Format '" + Fmt + "' invalid or incompatible with argument");
  };
  for (std::size_t i = 0; i < Fmt.size(); ++i) {
    const char c = Fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= Fmt.size()) throw invalid();
    const char spec = Fmt[i];
    if (spec == '%') {
      out += '%';
      continue;
    }
    if (next == Args.end()) throw invalid();
    if (spec == 'd' && std::holds_alternative<std::int64_t>(*next)) {
      out += std::to_string(std::get<std::int64_t>(*next));
    } else if (spec == 's' && std::holds_alternative<std::string>(*next)) {
      out += std::get<std::string>(*next);
    } else {
      throw invalid();
    }
    ++next;
  }
  return out;
}

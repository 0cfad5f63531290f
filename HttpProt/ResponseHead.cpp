#include "HttpProt/ResponseHead.h"

#include "Host/SysUtils.h"

namespace {

std::string Trimmed(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return std::string(Text);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A "content-length" value: optional blanks, then decimal digits only. False for anything
// else, a value too large included.
bool ParseLength(std::string_view Text, std::int64_t& Value) {
  std::size_t i = 0;
  while (i < Text.size() && (Text[i] == ' ' || Text[i] == '\t')) ++i;
  std::size_t end = Text.size();
  while (end > i && (Text[end - 1] == ' ' || Text[end - 1] == '\t')) --end;
  if (i == end || end - i > 18) return false;  // 19 digits may exceed INT64_MAX
  std::int64_t v = 0;
  for (; i < end; ++i) {
    if (!IsDigit(Text[i])) return false;
    v = v * 10 + (Text[i] - '0');
  }
  Value = v;
  return true;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Text equals Lower (all lower case) letter by letter, whatever the case of Text: header
// names and markers are compared where they are, every line of every reply.
bool EqualsNoCase(std::string_view Text, std::string_view Lower) {
  if (Text.size() != Lower.size()) return false;
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (AsciiLower(Text[i]) != Lower[i]) return false;
  return true;
}

// A "transfer-encoding" list: chunks are decoded, identity changes nothing, and the first
// of anything else is kept to refuse the body with.
void TakeCodings(THttpResponseHead& Head, std::string_view Value) {
  const std::string codings = LowerCase(std::string(Value));
  for (std::size_t at = 0; at <= codings.size();) {
    std::size_t comma = codings.find(',', at);
    if (comma == std::string::npos) comma = codings.size();
    std::size_t from = at, to = comma;
    while (from < to && (codings[from] == ' ' || codings[from] == '\t')) ++from;
    while (to > from && (codings[to - 1] == ' ' || codings[to - 1] == '\t')) --to;
    const std::string_view coding = std::string_view(codings).substr(from, to - from);
    if (coding == "chunked")
      Head.Chunked = true;
    else if (!coding.empty() && coding != "identity" && Head.UnknownCoding.empty())
      Head.UnknownCoding = coding;
    at = comma + 1;
  }
}

THeadLine ParseStatusLine(std::string_view Line) {
  if (Line.size() < 12 || !IsDigit(Line[9]) || !IsDigit(Line[10]) || !IsDigit(Line[11]))
    return {THeadLine::Malformed, 0, "malformed status line"};
  const std::int32_t code = (Line[9] - '0') * 100 + (Line[10] - '0') * 10 + (Line[11] - '0');
  return {THeadLine::Status, code, Line.size() > 13 ? Line.substr(13) : std::string_view()};
}

THeadLine ParseField(THttpResponseHead& Head, std::string_view Line, std::size_t Colon,
                     const THttpTarget& From, bool ViaProxy) {
  const std::string_view name = Line.substr(0, Colon);
  // Exactly one character after the colon is skipped, normally the blank.
  const std::string_view value =
      Colon + 2 <= Line.size() ? Line.substr(Colon + 2) : std::string_view();
  if (EqualsNoCase(name, "location")) {
    Head.LocationSeen = true;
    Head.Location = RelocationTarget(From, std::string(value), ViaProxy);
  } else if (EqualsNoCase(name, "content-length")) {
    if (!ParseLength(value, Head.ContentLength))
      return {THeadLine::Malformed, 0, "malformed content-length"};
  } else if (EqualsNoCase(name, "content-type")) {
    Head.ContentType.assign(value);
    for (char& c : Head.ContentType) c = AsciiLower(c);
  } else if (EqualsNoCase(name, "last-modified")) {
    Head.LastModified = Trimmed(value);
  } else if (EqualsNoCase(name, "etag")) {
    Head.ETag = Trimmed(value);
  } else if (EqualsNoCase(name, "content-range")) {
    // Two ranges in one answer leave no telling which the bytes are.
    Head.ContentRange = Head.ContentRangeSeen ? THttpContentRange() : ParseContentRange(value);
    Head.ContentRangeSeen = true;
  } else if (EqualsNoCase(name, "www-authenticate")) {
    return {THeadLine::Challenge, 0, value};
  } else if (EqualsNoCase(name, "transfer-encoding")) {
    TakeCodings(Head, value);
  }
  return {};
}

}  // namespace

THeadLine ParseHeadLine(THttpResponseHead& Head, std::string_view Line, const THttpTarget& From,
                        bool ViaProxy) {
  if (Line.starts_with("HTTP/1.0") || Line.starts_with("HTTP/1.1")) return ParseStatusLine(Line);
  if (const std::size_t colon = Line.find(':'); colon != std::string_view::npos)
    return ParseField(Head, Line, colon, From, ViaProxy);
  return {};
}

bool StartsHeaderless(std::string_view Line) {
  return EqualsNoCase(Line.substr(0, 6), "<html>");
}

TRelocationVerdict JudgeRelocation(const THttpTarget& From, const THttpTarget& To,
                                   std::int32_t Count, std::int32_t Max, bool AllowDowngrade) {
  if (!To.Refusal.empty()) return TRelocationVerdict::BadTarget;
  // What was asked for over TLS would come over the open network.
  if (From.Tls && !To.Tls && !AllowDowngrade) return TRelocationVerdict::Downgrade;
  if (Count >= Max) return TRelocationVerdict::TooMany;
  return TRelocationVerdict::Follow;
}

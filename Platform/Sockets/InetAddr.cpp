// Dotted-address text conversions.
#include <cctype>
#include <cstdio>

#include "Platform/Winsock.h"

namespace plat {

namespace {

// One part of an address: hexadecimal after 0x, octal after a leading 0, else decimal.
// Advances p; false on no digits, a bad digit or overflow past 32 bits.
bool ParsePart(const char*& p, std::uint64_t* out) {
  std::uint64_t v = 0;
  int base = 10;
  if (*p == '0') {
    base = 8;
    ++p;
    if (*p == 'x' || *p == 'X') {
      base = 16;
      ++p;
      if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
    } else {
      *out = 0;  // a lone 0 is a complete octal number
    }
  } else if (!std::isdigit(static_cast<unsigned char>(*p))) {
    return false;
  }
  for (;; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    int d;
    if (std::isdigit(c)) {
      d = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      d = std::tolower(c) - 'a' + 10;
    } else {
      break;
    }
    if (d >= base) return false;
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > 0xFFFFFFFFu) return false;
  }
  *out = v;
  return true;
}

}  // namespace

std::uint32_t inet_addr(const char* cp) {
  if (cp == nullptr) return INADDR_NONE;
  std::uint64_t parts[4];
  int n = 0;
  const char* p = cp;
  for (;;) {
    if (n == 4 || !ParsePart(p, &parts[n])) return INADDR_NONE;
    ++n;
    if (*p != '.') break;
    ++p;
  }
  // The text may end with white space, after which anything goes.
  if (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) return INADDR_NONE;
  std::uint64_t v;
  switch (n) {
    case 1:  // a: 32 bits
      v = parts[0];
      break;
    case 2:  // a.b: 8 + 24 bits
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return INADDR_NONE;
      v = parts[0] << 24 | parts[1];
      break;
    case 3:  // a.b.c: 8 + 8 + 16 bits
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return INADDR_NONE;
      v = parts[0] << 24 | parts[1] << 16 | parts[2];
      break;
    default:
      for (int i = 0; i < 4; ++i) {
        if (parts[i] > 0xFF) return INADDR_NONE;
      }
      v = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
      break;
  }
  return htonl(static_cast<std::uint32_t>(v));
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  const auto* b = reinterpret_cast<const unsigned char*>(&in.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

}  // namespace plat

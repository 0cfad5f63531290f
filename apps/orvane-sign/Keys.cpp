#include "Keys.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Orvane/SignedFacts.h"
#include "ToolArgs.h"

namespace {

constexpr const char* kPrivateMark = "orvane-sign private key";

// Writes Text into a new file; false with Error when it exists or cannot be written.
bool WriteNewFile(const std::string& Path, const std::string& Text, mode_t Mode,
                  std::string& Error) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
  if (fd < 0) {
    Error = Path + ": " + (errno == EEXIST ? "exists; not overwritten" : std::strerror(errno));
    return false;
  }
  const bool written = ::write(fd, Text.data(), Text.size()) == static_cast<ssize_t>(Text.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(Path.c_str());
    Error = Path + ": cannot write the key";
    return false;
  }
  return true;
}

}  // namespace

int KeyGen(const std::string& KeyFile) {
  const TEd25519Keys keys = Ed25519GenerateKeys();
  std::string error;
  // Never over an existing file: it may hold the key every published page rests on.
  if (!WriteNewFile(KeyFile, std::string(kPrivateMark) + "\n" + keys.PrivateKey + "\n", 0600,
                    error))
    return Fail(kFailure, error);
  if (!WriteNewFile(KeyFile + ".pub", keys.PublicKey + "\n", 0644, error)) {
    ::unlink(KeyFile.c_str());
    return Fail(kFailure, error);
  }
  std::printf("%s\n", keys.PublicKey.c_str());
  return kOk;
}

bool ReadPrivateKey(const std::string& Path, std::string& Key, std::string& Error) {
  std::string text;
  if (!ReadKeyFile(Path, text, Error)) return false;
  const std::string mark = std::string(kPrivateMark) + "\n";
  std::vector<std::string> keys;
  std::string ignored;
  if (text.compare(0, mark.size(), mark) != 0) {
    Error = ParsePublicKeys(text, keys, ignored)
                ? Path + " holds a public key, or a private key without its first line \"" +
                      kPrivateMark + "\": signing needs the private key file keygen wrote"
                : Path + " is not a private key file written by orvane-sign keygen";
    return false;
  }
  Key = text.substr(mark.size());
  while (!Key.empty() && (Key.back() == '\n' || Key.back() == '\r')) Key.pop_back();
  try {
    Ed25519PublicKeyOf(Key);
  } catch (const ESignatureError& e) {
    Error = Path + ": " + e.Message();
    return false;
  }
  return true;
}

int PrintPublicKey(const std::string& KeyFile) {
  std::string key, error;
  if (!ReadPrivateKey(KeyFile, key, error)) return Fail(kFailure, error);
  std::printf("%s\n", Ed25519PublicKeyOf(key).c_str());
  return kOk;
}

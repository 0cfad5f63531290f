// Key files. A private key file holds the line "orvane-sign private key" and then the key
// (its 32-byte seed in Base64), so that a public key file, one bare line of Base64 that
// looks just like a seed, is never taken for it; KEYFILE.pub holds the public key.
#pragma once

#include <string>

// Writes a new KEYFILE (mode 0600) and KEYFILE.pub, never over an existing file, and
// prints the public key.
int KeyGen(const std::string& KeyFile);
// Prints the public key of KEYFILE.
int PrintPublicKey(const std::string& KeyFile);
// The private key of a key file; false with Error (a public key file is refused).
bool ReadPrivateKey(const std::string& Path, std::string& Key, std::string& Error);

// SHA-256 and Ed25519 against the published vectors (FIPS 180-4's examples, RFC 8032's
// tests), the strict Base64 of keys and signatures, the exact bytes of a signed text, and
// the trust rules a signed page is held to.
#include "Orvane/Signature.h"

#include <gtest/gtest.h>

#include <string>

#include "Orvane/PageEntries.h"
#include "Orvane/SignedFacts.h"

namespace {

std::string Unhex(const std::string& Hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < Hex.size(); i += 2)
    out += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string B64(const std::string& Hex) {
  return EncodeBase64(Unhex(Hex));
}

TEST(Sha256, FipsExamplesInAnyPieces) {
  EXPECT_EQ(TSha256::HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(TSha256::HexOf("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(TSha256::HexOf(two),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A million times "a", fed in pieces of uneven sizes, then the object used again.
  TSha256 sha;
  std::size_t fed = 0;
  for (std::size_t piece = 1; fed < 1000000; piece = piece * 7 % 4093 + 1) {
    const std::size_t n = std::min(piece, 1000000 - fed);
    sha.Update(std::string(n, 'a'));
    fed += n;
  }
  EXPECT_EQ(sha.FinalHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  sha.Update("abc");
  EXPECT_EQ(sha.FinalHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Ed25519, Rfc8032TestVectors) {
  struct Vector {
    const char* Secret;
    const char* Public;
    const char* Message;
    const char* Signature;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
      {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
       "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
       "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.Public);
    const std::string message = Unhex(v.Message);
    EXPECT_EQ(Ed25519PublicKeyOf(B64(v.Secret)), B64(v.Public));
    EXPECT_EQ(Ed25519Sign(B64(v.Secret), message), B64(v.Signature));
    EXPECT_TRUE(Ed25519Verify(B64(v.Public), message, B64(v.Signature)));
    // One bit off anywhere, and the signature is worthless.
    EXPECT_FALSE(Ed25519Verify(B64(v.Public), message + "x", B64(v.Signature)));
    std::string bent = Unhex(v.Signature);
    bent[40] = static_cast<char>(bent[40] ^ 1);
    EXPECT_FALSE(Ed25519Verify(B64(v.Public), message, EncodeBase64(bent)));
  }
  // Another key's signature does not pass.
  EXPECT_FALSE(
      Ed25519Verify(B64(vectors[1].Public), Unhex(vectors[2].Message), B64(vectors[2].Signature)));
}

TEST(Ed25519, NewKeysSignAndMalformedInputIsRefused) {
  const TEd25519Keys keys = Ed25519GenerateKeys();
  const TEd25519Keys others = Ed25519GenerateKeys();
  EXPECT_NE(keys.PrivateKey, others.PrivateKey);
  EXPECT_EQ(keys.PublicKey.size(), 44u);
  EXPECT_EQ(Ed25519PublicKeyOf(keys.PrivateKey), keys.PublicKey);
  const std::string sig = Ed25519Sign(keys.PrivateKey, "update");
  EXPECT_TRUE(Ed25519Verify(keys.PublicKey, "update", sig));
  EXPECT_FALSE(Ed25519Verify(others.PublicKey, "update", sig));
  // Malformed keys and signatures are no signatures, never an error or a pass.
  for (const std::string& bad : {std::string(""), std::string("AAAA"), keys.PublicKey + "\n",
                                 " " + keys.PublicKey, keys.PublicKey.substr(0, 43) + "#"})
    EXPECT_FALSE(Ed25519Verify(bad, "update", sig)) << bad;
  EXPECT_FALSE(Ed25519Verify(keys.PublicKey, "update", sig.substr(0, 84)));
  EXPECT_FALSE(Ed25519Verify(keys.PublicKey, "update", sig + "===="));
  EXPECT_THROW(Ed25519Sign("short", "update"), ESignatureError);
  EXPECT_THROW(Ed25519PublicKeyOf(EncodeBase64(std::string(31, 'k'))), ESignatureError);
}

TEST(Base64, StrictOneTextPerValue) {
  std::string bytes;
  ASSERT_TRUE(DecodeBase64("aGVsbG8=", bytes));
  EXPECT_EQ(bytes, "hello");
  ASSERT_TRUE(DecodeBase64("", bytes));
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(EncodeBase64("hello"), "aGVsbG8=");
  // Padding in the middle, bits left over, missing padding, foreign characters.
  for (const char* bad :
       {"aGVs=G8=", "aGVsbG9=", "aGVsbG8", "aGVs bG8=", "aGVsbG8=\n", "a===", "aGVsbG8-"})
    EXPECT_FALSE(DecodeBase64(bad, bytes)) << bad;
}

TEST(SignedText, ExactBytesAndRefusals) {
  TSignedFacts f;
  f.Product = "Sample Editor";
  f.Version = "1.2.0.7";
  f.Date = "Mar 5, 1998";
  f.Author = "Sample Soft";
  f.URL = "https://server/files/setup.exe";
  f.Size = 1048576;
  f.SHA256 = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  f.Expires = "2027-01-31";
  f.RunParams = "/silent";
  f.ReadMe = {"https://server/readme.txt", 12, std::string(64, 'A')};
  EXPECT_EQ(SignedText(f),
            "orvane-signed-update-2\n"
            "Product: Sample Editor\n"
            "Version: 1.2.0.7\n"
            "Date: Mar 5, 1998\n"
            "Author: Sample Soft\n"
            "URL: https://server/files/setup.exe\n"
            "Size: 1048576\n"
            "SHA256: ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
            "Expires: 2027-01-31\n"
            "Params: /silent\n"
            "Redirect: \n"
            "ReadMe: https://server/readme.txt\n"
            "ReadMeSize: 12\n"
            "ReadMeSHA256: " +
                std::string(64, 'a') +
                "\n"
                "ReadMeExt: \n"
                "ReadMeExtSize: \n"
                "ReadMeExtSHA256: \n");
  // The first form, kept only to recognise a page signed in it.
  EXPECT_EQ(SignedTextV1(f),
            "orvane-signed-update-1\n"
            "Product: Sample Editor\n"
            "Version: 1.2.0.7\n"
            "Date: Mar 5, 1998\n"
            "URL: https://server/files/setup.exe\n"
            "Size: 1048576\n"
            "SHA256: ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n"
            "Expires: 2027-01-31\n");

  auto refused = [&](auto change) {
    TSignedFacts g = f;
    change(g);
    EXPECT_THROW(SignedText(g), ESignatureError);
  };
  // A line break in a value would let it write a line of its own.
  refused([](TSignedFacts& g) { g.Version = "1.2\nSize: 1"; });
  refused([](TSignedFacts& g) { g.URL += "\r"; });
  refused([](TSignedFacts& g) { g.Author += "\nParams: --from-attacker"; });
  refused([](TSignedFacts& g) { g.RunParams += "\x7f"; });
  refused([](TSignedFacts& g) { g.ReadMeExt.URL = "https://server/\tnotes.html"; });
  refused([](TSignedFacts& g) { g.Product.clear(); });
  refused([](TSignedFacts& g) { g.URL.clear(); });
  refused([](TSignedFacts& g) { g.SHA256.pop_back(); });
  refused([](TSignedFacts& g) { g.SHA256[0] = 'g'; });
  refused([](TSignedFacts& g) { g.ReadMe.SHA256.clear(); });
  refused([](TSignedFacts& g) { g.Expires = "31.01.2027"; });
  refused([](TSignedFacts& g) { g.Expires = "2027-13-01"; });
  refused([](TSignedFacts& g) { g.Expires = "2027-02-31"; });
  EXPECT_TRUE(IsCalendarDate("2028-02-29"));
  EXPECT_FALSE(IsCalendarDate("2100-02-29"));
  EXPECT_TRUE(IsCalendarDate("2000-02-29"));
  EXPECT_FALSE(IsCalendarDate("2027-04-31"));
}

TEST(SignedFacts, EveryEntrySignedByAnyKeyForTheProductUntilItsLastDay) {
  const TEd25519Keys oldKey = Ed25519GenerateKeys();
  const TEd25519Keys newKey = Ed25519GenerateKeys();
  TSignedFacts f;
  f.Product = "Sample Editor";
  f.Version = "1.1";
  f.Author = "Sample Soft";
  f.URL = "http://server/setup.exe";
  f.Size = 3;
  f.SHA256 = TSha256::HexOf("abc");
  f.Expires = TodayUtc();  // the last day: still valid
  f.RunParams = "/silent";
  f.ReadMe = {"http://server/readme.txt", 5, TSha256::HexOf("hello")};
  // The page as orvane-sign writes it, the hash in upper case as some tools write it.
  const auto page = [](const TSignedFacts& F, const std::string& Signature) {
    std::string upper = F.SHA256;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return PageFactsOf({{"Product", F.Product},
                        {"Version", F.Version},
                        {"Author", F.Author},
                        {"Download", F.URL},
                        {"Size", std::to_string(F.Size)},
                        {"SHA256", upper},
                        {"Expires", F.Expires},
                        {"Params", F.RunParams},
                        {"ReadMe", F.ReadMe.URL},
                        {"ReadMeSize", std::to_string(F.ReadMe.Size)},
                        {"ReadMeSHA256", F.ReadMe.SHA256},
                        {"Signature", Signature}});
  };
  const TPageFacts good = page(f, Ed25519Sign(newKey.PrivateKey, SignedText(f)));
  TTrustRules rules;
  // Rotation: the new key beside the old one.
  rules.Keys = {oldKey.PublicKey, newKey.PublicKey};
  rules.ExpectedProduct = "Sample Editor";
  TTrustVerdict v = VerifySignedFacts(good, rules);
  EXPECT_EQ(v.Refusal, "");
  EXPECT_TRUE(v.Verified);
  EXPECT_EQ(v.Update.URL, f.URL);
  EXPECT_EQ(v.Update.SHA256, f.SHA256);  // lower case, whatever the page wrote
  EXPECT_EQ(v.ReadMe.URL, f.ReadMe.URL);
  EXPECT_EQ(v.ReadMe.Size, 5u);
  EXPECT_TRUE(v.ReadMeExt.URL.empty());

  const auto refusal = [&](const TPageFacts& P, const TTrustRules& R) {
    const TTrustVerdict r = VerifySignedFacts(P, R);
    EXPECT_TRUE(r.Update.URL.empty() && r.ReadMe.URL.empty());
    return r.Refusal;
  };
  // Every entry the check acts on or shows is covered: run parameters, author, read-me.
  for (auto change : {&TPageFacts::RunParams, &TPageFacts::Author, &TPageFacts::ReadMe,
                      &TPageFacts::ReadMeSize}) {
    TPageFacts forged = good;
    forged.*change = "1" + forged.*change;
    EXPECT_NE(refusal(forged, rules).find("signature does not match"), std::string::npos);
  }
  // A read-me added to a signed page has no signed size and hash, or a wrong signature.
  TPageFacts added = good;
  added.ReadMeExt = "http://attacker/notes.html";
  EXPECT_EQ(refusal(added, rules),
            "The ReadMeExtSize entry is missing: the file's size in bytes must come with its hash");
  TTrustRules oldOnly = rules;
  oldOnly.Keys = {oldKey.PublicKey};
  EXPECT_NE(refusal(good, oldOnly).find("signature does not match"), std::string::npos);
  // The first form would leave the parameters open: refused with what to do about it.
  EXPECT_NE(refusal(page(f, Ed25519Sign(newKey.PrivateKey, SignedTextV1(f))), rules)
                .find("re-sign it with the current orvane-sign"),
            std::string::npos);
  // Another product signed with the same key.
  TSignedFacts other = f;
  other.Product = "Other Product";
  EXPECT_EQ(refusal(page(other, Ed25519Sign(newKey.PrivateKey, SignedText(other))), rules),
            "The signed page is for the product \"Other Product\", not for \"Sample Editor\" "
            "(ExpectedProduct)");
  // Yesterday's page has expired; a page without an expiry only when allowed.
  TSignedFacts stale = f;
  stale.Expires = UtcDateInDays(-1);
  EXPECT_EQ(refusal(page(stale, Ed25519Sign(newKey.PrivateKey, SignedText(stale))), rules),
            "The signed page expired on " + stale.Expires);
  TSignedFacts forever = f;
  forever.Expires.clear();
  const TPageFacts unexpiring = page(forever, Ed25519Sign(newKey.PrivateKey, SignedText(forever)));
  EXPECT_NE(refusal(unexpiring, rules).find("AllowUnexpiringPages"), std::string::npos);
  rules.AllowUnexpiring = true;
  EXPECT_EQ(VerifySignedFacts(unexpiring, rules).Refusal, "");
  // Without a key the read-me's entries prove nothing and hold nothing.
  v = VerifySignedFacts(good, TTrustRules{});
  EXPECT_FALSE(v.Verified);
  EXPECT_EQ(v.Update.Size, 3u);
  EXPECT_TRUE(v.ReadMe.URL.empty());
  // Byte counts: 18 digits at most, no sign, no leading zero.
  std::uint64_t n = 0;
  EXPECT_TRUE(ReadByteCount("999999999999999999", n));
  EXPECT_FALSE(ReadByteCount("1000000000000000000", n));
  EXPECT_FALSE(ReadByteCount("012", n));
  EXPECT_FALSE(ReadByteCount("+12", n));
}

TEST(SignedFacts, PublicKeysOneALine) {
  const std::string a = Ed25519GenerateKeys().PublicKey, b = Ed25519GenerateKeys().PublicKey;
  std::vector<std::string> keys;
  std::string error;
  ASSERT_TRUE(ParsePublicKeys(a + "\r\n\n" + b + " \n", keys, error)) << error;
  EXPECT_EQ(keys, (std::vector<std::string>{a, b}));
  EXPECT_FALSE(ParsePublicKeys(a + "\nbm90IGEga2V5\n", keys, error));
  EXPECT_EQ(error.find("line 2 is not an Ed25519 public key"), 0u) << error;
  EXPECT_FALSE(ParsePublicKeys("\n\n", keys, error));
}

}  // namespace

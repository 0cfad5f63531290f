// What the embedded demo server offers: a signed information page announcing "Orvane
// Demo" 1.1, its read-me and a harmless update file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct TDemoFile {
  std::string Path;  // as requested, starting with "/"
  std::string ContentType;
  std::string Body;
};

// The product the demo page is for, which the demo check expects.
inline constexpr const char* DemoProduct = "Orvane Demo";
inline constexpr const char* DemoPagePath = "/orvane-demo.htm";
inline constexpr const char* DemoReadMePath = "/readme.txt";
inline constexpr const char* DemoUpdatePath = "/orvane-demo-1.1.sh";
// The version the demo page offers, and the one a user of the demo is supposed to run.
inline constexpr const char* DemoOfferedVersion = "1.1";
inline constexpr const char* DemoCurrentVersion = "1.0";

// The files, their addresses made absolute with BaseURL ("http://127.0.0.1:8080"), since
// the page's entries are used as they stand. The page is also served for "/". It is
// signed with PrivateKey (an Ed25519 key in Base64) and valid for DemoPageValidDays from
// today, as a publisher's page would be.
std::vector<TDemoFile> DemoFiles(const std::string& BaseURL, const std::string& PrivateKey);
// The size of the update file the demo serves, in bytes.
std::size_t DemoUpdateSize();
inline constexpr int DemoPageValidDays = 30;

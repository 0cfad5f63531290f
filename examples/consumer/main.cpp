// A program built against an installed OrvanePack: it fetches an information page with
// the HTTP client, lets TOrvane read it, and says whether the page offers an update.
//
//   orvane-consumer URL CURRENT-VERSION
// Prints the product and version the page offers and "update available" or "up to date";
// exits 0 on either answer, 1 when the page cannot be read.
#include <cstdio>
#include <exception>
#include <string>

#include "Host/Streams.h"
#include "Host/StringList.h"
#include "HttpProt/HttpProt.h"
#include "Orvane/Orvane.h"
#include "OrvanePack/Package.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: orvane-consumer URL CURRENT-VERSION\n");
    return 2;
  }
  try {
    TOrvane orvane(nullptr);
    orvane.SetURL(argv[1]);
    orvane.SetCurrentVersion(argv[2]);
    orvane.InfoTags()->SetProductNameTag("Product");
    orvane.InfoTags()->SetVersionTag("Version");
    orvane.InfoTags()->SetDownloadTag("Download");
    if (orvane.HomeURL() != argv[1]) {
      std::fprintf(stderr, "not an http:// address: %s\n", argv[1]);
      return 1;
    }

    TMemoryStream page;
    THttpCli http(nullptr);
    http.SetURL(orvane.HomeURL());
    http.SetRcvdStream(&page);
    http.Get();
    page.SetPosition(0);
    TStringList lines;
    lines.LoadFromStream(page);
    orvane.ParseDocument(lines);

    std::printf("OrvanePack %s\n", OrvanePackVersion());
    std::printf("%s %s at %s\n", orvane.ProductName().c_str(), orvane.ProductVersion().c_str(),
                orvane.DownloadURL().c_str());
    std::printf("%s\n", orvane.IsUpdateAvailable() ? "update available" : "up to date");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

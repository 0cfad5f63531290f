// An application's update check, built against an installed OrvanePack: the smallest
// complete embedding of TOrvane.
//
//   orvane-consumer PAGE-URL CURRENT-VERSION [PUBLIC-KEY]
//
// Reads the information page, says what it offers, and when it is newer downloads the
// update into the current folder, checked against the page's signed size and SHA-256. It
// neither starts the update nor closes itself: the application decides what comes next.
// Exit status: 0 an update was saved, 1 none was offered (or it was declined), 2 failure.
#include <cstdio>
#include <exception>
#include <string>

#include "Host/Application.h"
#include "Host/TerminalBackend.h"
#include "Orvane/Orvane.h"
#include "OrvanePack/Package.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: orvane-consumer PAGE-URL CURRENT-VERSION [PUBLIC-KEY]\n");
    return 2;
  }
  try {
    // 1. Where the component meets the user: questions, please-wait and progress on the
    //    terminal. A desktop application calls UseBestBackend() (Host/BackendChoice.h)
    //    once at start instead, which opens windows where a display is available. Without
    //    a terminal (a script, a test) every question takes the answer in brackets.
    TTerminalBackend backend;
    TUIBackendScope scope(backend);
    Application->SetTitle("Sample Editor");

    TOrvane orvane(nullptr);
    orvane.SetURL(argv[1]);
    orvane.SetCurrentVersion(argv[2]);
    if (orvane.HomeURL() != argv[1]) {
      std::fprintf(stderr, "not an http:// or https:// address: %s\n", argv[1]);
      return 2;
    }

    // 2. Which entries of the page say what: the tags are empty until the application
    //    names them, since the page is the publisher's own format.
    TOrvTags& tags = *orvane.InfoTags();
    tags.SetProductNameTag("Product");
    tags.SetVersionTag("Version");
    tags.SetDateTag("Date");
    tags.SetDownloadTag("Download");
    tags.SetReadMeTag("ReadMe");
    tags.SetSizeTag("Size");
    tags.SetSHA256Tag("SHA256");
    tags.SetExpiresTag("Expires");
    tags.SetSignatureTag("Signature");

    // 3. The publisher's key (as `orvane-sign keygen` printed it): with it, only a page
    //    the publisher signed is believed, and only its file is saved.
    if (argc == 4) orvane.SetPublicKey(argv[3]);

    // 4. Show the check and offer the read-me, but neither start the update
    //    (orvoRunUpdate) nor close the application (orvoExitDuringUpdate).
    orvane.SetOptions({orvoDisplayUI, orvoDisplayReadMe});

    std::printf("OrvanePack %s\n", OrvanePackVersion());
    const bool saved = orvane.CheckForUpdate();
    if (!orvane.Active()) {
      std::fprintf(stderr, "could not check: %s\n", orvane.LastError().c_str());
      return 2;
    }
    std::printf("%s %s at %s\n", orvane.ProductName().c_str(), orvane.ProductVersion().c_str(),
                orvane.DownloadURL().c_str());
    if (saved) {
      std::printf("update available; saved as %s%s\n", orvane.LocalFileName().c_str(),
                  orvane.SignatureVerified() ? " (signature verified)" : "");
      return 0;
    }
    if (!orvane.IsUpdateAvailable()) {
      std::printf("up to date\n");
      return 1;
    }
    if (!orvane.LastError().empty()) {
      std::fprintf(stderr, "update available, not saved: %s\n", orvane.LastError().c_str());
      return 2;
    }
    std::printf("update available, declined\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}

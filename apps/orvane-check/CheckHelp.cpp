#include "CheckHelp.h"

const char* const CheckDescription =
    "Checks the information page at HOME-URL for a newer version, asks whether to download "
    "it, saves it where you say with a progress line, and offers to start it. Without "
    "HOME-URL the check runs against a demo server built into the program, which offers "
    "\"Orvane Demo\" 1.1 against a current version of 1.0, on a page signed with a key made "
    "at its start; the demo check is given that key. With --serve-demo (and --port N, "
    "--demo-rate BYTES) only the demo server runs.\n\n"
    "The information page carries its data in lines of the form <META HTTP-EQUIV=\"Version\" "
    "CONTENT=\"1.1\">, one entry a line; the entry names are set with --tag.";

std::vector<cli::TSection> CheckSections() {
  return {
      {"Keys",
       "Enter takes the default answer shown in brackets; Escape or Ctrl-C cancels the "
       "download while its progress line runs. When standard input is not a terminal, every "
       "question takes its default answer, the update is saved but not started (unless "
       "--run-unattended and its signature was verified), and an external read-me is neither "
       "fetched nor opened; so with --yes. SIGINT, SIGTERM and SIGHUP cancel the check like "
       "Ctrl-C.",
       {}},
      {"Signed pages",
       "A page may give the update file's size (Size), its SHA-256 (SHA256), the last day it "
       "is valid (Expires, YYYY-MM-DD), each read-me's size and SHA-256 (ReadMeSize, "
       "ReadMeSHA256, ReadMeExtSize, ReadMeExtSHA256) and an Ed25519 signature over every "
       "entry (Signature); orvane-sign writes these entries. With --public-key the signature "
       "must be valid over all of them, the page must give an expiry that has not passed, a "
       "read-me is shown only when it has its signed size and SHA-256, and an older or equal "
       "version is never downloaded. A page with Size and SHA256 but checked without a key "
       "still has its file checked, which catches corruption but not an attacker. A download "
       "that passes the size is stopped, and a file whose SHA-256 differs is deleted: nothing "
       "is saved, nothing started.",
       {}},
      {"What a page may not do",
       "Name anything but an http:// or https:// address with a host, propose a file name "
       "that is empty, \".\", \"..\", hidden (starts with \".\"), holds a control character "
       "or a backslash, or is longer than 255 bytes, or be larger than 1 MiB. Such a page is "
       "refused with exit status 2. Texts from the server are printed with control "
       "characters shown as escapes (\\x1b).",
       {}},
      {"Exit status",
       "",
       {{"0", "an update was downloaded"},
        {"1", "there is none, you declined, or the check was cancelled (or not due)"},
        {"2", "failure or a command line that does not fit (the reason on standard error)"}}},
  };
}

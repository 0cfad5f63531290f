// orvane-sign verify: a published page checked by the update check's own rules, and
// each file it signs fetched and checked without being saved.
#pragma once

int Verify(int argc, char** argv);

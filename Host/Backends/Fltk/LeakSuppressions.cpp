// The font and display caches of the system's libraries live until the process ends and
// are theirs to keep; the display connection itself stays open to the end on purpose.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libXft.so\nleak:libX11.so\n";
}
#endif

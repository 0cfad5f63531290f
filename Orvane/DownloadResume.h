// What a download that may be cut short knows of its file, so that a new request asks only
// for the bytes still missing and takes them only when they belong to the same file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class THttpCli;

class TDownloadResume {
 public:
  // What an answer's header means for the bytes on the disk.
  enum TAnswer {
    raNone,      // no answer (yet) to this request
    raContinue,  // the missing bytes, to be written after those on the disk
    raRestart,   // the whole file from its first byte: the disk is emptied first
    raRefused,   // bytes of some other file, or a range other than the one asked for
    raOther      // no file at all (an error, a relocation)
  };

  // Size: the size the page gives for the file (hashed then, Checked), or -1 for one that
  // the first answer announces.
  TDownloadResume(std::int64_t Size, bool Checked) : FSize(Size), FChecked(Checked) {}

  // The lines asking for the file when Have bytes of it are on the disk: none at first; the
  // rest with the validator of the first answer, or, for a file nothing checks and no
  // validator vouches for, none (the whole file again).
  std::vector<std::string> RequestLines(std::int64_t Have) const;
  // Judges the answer whose header Cli has just read to a request of RequestLines(Have);
  // Why says what is wrong with a refused one. A relocation is raOther until the answer
  // it leads to is judged in turn.
  TAnswer Judge(const THttpCli& Cli, std::int64_t Have, std::string& Why);

  // The file's size is known from the page or from an answer that was taken: a request cut
  // short can ask for the rest.
  bool Resumable() const { return FSize >= 0 && FTaken; }
  std::int64_t Size() const { return FSize; }

 private:
  bool AsksRange(std::int64_t Have) const { return Have > 0 && (FChecked || !FValidator.empty()); }

  std::int64_t FSize;
  bool FChecked;
  bool FTaken = false;
  // The first taken answer's strong ETag, or else its Last-Modified; empty for none usable.
  std::string FValidator;
};

// WarcWriter: a WARC file and its CDXJ index, written by a process of their
// own so that the file holds whole records only, however the run ends.
//
// Open creates the file and starts the writer: a child process, forked while
// the caller has no other thread, that takes record groups through a pipe
// and appends each group to the file only once all of it has come. A run
// that ends at any moment (Ctrl-C, kill -9 of the crawler, a crash) closes
// the pipe; the writer drops the group it was taking, finishes the file and
// the index and exits. The writer ignores SIGINT and SIGTERM, which reach it
// with the crawler when a terminal sends them, and waits for the pipe to
// close instead.
//
// In a file whose name ends in ".gz" every record is a gzip member of its
// own (as archives are read). The index, written beside the file as
// path + ".cdxj" when the writer ends, has a line per response record:
// "SURT TIMESTAMP {json}" with the record's url, mime, status, digest,
// length (of the record as stored: its gzip member, or its bytes up to the
// end of its block), offset and filename, sorted as archive indexes are. It
// is written to a temporary name and renamed, so it is whole or absent.
//
// What the writer could not write (a full disk) it says once on standard
// error, "ferret: cannot write PATH: REASON", and stops: Write then gives
// false, and so does Close. Used by one thread.
#ifndef FERRET_NET_WARCWRITER_H_
#define FERRET_NET_WARCWRITER_H_

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "net/WarcRecord.h"

class WarcWriter {
 public:
  // Creates (or empties) path and starts its writer; null, with *error
  // saying why, when the file cannot be made or the writer started.
  static std::unique_ptr<WarcWriter> Open(const std::string& path, std::string* error);
  // Closes as Close does, if it was not.
  ~WarcWriter();
  WarcWriter(const WarcWriter&) = delete;
  WarcWriter& operator=(const WarcWriter&) = delete;

  // Hands records to the writer as one group: they reach the file
  // together, in this order, or not at all. False once the writer has
  // stopped, or when a record's block could not be read.
  bool Write(const std::vector<WarcRecord>& records);
  // Ends the archive and waits for the writer: false when it could not
  // write everything it was given.
  bool Close();

  const std::string& Path() const { return path; }

 private:
  WarcWriter(std::string path, int pipe, pid_t writer);
  bool Send(const void* data, size_t length);

  const std::string path;
  int pipe;      // to the writer; -1 once closed
  pid_t writer;  // the writer process; 0 once waited for
  bool failed = false;
};

#endif  // FERRET_NET_WARCWRITER_H_

// Whole-file reading and all-or-nothing writing for the document operations of
// the libxml2 back end (file_io_posix.cpp); the COM component reads and writes its
// own files (file_io_win.hpp).
//
// Any thread. ReadRegularFile answers false for anything that is not a readable
// regular file (directories, devices and pipes included) and never blocks on one.
// WriteFileAtomically writes the output into a temporary file in the target's
// folder, flushes it to disk and then replaces the target in one step. The
// temporary file is unnamed (O_TMPFILE) where the file system allows, so even a
// killed process leaves nothing behind; elsewhere it has a short fixed-length
// name. Only a regular file (or a link to one) is replaced; a missing target is
// created. On failure the temporary file is gone, the old target is left byte for
// byte, and a ComError with the system's reason is thrown.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zantrel {

bool ReadRegularFile(const std::wstring& path, std::string& bytes);

// The same file read front to back in pieces, so a large input is never whole in
// memory: Open refuses what ReadRegularFile refuses (a file larger than INT_MAX
// bytes included), and the reads end where ReadRegularFile's would, at the size
// the file had when it was opened or earlier when it shrank.
class RegularFileReader {
 public:
  RegularFileReader() = default;
  RegularFileReader(const RegularFileReader&) = delete;
  RegularFileReader& operator=(const RegularFileReader&) = delete;
  ~RegularFileReader();

  // Throws ComError when the machine is out of file handles or memory.
  bool Open(const std::wstring& path);
  // Up to `size` bytes into `into`: how many, 0 at the end, -1 on a read error
  // (a read error is no document).
  long Read(char* into, std::size_t size) noexcept;
  // After a refused Open or a failed Read, why, for a person: "not a regular
  // file", "larger than 2 GB", or "cannot be read: " and the system's text.
  std::string Refusal() const;

 private:
  int fd_ = -1;
  std::size_t left_ = 0;
  int error_ = 0;                    // errno of the failed open or read
  const char* refusal_ = nullptr;  // or the program's own reason
};

// `produce` hands every piece of the output to the sink. A sink call that answers
// false (the write failed) ends the save; so does an exception from `produce`,
// which passes through after the clean-up (a failed write's own error wins).
using ByteSink = std::function<bool(std::string_view)>;
// Named: always a named temporary file, as on file systems without O_TMPFILE
// (lets tests reach that road on any file system).
enum class TemporaryFile { UnnamedWherePossible, Named };
void WriteFileAtomically(const std::wstring& path, const std::function<void(const ByteSink&)>& produce,
                         TemporaryFile kind = TemporaryFile::UnnamedWherePossible);

// For a program's main thread, before it starts any other thread. Blocks SIGINT,
// SIGTERM and SIGHUP in the caller (so every later thread inherits the block) and
// starts one thread that waits for them: it removes the named temporary files of
// saves in progress and ends the process as the signal would have. Without it a
// signal ends the process at once and a named temporary file may stay.
void StartTerminationCleanup();

}  // namespace zantrel

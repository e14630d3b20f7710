// Reading regular files and all-or-nothing writing on POSIX (file_io.hpp); the
// temporary files of saves are listed for the termination clean-up
// (temporary_name_posix.hpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "engine/errors.hpp"
#include "engine/file_io.hpp"
#include "engine/temporary_name_posix.hpp"

namespace zantrel {
namespace {

// Read before any thread starts: umask() can only be read by setting it.
const mode_t kProcessUmask = [] {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

class UniqueFd {
 public:
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  int Release() noexcept { return std::exchange(fd_, -1); }
  void Reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports the result: a delayed write error shows up here.
  int Close() noexcept {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// The system's words in the log, and for a person also as the reason, with the
// file's name: a file the job could not read or write says why where they look.
[[noreturn]] void ThrowErrno(int error, const std::wstring& path) {
  const ComError failure = ComError::FromErrno(error, path);
  throw failure.WithReason(GetFileNamePart(path) + L": " + failure.ErrorMessage());
}

// Gives the unnamed file `fd` the name `name` in `dir`: 0, or errno (EEXIST when
// the name is taken). AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH on most kernels;
// /proc/self/fd works for everyone where /proc is mounted.
int LinkUnnamed(int fd, int dir, const char* name) noexcept {
  if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), dir, name, AT_SYMLINK_FOLLOW) == 0) return 0;
  return errno;
}

// The new name on disk too, not only the file's bytes: a power loss right after a
// save must not bring the old file back. Best effort: the file is in place
// already, and some file systems cannot flush a folder.
void SyncFolder(const std::string& folder) noexcept {
  const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
}

// A regular file opened for reading, with its size; -1 for anything else (a
// directory, a device, a pipe, a file larger than the parser counts). Why: the
// program's reason in `refusal` when it refused, else errno.
int OpenRegularFile(const std::wstring& path, std::size_t& size, const char** refusal = nullptr) {
  // O_NONBLOCK: opening a pipe named like an input must not hang the job.
  UniqueFd fd(::open(WideToNative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  // Running out of handles or memory is the machine's failure, not the file's.
  if (fd.get() < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) ThrowErrno(errno, path);
  struct stat st {};
  if (fd.get() < 0) return -1;
  if (::fstat(fd.get(), &st) != 0) {
    const int error = errno;  // the caller reads fstat's, not the close's
    ::close(fd.Release());
    errno = error;
    return -1;
  }
  const char* why = !S_ISREG(st.st_mode) ? "not a regular file"
                    : st.st_size > INT_MAX ? "larger than 2 GB"  // the parser counts in int
                                           : nullptr;
  if (why != nullptr) {
    if (refusal != nullptr) *refusal = why;
    return -1;
  }
  size = static_cast<std::size_t>(st.st_size);
  return fd.Release();
}

}  // namespace

bool ReadRegularFile(const std::wstring& path, std::string& bytes) {
  std::size_t size = 0;
  const UniqueFd fd(OpenRegularFile(path, size));
  if (fd.get() < 0) return false;
  bytes.resize(size);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;  // a read error is no document
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);  // a file that shrank while read
  return true;
}

RegularFileReader::~RegularFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFileReader::Open(const std::wstring& path) {
  error_ = 0;
  refusal_ = nullptr;
  std::size_t size = 0;
  const int fd = OpenRegularFile(path, size, &refusal_);
  if (fd < 0) {
    if (refusal_ == nullptr) error_ = errno;
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  left_ = size;
  return true;
}

long RegularFileReader::Read(char* into, std::size_t size) noexcept {
  if (fd_ < 0) return -1;
  size = std::min(size, left_);
  if (size == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(fd_, into, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = errno;
      return -1;
    }
    left_ = n == 0 ? 0 : left_ - static_cast<std::size_t>(n);  // a file that shrank ends here
    return static_cast<long>(n);
  }
}

std::string RegularFileReader::Refusal() const {
  if (refusal_ != nullptr) return refusal_;
  char buf[256] = {};
  // The GNU strerror_r may return a static string instead of filling buf.
  return std::string("cannot be read: ") + strerror_r(error_, buf, sizeof buf);
}

void WriteFileAtomically(const std::wstring& path, const std::function<void(const ByteSink&)>& produce,
                         TemporaryFile kind) {
  std::string target = WideToNative(path);
  mode_t mode = 0666 & ~kProcessUmask;

  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link itself. A link that leads
    // nowhere (ENOENT) or in a circle (ELOOP) is refused, not replaced by a file.
    if (::stat(target.c_str(), &st) != 0) ThrowErrno(errno, path);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(target.c_str(), nullptr), &std::free);
    if (!real) ThrowErrno(errno, path);
    target = real.get();
  }
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR, path);
    // A device, FIFO or socket would be swapped for a plain file (as the superuser
    // even /dev/null): only regular files are replaced.
    if (!S_ISREG(st.st_mode)) ThrowErrno(EPERM, path);
    // Renaming over a read-only file would succeed; refuse it. A file without any
    // write bit counts as read-only even for the superuser.
    if (::access(target.c_str(), W_OK) != 0) ThrowErrno(errno, path);
    if ((st.st_mode & 0222) == 0) ThrowErrno(EACCES, path);
    mode = st.st_mode & 07777;
  }

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  const UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) ThrowErrno(errno, path);

  TemporaryName temp(dir.get());  // after `dir`: removed while the folder is open
  UniqueFd fd(-1);
  bool unnamed = false;
  // Without /proc an unnamed file could be left with no way to name it (unless
  // privileged): write a named one from the start.
  if (kind == TemporaryFile::UnnamedWherePossible && ::access("/proc/self/fd", X_OK) == 0) {
    // Trap: O_TMPFILE is refused by file systems without it (EOPNOTSUPP), and by
    // kernels that predate it (EISDIR, EINVAL). Any refusal falls back to a named
    // file, whose creation then reports a real cause if there is one.
    fd.Reset(::openat(dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    unnamed = fd.get() >= 0;
  }
  if (!unnamed) {
    const int error = temp.Claim([&](const char* tempName) {
      fd.Reset(::openat(dir.get(), tempName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
      return fd.get() >= 0 ? 0 : errno;
    });
    if (error != 0) ThrowErrno(error, path);
  }

  int writeError = 0;
  off_t written = 0;
  off_t flushed = 0;  // handed to the disk so far
  const auto writeAll = [&](std::string_view bytes) {
    std::size_t done = 0;
    while (writeError == 0 && done < bytes.size()) {
      const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) writeError = errno;
      else done += static_cast<std::size_t>(n);
    }
    written += static_cast<off_t>(done);
    // Start writing a large file out while it is produced, so that the final
    // flush waits for the last part only. A hint: where it is not supported, the
    // flush does it all.
    constexpr off_t kFlushStep = off_t{8} << 20;
    if (written - flushed >= kFlushStep) {
      (void)::sync_file_range(fd.get(), flushed, written - flushed, SYNC_FILE_RANGE_WRITE);
      flushed = written;
    }
  };
  // Pieces arrive a few kilobytes at a time: gather them into large writes.
  constexpr std::size_t kChunk = 1 << 20;
  std::string pending;
  pending.reserve(kChunk);
  const ByteSink sink = [&](std::string_view bytes) {
    if (pending.size() + bytes.size() > kChunk) {
      writeAll(pending);
      pending.clear();
    }
    if (bytes.size() >= kChunk) {
      writeAll(bytes);
    } else {
      pending.append(bytes);
    }
    return writeError == 0;
  };
  try {
    produce(sink);
  } catch (...) {
    // A failed write makes the producer give up with its own generic error; the
    // system's reason (a full disk, a size limit) is the one worth reporting.
    if (writeError != 0) ThrowErrno(writeError, path);
    throw;
  }
  writeAll(pending);
  if (writeError != 0) ThrowErrno(writeError, path);
  // A replaced file keeps its owner (the superuser saving another user's file), or
  // at least its group; where neither may be given away, the saver owns the copy.
  if (exists && ::fchown(fd.get(), st.st_uid, st.st_gid) != 0)
    (void)::fchown(fd.get(), static_cast<uid_t>(-1), st.st_gid);
  // After the owner: a change of owner clears the set-user and set-group bits.
  if (::fchmod(fd.get(), mode) != 0) ThrowErrno(errno, path);
  if (::fsync(fd.get()) != 0) ThrowErrno(errno, path);

  if (unnamed) {
    // The file gets a name only now, complete: straight the target's when there is
    // none yet, otherwise a temporary one that is then renamed over the target.
    int error = exists ? EEXIST : LinkUnnamed(fd.get(), dir.get(), name.c_str());
    if (error == 0) {
      if (fd.Close() != 0) {
        error = errno;
        ::unlinkat(dir.get(), name.c_str(), 0);  // ours: the link made it just now
        ThrowErrno(error, path);
      }
      SyncFolder(folder);
      return;
    }
    if (error != EEXIST) ThrowErrno(error, path);
    error = temp.Claim([&](const char* tempName) { return LinkUnnamed(fd.get(), dir.get(), tempName); });
    if (error != 0) ThrowErrno(error, path);
  }
  if (fd.Close() != 0) ThrowErrno(errno, path);
  if (const int error = temp.RenameOnto(name); error != 0) ThrowErrno(error, path);
  SyncFolder(folder);
}

}  // namespace zantrel

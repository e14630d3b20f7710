#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "engine/errors.hpp"
#include "engine/file_io.hpp"

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

[[noreturn]] void ThrowErrno(int error, const std::wstring& path) {
  throw ComError::FromErrno(error, path);
}

// ".zantrel-" and ten random letters or digits: hidden, and short whatever the
// target's name is.
constexpr char kTempPrefix[] = ".zantrel-";
constexpr std::size_t kTempRandom = 10;
constexpr std::size_t kTempNameSize = sizeof kTempPrefix - 1 + kTempRandom + 1;

// Named temporary files of saves in progress: nodes on the savers' stacks, linked
// for the termination thread. A name is made and listed, or renamed and unlisted,
// in one step under g_pendingLock, so when the termination thread holds the lock
// the list names exactly the temporary files that exist.
struct PendingName {
  int dir = -1;
  char name[kTempNameSize] = {};
  PendingName* next = nullptr;
};
std::mutex g_pendingLock;
PendingName* g_pending = nullptr;  // guarded by g_pendingLock

// 0, or errno when no random bytes could be had.
int FillRandomName(char (&name)[kTempNameSize]) noexcept {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[kTempRandom];
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    got += static_cast<std::size_t>(n);
  }
  std::memcpy(name, kTempPrefix, sizeof kTempPrefix - 1);
  for (std::size_t i = 0; i < kTempRandom; ++i)
    name[sizeof kTempPrefix - 1 + i] = kAlphabet[random[i] % (sizeof kAlphabet - 1)];
  name[kTempNameSize - 1] = '\0';
  return 0;
}

// A temporary name in the target's folder, listed for the termination thread
// while it exists; removed on destruction unless it was renamed onto the target.
class TemporaryName {
 public:
  explicit TemporaryName(int dir) noexcept { node_.dir = dir; }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName() {
    const std::lock_guard lock(g_pendingLock);
    if (listed_) {
      ::unlinkat(node_.dir, node_.name, 0);
      Unlist();
    }
  }

  // `make(name)` creates the entry (0, or errno); on EEXIST another name is tried.
  // Making and listing happen under one lock: no signal can fall between them.
  template <class Make>
  int Claim(Make make) {
    const std::lock_guard lock(g_pendingLock);
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (const int error = FillRandomName(node_.name); error != 0) return error;
      const int error = make(static_cast<const char*>(node_.name));
      if (error == EEXIST) continue;
      if (error == 0) {
        node_.next = g_pending;
        g_pending = &node_;
        listed_ = true;
      }
      return error;
    }
    return EEXIST;
  }

  // 0, or errno with the temporary file still in place.
  int RenameOnto(const std::string& target) {
    const std::lock_guard lock(g_pendingLock);
    if (::renameat(node_.dir, node_.name, node_.dir, target.c_str()) != 0) return errno;
    Unlist();
    return 0;
  }

 private:
  void Unlist() noexcept {  // under g_pendingLock
    for (PendingName** p = &g_pending; *p != nullptr; p = &(*p)->next) {
      if (*p == &node_) {
        *p = node_.next;
        break;
      }
    }
    listed_ = false;
  }

  PendingName node_;
  bool listed_ = false;
};

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

}  // namespace

bool ReadRegularFile(const std::wstring& path, std::string& bytes) {
  // O_NONBLOCK: opening a pipe named like an input must not hang the job.
  UniqueFd fd(::open(WideToNative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  // Running out of handles or memory is the machine's failure, not the file's.
  if (fd.get() < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) ThrowErrno(errno, path);
  if (fd.get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size > INT_MAX) return false;  // the parser takes an int length
  bytes.resize(static_cast<std::size_t>(st.st_size));
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
  // O_NONBLOCK: opening a pipe named like an input must not hang the job.
  UniqueFd fd(::open(WideToNative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  // Running out of handles or memory is the machine's failure, not the file's.
  if (fd.get() < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) ThrowErrno(errno, path);
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    error_ = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    refusal_ = "not a regular file";
    return false;
  }
  if (st.st_size > INT_MAX) {  // the parser counts in int
    refusal_ = "larger than 2 GB";
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd.Release();
  left_ = static_cast<std::size_t>(st.st_size);
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

void StartTerminationCleanup() {
  sigset_t termination;
  sigemptyset(&termination);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&termination, s);
  // Blocked here, before any other thread exists, so no thread ever runs a handler
  // for them: only the thread below takes them, and it may lock and unlink freely.
  pthread_sigmask(SIG_BLOCK, &termination, nullptr);
  try {
    std::thread([termination] {
      int signal = 0;
      while (sigwait(&termination, &signal) != 0) {
      }
      // Held until the end: no save can name a file or rename one from here on.
      const std::unique_lock lock(g_pendingLock);
      for (const PendingName* p = g_pending; p != nullptr; p = p->next) ::unlinkat(p->dir, p->name, 0);
      // End as the signal itself would, so the exit status still says "killed by".
      std::signal(signal, SIG_DFL);
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, signal);
      pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
      std::raise(signal);
      std::_Exit(128 + signal);  // not reached: the default action ends the process
    }).detach();
  } catch (...) {
    // No thread to take them: let the signals end the process directly again.
    pthread_sigmask(SIG_UNBLOCK, &termination, nullptr);
  }
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
      return;
    }
    if (error != EEXIST) ThrowErrno(error, path);
    error = temp.Claim([&](const char* tempName) { return LinkUnnamed(fd.get(), dir.get(), tempName); });
    if (error != 0) ThrowErrno(error, path);
  }
  if (fd.Close() != 0) ThrowErrno(errno, path);
  if (const int error = temp.RenameOnto(name); error != 0) ThrowErrno(error, path);
}

}  // namespace zantrel

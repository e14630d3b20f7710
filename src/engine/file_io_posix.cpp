#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <optional>
#include <pthread.h>
#include <cstdlib>
#include <memory>

#include "engine/errors.hpp"
#include "engine/file_io.hpp"
#include "job/paths.hpp"
#include "job/text.hpp"

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
  // Closes now and reports the result: a delayed write error shows up here.
  int Close() noexcept {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// Temporary files being written, visible to a signal handler: fixed slots, no
// allocation, claimed and released through atomics.
struct PendingSlot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
  char path[PATH_MAX] = {};
};
PendingSlot g_pending[8];

// Removes the temporary file unless the rename took it over.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {
    for (auto& slot : g_pending) {
      int expected = 0;
      if (path_.size() < sizeof slot.path && slot.state.compare_exchange_strong(expected, 1)) {
        std::memcpy(slot.path, path_.c_str(), path_.size() + 1);
        slot.state.store(2);
        slot_ = &slot;
        break;
      }
    }
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!path_.empty()) ::unlink(path_.c_str());
    if (slot_ != nullptr) slot_->state.store(0);
  }
  void Commit() noexcept {
    if (slot_ != nullptr) slot_->state.store(0);
    slot_ = nullptr;
    path_.clear();
  }

 private:
  std::string path_;
  PendingSlot* slot_ = nullptr;
};

[[noreturn]] void ThrowErrno(int error, const std::wstring& path) {
  throw ComError::FromErrno(error, path);
}

}  // namespace

bool ReadRegularFile(const std::wstring& path, std::string& bytes) {
  // O_NONBLOCK: opening a pipe named like an input must not hang the job.
  UniqueFd fd(::open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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

void RemovePendingTemporaryFiles() noexcept {
  for (auto& slot : g_pending)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

void WriteFileAtomically(const std::wstring& path, const std::function<void(const ByteSink&)>& produce) {
  std::string target = WideToUtf8(path);
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
  if (::stat(target.c_str(), &st) == 0) {
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
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A fixed short name: one built from the target's could pass NAME_MAX when the
  // target's own name (up to 255 bytes) does not.
  std::string temp = dir + ".zantrel-XXXXXX";
  // An interrupt between creating the temporary file and registering it for the
  // signal handler would leave it behind: hold those signals back meanwhile.
  sigset_t termination, previous;
  sigemptyset(&termination);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&termination, s);
  pthread_sigmask(SIG_BLOCK, &termination, &previous);
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  const int createError = errno;
  std::optional<TempFileGuard> guard;
  if (fd.get() >= 0) guard.emplace(temp);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd.get() < 0) ThrowErrno(createError, path);

  int writeError = 0;
  const auto writeAll = [&](std::string_view bytes) {
    std::size_t done = 0;
    while (writeError == 0 && done < bytes.size()) {
      const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) writeError = errno;
      else done += static_cast<std::size_t>(n);
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
  if (fd.Close() != 0) ThrowErrno(errno, path);
  if (::rename(temp.c_str(), target.c_str()) != 0) ThrowErrno(errno, path);
  guard->Commit();
}

}  // namespace zantrel

// Named temporary files of saves in progress, listed for the termination
// clean-up (StartTerminationCleanup), which removes the listed ones before the
// process ends on a signal. Internal to the POSIX file code.
//
// Any thread; a TemporaryName is used by the thread of its save. A name is made
// and listed, or renamed and unlisted, in one step under one lock, so when the
// clean-up holds the lock the list names exactly the temporary files that exist.
// Failures are returned as errno values; nothing throws.
#pragma once

#include <cerrno>
#include <cstddef>
#include <mutex>
#include <string>

namespace zantrel {

// ".zantrel-" and ten random letters or digits: hidden, and short whatever the
// target's name is.
inline constexpr char kTempPrefix[] = ".zantrel-";
inline constexpr std::size_t kTempRandom = 10;
inline constexpr std::size_t kTempNameSize = sizeof kTempPrefix - 1 + kTempRandom + 1;

// A temporary name in the target's folder, listed while it exists; removed on
// destruction unless it was renamed onto the target.
class TemporaryName {
 public:
  explicit TemporaryName(int dir) noexcept { node_.dir = dir; }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName();

  // `make(name)` creates the entry (0, or errno); on EEXIST another name is tried.
  // Making and listing happen under one lock: no signal can fall between them.
  template <class Make>
  int Claim(Make make) {
    const std::lock_guard lock(ListLock());
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (const int error = FillRandomName(); error != 0) return error;
      const int error = make(static_cast<const char*>(node_.name));
      if (error == EEXIST) continue;
      if (error == 0) List();
      return error;
    }
    return EEXIST;
  }

  // 0, or errno with the temporary file still in place.
  int RenameOnto(const std::string& target);

  struct Node {
    int dir = -1;
    char name[kTempNameSize] = {};
    Node* next = nullptr;
  };

 private:
  static std::mutex& ListLock() noexcept;
  int FillRandomName() noexcept;  // 0, or errno when no random bytes could be had
  void List() noexcept;           // with the lock held
  void Unlist() noexcept;         // with the lock held

  Node node_;
  bool listed_ = false;
};

}  // namespace zantrel

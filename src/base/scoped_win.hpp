// Scoped owners of Win32 and COM resources: each releases what it holds when it
// goes, on every path, an exception included.
//
//   ScopedHandle   a kernel handle (threads, files): CloseHandle. Null and
//                  INVALID_HANDLE_VALUE both mean "holds nothing".
//   UniqueLocal<T> memory the system allocated with LocalAlloc: LocalFree.
//   UniqueDrop     a shell drop handle: DragFinish.
//   ScopedComInit  this thread's COM initialisation: CoUninitialize, only when
//                  the initialisation succeeded (a failed one must not be undone).
//
// Any thread; an owner is used by one thread at a time. Never throw.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace zantrel {

class ScopedHandle {
 public:
  ScopedHandle() noexcept = default;
  explicit ScopedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }

  HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  void Close() noexcept {
    if (*this) CloseHandle(handle_);
    handle_ = nullptr;
  }
  HANDLE handle_ = nullptr;
};

struct LocalFreer {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
template <class T>
using UniqueLocal = std::unique_ptr<T, LocalFreer>;

struct DropFinisher {
  void operator()(HDROP drop) const noexcept { DragFinish(drop); }
};
using UniqueDrop = std::unique_ptr<std::remove_pointer_t<HDROP>, DropFinisher>;

class ScopedComInit {
 public:
  ScopedComInit() noexcept : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;
  ~ScopedComInit() {
    if (initialised_) CoUninitialize();
  }

 private:
  bool initialised_;
};

}  // namespace zantrel

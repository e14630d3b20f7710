// The list of named temporary files and the thread that removes them when a
// termination signal arrives (temporary_name_posix.hpp, file_io.hpp).
#include "engine/temporary_name_posix.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/file_io.hpp"

namespace zantrel {
namespace {

std::mutex g_listLock;
TemporaryName::Node* g_listed = nullptr;  // guarded by g_listLock

}  // namespace

std::mutex& TemporaryName::ListLock() noexcept { return g_listLock; }

TemporaryName::~TemporaryName() {
  const std::lock_guard lock(g_listLock);
  if (listed_) {
    ::unlinkat(node_.dir, node_.name, 0);
    Unlist();
  }
}

int TemporaryName::FillRandomName() noexcept {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[kTempRandom];
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    got += static_cast<std::size_t>(n);
  }
  std::memcpy(node_.name, kTempPrefix, sizeof kTempPrefix - 1);
  for (std::size_t i = 0; i < kTempRandom; ++i)
    node_.name[sizeof kTempPrefix - 1 + i] = kAlphabet[random[i] % (sizeof kAlphabet - 1)];
  node_.name[kTempNameSize - 1] = '\0';
  return 0;
}

int TemporaryName::RenameOnto(const std::string& target) {
  const std::lock_guard lock(g_listLock);
  if (::renameat(node_.dir, node_.name, node_.dir, target.c_str()) != 0) return errno;
  Unlist();
  return 0;
}

void TemporaryName::List() noexcept {
  node_.next = g_listed;
  g_listed = &node_;
  listed_ = true;
}

void TemporaryName::Unlist() noexcept {
  for (Node** p = &g_listed; *p != nullptr; p = &(*p)->next) {
    if (*p == &node_) {
      *p = node_.next;
      break;
    }
  }
  listed_ = false;
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
      const std::unique_lock lock(g_listLock);
      for (const TemporaryName::Node* p = g_listed; p != nullptr; p = p->next) ::unlinkat(p->dir, p->name, 0);
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

}  // namespace zantrel

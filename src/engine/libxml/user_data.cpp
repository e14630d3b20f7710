// The caller's data slot and the modification stamps of documents. The stamps
// change through Document::Touch, called wherever the tree changes.
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/libxml/document.hpp"

namespace zantrel::xml {
namespace {

std::atomic<std::uint64_t> g_lastStamp{0};

}  // namespace

void Document::Touch() noexcept { stamp = ++g_lastStamp; }

void SetUserData(const DocumentHandle& handle, std::shared_ptr<void> data) {
  if (!handle) throw ComError(kEPointer);
  handle->userData = std::move(data);
}

std::shared_ptr<void> GetUserData(const DocumentHandle& handle) noexcept {
  return handle ? handle->userData : nullptr;
}

std::uint64_t ModificationStamp(const DocumentHandle& handle) noexcept {
  return handle ? handle->stamp : 0;
}

}  // namespace zantrel::xml

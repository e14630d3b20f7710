#include <windows.h>

#include "base/paths.hpp"
#include "base/scoped_win.hpp"
#include "engine/errors.hpp"
#include "engine/file_io_win.hpp"

namespace zantrel {
namespace {

[[noreturn]] void ThrowLastError(const std::wstring& path) {
  throw MakeComError(HRESULT_FROM_WIN32(GetLastError()), path);
}

// Deletes the temporary file unless it became the target.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::wstring path) : path_(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  void Commit() { path_.clear(); }

 private:
  std::wstring path_;
};

}  // namespace

void ReplaceFileAtomically(const std::wstring& path,
                           const std::function<void(const std::wstring& tempPath)>& write) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    ThrowLastError(path);
  }
  std::wstring folder = GetDirectoryPart(path);
  if (folder.empty()) folder = L".";
  wchar_t temp[MAX_PATH + 1] = {};
  if (GetTempFileNameW(folder.c_str(), L"ztl", 0, temp) == 0) ThrowLastError(path);
  TempFileGuard guard(temp);
  write(temp);
  {
    // Whoever wrote the file, its bytes reach the disk before it replaces the target.
    const ScopedHandle written(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!written || !FlushFileBuffers(written.get())) ThrowLastError(path);
  }
  if (!MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    ThrowLastError(path);
  guard.Commit();
}

}  // namespace zantrel

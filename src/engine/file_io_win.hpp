// Replacing a file all or nothing on Windows, for writers that need a path.
//
// `write` fills the temporary file it is given (in the target's folder); then the
// target is replaced in one step. On any failure the temporary file is removed,
// the old target stays, and a ComError with the system's code is thrown (or the
// writer's own error passes through). Any thread.
#pragma once

#include <functional>
#include <string>

namespace zantrel {

void ReplaceFileAtomically(const std::wstring& path,
                           const std::function<void(const std::wstring& tempPath)>& write);

}  // namespace zantrel

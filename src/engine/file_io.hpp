// Whole-file reading and all-or-nothing writing for the document operations.
//
// Any thread. ReadRegularFile answers false for anything that is not a readable
// regular file (directories, devices and pipes included) and never blocks on one.
// WriteFileAtomically writes a temporary file in the target's folder, flushes it
// to disk and then replaces the target in one step; on failure it removes the
// temporary file, leaves the old target byte for byte, and throws ComError.
#pragma once

#include <string>
#include <string_view>

namespace zantrel {

bool ReadRegularFile(const std::wstring& path, std::string& bytes);
void WriteFileAtomically(const std::wstring& path, std::string_view bytes);

}  // namespace zantrel

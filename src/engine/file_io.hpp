// Whole-file reading and all-or-nothing writing for the document operations of
// the libxml2 back end (file_io_posix.cpp); the COM component reads and writes its
// own files (file_io_win.hpp).
//
// Any thread. ReadRegularFile answers false for anything that is not a readable
// regular file (directories, devices and pipes included) and never blocks on one.
// WriteFileAtomically writes a temporary file in the target's folder, flushes it
// to disk and then replaces the target in one step; on failure it removes the
// temporary file, leaves the old target byte for byte, and throws ComError.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zantrel {

bool ReadRegularFile(const std::wstring& path, std::string& bytes);

// `produce` hands every piece of the output to the sink. A sink call that answers
// false (the write failed) ends the save; so does an exception from `produce`,
// which passes through after the clean-up.
using ByteSink = std::function<bool(std::string_view)>;
void WriteFileAtomically(const std::wstring& path, const std::function<void(const ByteSink&)>& produce);

// Removes the temporary files of saves in progress. Async-signal-safe: for a
// program's interrupt handler, so that Ctrl+C mid-save leaves nothing behind.
void RemovePendingTemporaryFiles() noexcept;

}  // namespace zantrel

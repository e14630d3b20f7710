// libFuzzer target: two documents from one input, loaded as a job loads them,
// then merged, cleaned of duplicates and given their last_res.
//
// Input layout: byte 0 chooses where the rest splits into the base document and
// the added document. Documents go through a file so that the whole load path
// (encoding detection, byte-order marks, the refusal rules) is exercised.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "comments/operations.hpp"
#include "engine/documents.hpp"
#include "base/text.hpp"
#include "base/text_log_view.hpp"

namespace {

using namespace zantrel;

std::wstring WriteScratch(const char* name, const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/zantrel-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made == nullptr ? "/tmp" : made);
  }();
  const std::string path = dir + "/" + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return Utf8ToWide(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TextLogView view;  // keeps the log bounded like the real view does
  SetLogTarget(&view);
  if (size < 1) return 0;
  const std::size_t split = 1 + (static_cast<std::size_t>(data[0]) * (size - 1)) / 255;
  const std::wstring basePath = WriteScratch("base.xml", data + 1, split - 1);
  const std::wstring addedPath = WriteScratch("added.xml", data + split, size - split);

  DocumentHandle base;
  DocumentHandle added;
  try {
    LoadDocument(basePath, base);
    LoadDocument(addedPath, added);
    MergeComments(added, base, &AppendLog);
    RemoveDuplicateComments(base, &AppendLog);
    UpdateLastRes(base);
  } catch (const ComError&) {
  } catch (const std::exception&) {
  }
  return 0;
}

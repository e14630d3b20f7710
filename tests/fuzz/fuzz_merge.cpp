// libFuzzer target: two documents from one input, loaded as a job loads them,
// then merged, cleaned of duplicates and given their last_res; then the same two
// files as a whole job, once in the compact form and once as the whole tree, with
// the bundled sheet and with one of one's own: both must save the same bytes and
// write the same log (a difference aborts).
//
// Input layout: byte 0 chooses where the rest splits into the base document and
// the added document. Documents go through a file so that the whole load path
// (encoding detection, byte-order marks, the refusal rules) is exercised.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "base/text_log_view.hpp"
#include "comments/operations.hpp"
#include "comments/progress.hpp"
#include "engine/documents.hpp"
#include "job/merge_job.hpp"

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

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(WideToNative(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One job over the two files on the given path: its log without the time texts,
// and the saved bytes (nothing when not saved).
std::pair<std::wstring, std::optional<std::string>> Job(const std::wstring& sheet, const std::wstring& base,
                                                        const std::wstring& added, MergePath path) {
  static const std::wregex times(L"(開始時間|終了時間)：[^\r\n]*");
  const std::wstring output = GetDirectoryPart(base) + L"out.xml";
  std::remove(WideToNative(output).c_str());
  ResetProgressTicks();
  TextLogView view;
  SetLogTarget(&view);
  try {
    RunMergeJob(sheet, &AppendLog, output, {base, added}, path);
  } catch (...) {
    WriteCurrentErrorReport(&AppendLog);
  }
  SetLogTarget(nullptr);
  std::optional<std::string> saved;
  if (PathExists(output)) saved = ReadAll(output);
  return {std::regex_replace(view.Text(), times, L"$1"), saved};
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
  base.reset();
  added.reset();

  // The bundled sheet, and one of one's own (the merged document then becomes a
  // tree for it) that marks every text node and drops an attribute.
  static const std::wstring sheets[] = {
      [] {
        const std::string text = ReadAll(Utf8ToWide(ZANTREL_STYLE_SHEET));
        return WriteScratch("convert.xsl", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      }(),
      [] {
        const std::string text =
            "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
            "<xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy>"
            "</xsl:template><xsl:template match=\"@mail\"/>"
            "<xsl:template match=\"text()\">[<xsl:value-of select=\".\"/>]</xsl:template></xsl:stylesheet>";
        return WriteScratch("own.xsl", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
      }()};
  for (const std::wstring& sheet : sheets) {
    if (Job(sheet, basePath, addedPath, MergePath::Compact) != Job(sheet, basePath, addedPath, MergePath::WholeTree)) {
      std::fprintf(stderr, "the compact form and the whole tree differ\n");
      std::abort();
    }
  }
  SetLogTarget(&view);
  return 0;
}

// Shared helpers of the unit tests: a temporary folder, file writing, a captured
// log, a front end, style sheets, and comment documents built from numbers.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_log_view.hpp"
#include "engine/xml_component.hpp"
#include "job/worker.hpp"

namespace zantrel::test {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::wstring& path() const { return path_; }  // with a trailing '/'
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }
  std::vector<std::wstring> Entries() const;  // file names, sorted

 private:
  std::wstring path_;
};

// The process's current directory set to `dir` for the object's lifetime.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& dir);
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;
  ~CurrentDirectory();

 private:
  std::wstring old_;
};

// A thread of a test that uses the XML component, for the object's lifetime: its
// own COM apartment on Windows, as the program's worker threads have.
class ComponentThread {
 public:
  ComponentThread();
  ComponentThread(const ComponentThread&) = delete;
  ComponentThread& operator=(const ComponentThread&) = delete;
  ~ComponentThread();
};

void MakeDirectory(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& bytes);
std::string ReadFile(const std::wstring& path);
// Takes away every write permission (the read-only attribute on Windows).
void MakeReadOnly(const std::wstring& path);
// UTF-16 bytes (little-endian unless asked) after a byte-order mark.
std::string Utf16WithBom(std::u16string_view text, bool bigEndian = false);
// A log text split at "\r\n"; a last line without a line end is kept.
std::vector<std::wstring> SplitLines(const std::wstring& text);

// The log with its start and end time lines cut down to their headings.
std::vector<std::wstring> MaskTimes(std::vector<std::wstring> lines);

// True in a Windows build running under Wine, whose system component and
// messages legitimately differ from Windows' own; false elsewhere.
bool RunningUnderWine();

// Routes AppendLog into a buffer for the lifetime of the object.
class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();
  std::wstring Text() const { return view_.Text(); }
  std::vector<std::wstring> Lines() const { return SplitLines(Text()); }

 private:
  TextLogView view_;
};

// A front end that answers as the test says and counts the requests to close.
class FakeHost final : public JobHost {
 public:
  std::wstring SavePattern() const override { return pattern; }
  std::wstring StyleSheetPath() const override { return {}; }
  std::wstring AskSavePath(const std::wstring& seed) override {
    askedWith = seed;
    return dialogAnswer;
  }
  Workers& JobWorkers() override { return workers; }
  void RequestClose() override { ++closeRequests; }
  std::wstring pattern, dialogAnswer, askedWith;
  Workers workers;
  int closeRequests = 0;
};

// A style sheet of `body`. kIdentity: the bundled sheet's templates, which copy
// every node but an XML declaration that a component shows as a node.
std::string SheetText(const std::string& body);
inline const std::string kIdentity =
    "<xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy>"
    "</xsl:template><xsl:template match=\"processing-instruction('xml')\"/>";

// A chat: its `no` text, or no attribute at all.
struct Chat {
  std::optional<std::string> no;
  std::string text;
};

// <packet><thread .../><chat no=...>...</chat>...</packet>
std::string CommentXml(const std::vector<Chat>& chats);
std::string CommentXml(std::initializer_list<long long> numbers);
// `count` chats numbered from `from` on, each with the text "x".
std::string CommentRange(int from, int count);

// What `f` threw: the call text of a CallTextError, or "(no call-text error)".
std::string CallText(const std::function<void()>& f);
// The code of the ComError `f` threw, or nullopt.
std::optional<HResult> ComCode(const std::function<void()>& f);

xml::DocumentHandle ParseDocument(const std::string& text);
// The `no` texts of all chats in document order.
std::vector<std::string> ChatNumbers(const xml::DocumentHandle& doc);
std::vector<std::string> ChatNumbersOfFile(const std::wstring& path);
// The `last_res` text of /packet/thread, or nullopt.
std::optional<std::string> LastRes(const xml::DocumentHandle& doc);

}  // namespace zantrel::test

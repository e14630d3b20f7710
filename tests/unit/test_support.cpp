#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "base/log.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/vocabulary.hpp"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
#include <unistd.h>
#endif

namespace zantrel::test {

#ifdef _WIN32
// The test thread is a COM apartment for the whole run, as the program's threads are.
struct ComApartment {
  ComApartment() { CoInitialize(nullptr); }
  ~ComApartment() { CoUninitialize(); }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
};
const ComApartment g_apartment;
#endif

std::filesystem::path NativePath(const std::wstring& path) {
#ifdef _WIN32
  return std::filesystem::path(path);
#else
  return std::filesystem::path(WideToNative(path));
#endif
}

std::wstring WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return NativeToWide(path.string());
#endif
}

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = base / ("zantrel-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = WidePath(candidate);
      path_ += static_cast<wchar_t>(std::filesystem::path::preferred_separator);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(NativePath(path_), ec))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(NativePath(path_), ec);
}

std::vector<std::wstring> TempDir::Entries() const {
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(NativePath(path_)))
    names.push_back(WidePath(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

#ifdef _WIN32
ComponentThread::ComponentThread() { CoInitialize(nullptr); }
ComponentThread::~ComponentThread() { CoUninitialize(); }
#else
ComponentThread::ComponentThread() = default;
ComponentThread::~ComponentThread() = default;
#endif

void MakeDirectory(const std::wstring& path) { std::filesystem::create_directories(NativePath(path)); }

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(NativePath(path), std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write test file");
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void MakeReadOnly(const std::wstring& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(NativePath(path), perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

CurrentDirectory::CurrentDirectory(const std::wstring& dir) : old_(GetCurrentDirectoryPath()) {
#ifdef _WIN32
  EXPECT_TRUE(SetCurrentDirectoryW(dir.c_str()));
#else
  EXPECT_EQ(::chdir(WideToNative(dir).c_str()), 0);
#endif
}

CurrentDirectory::~CurrentDirectory() {
#ifdef _WIN32
  SetCurrentDirectoryW(old_.c_str());
#else
  (void)::chdir(WideToNative(old_).c_str());
#endif
}

std::string Utf16WithBom(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

LogCapture::LogCapture() { SetLogTarget(&view_); }
LogCapture::~LogCapture() { SetLogTarget(nullptr); }

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find(L"\r\n", start)) != std::wstring::npos; start = pos + 2)
    lines.push_back(text.substr(start, pos - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::wstring> MaskTimes(std::vector<std::wstring> lines) {
  for (auto& line : lines)
    for (const wchar_t* head : {L"開始時間：", L"終了時間："})
      if (line.rfind(head, 0) == 0) line = head;
  return lines;
}

bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string SheetText(const std::string& body) {
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">" + body +
         "</xsl:stylesheet>";
}

std::string CommentXml(const std::vector<Chat>& chats) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<packet>\n";
  xml += "  <thread thread=\"1\" last_res=\"999\"/>\n";
  for (const auto& chat : chats) {
    xml += "  <chat";
    if (chat.no) xml += " no=\"" + *chat.no + "\"";
    xml += ">" + chat.text + "</chat>\n";
  }
  return xml + "</packet>\n";
}

std::string CommentXml(std::initializer_list<long long> numbers) {
  std::vector<Chat> chats;
  for (long long n : numbers) chats.push_back({std::to_string(n), "t" + std::to_string(n)});
  return CommentXml(chats);
}

std::string CommentRange(int from, int count) {
  std::vector<Chat> chats;
  for (int n = from; n < from + count; ++n) chats.push_back({std::to_string(n), "x"});
  return CommentXml(chats);
}

std::string CallText(const std::function<void()>& f) {
  try {
    f();
  } catch (const CallTextError& e) {
    return e.what();
  }
  return "(no call-text error)";
}

std::optional<HResult> ComCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.Error();
  }
  return std::nullopt;
}

xml::DocumentHandle ParseDocument(const std::string& text) {
  xml::DocumentHandle doc;
  EXPECT_GE(xml::CreateDocument(doc), 0);
  EXPECT_TRUE(xml::LoadXml(doc, Utf8ToWide(text), xml::LoadPolicy::Input)) << text;
  return doc;
}

std::vector<std::string> ChatNumbers(const xml::DocumentHandle& doc) {
  xml::Node root;
  xml::GetDocumentElement(doc, root);
  std::vector<std::string> numbers;
  for (const auto& chat : xml::GetElementsByTagName(root, L"chat"))
    numbers.push_back(WideToUtf8(GetAttributeText(chat, L"no", L"(none)")));
  return numbers;
}

std::vector<std::string> ChatNumbersOfFile(const std::wstring& path) {
  return ChatNumbers(ParseDocument(ReadFile(path)));
}

std::optional<std::string> LastRes(const xml::DocumentHandle& doc) {
  xml::Node root;
  xml::GetDocumentElement(doc, root);
  const xml::Node thread = xml::SelectSingleNode(root, L"/packet/thread");
  std::wstring value;
  if (!thread || !xml::GetAttribute(thread, L"last_res", value)) return std::nullopt;
  return WideToUtf8(value);
}

}  // namespace zantrel::test

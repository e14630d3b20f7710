#include "test_support.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "comments/vocabulary.hpp"
#include "job/text.hpp"
#include "ui/log.hpp"

namespace zantrel::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zantrel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = Utf8ToWide(pattern) + L"/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(WideToUtf8(path_), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(WideToUtf8(path_), ec);
}

std::vector<std::wstring> TempDir::Entries() const {
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(WideToUtf8(path_)))
    names.push_back(Utf8ToWide(entry.path().filename().string()));
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(WideToUtf8(path), std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write test file");
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(WideToUtf8(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

LogCapture::LogCapture() { SetLogTarget(&view_); }
LogCapture::~LogCapture() { SetLogTarget(nullptr); }

std::vector<std::wstring> LogCapture::Lines() const {
  std::vector<std::wstring> lines;
  const std::wstring text = Text();
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find(L"\r\n", start)) != std::wstring::npos; start = pos + 2)
    lines.push_back(text.substr(start, pos - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string CommentXml(const std::vector<Chat>& chats, bool withThread) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<packet>\n";
  if (withThread) xml += "  <thread thread=\"1\" last_res=\"999\"/>\n";
  for (const auto& chat : chats) {
    xml += "  <chat";
    if (chat.no) xml += " no=\"" + *chat.no + "\"";
    xml += ">" + chat.text + "</chat>\n";
  }
  return xml + "</packet>\n";
}

std::string CommentXml(std::initializer_list<long long> numbers, bool withThread) {
  std::vector<Chat> chats;
  for (long long n : numbers) chats.push_back({std::to_string(n), "t" + std::to_string(n)});
  return CommentXml(chats, withThread);
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

#include <string>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "job/save_question.hpp"

namespace zantrel {
namespace {

void Write(std::FILE* out, const std::wstring& text) {
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fflush(out);
}

// One line without its line end; false at end of input.
bool ReadLine(std::FILE* in, std::wstring& line) {
  std::string bytes;
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n') bytes += static_cast<char>(c);
  if (c == EOF && bytes.empty()) return false;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  line = NativeToWide(bytes);  // a typed path: its bytes name the file
  return true;
}

}  // namespace

std::wstring AskSavePathOnTerminal(const std::wstring& seed, std::FILE* in, std::FILE* out) {
  const std::wstring folder = GetDirectoryPart(seed);
  Write(out, L"保存先のファイル名を入力して下さい (空欄で中止)\n  フォルダ : " + folder +
                 L"\n  候補 : " + GetFileNamePart(seed) + L"\n");
  for (;;) {
    Write(out, L"保存先 > ");
    std::wstring answer;
    if (!ReadLine(in, answer) || answer.empty()) return {};
    std::wstring path = MakeAbsolutePath(answer, folder, kNativePathSyntax);
    path = EnsureExtension(RemoveExtension(path), L".xml");
    if (!PathExists(GetDirectoryPart(path))) {
      Write(out, L"フォルダが見つかりません : " + GetDirectoryPart(path) + L"\n");
      continue;
    }
    if (PathExists(path)) {
      Write(out, GetFileNamePart(path) + L" は既に存在します。上書きしますか? (y/N) ");
      std::wstring confirm;
      if (!ReadLine(in, confirm)) return {};
      if (confirm != L"y" && confirm != L"Y") continue;
    }
    return path;
  }
}

}  // namespace zantrel

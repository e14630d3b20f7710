#include <gtest/gtest.h>

#include "base/paths.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

struct SplitCase {
  PathSyntax syntax;
  std::wstring path, fileName, directory, extension, withoutExtension;
};

TEST(Paths, SplitsBothSyntaxes) {
  const auto W = PathSyntax::Windows;
  const auto P = PathSyntax::Posix;
  const SplitCase cases[] = {
      {W, L"C:\\a\\b.xml", L"b.xml", L"C:\\a\\", L".xml", L"C:\\a\\b"},
      {W, L"C:\\a.b\\c", L"c", L"C:\\a.b\\", L"", L"C:\\a.b\\c"},  // the dot is a folder's
      {W, L"C:\\x\\.xml", L".xml", L"C:\\x\\", L".xml", L"C:\\x\\"},
      {W, L"b.xml", L"b.xml", L"", L".xml", L"b"},
      {W, L"C:/m/n.tar.gz", L"n.tar.gz", L"C:/m/", L".gz", L"C:/m/n.tar"},
      {W, L"C:name.xml", L"name.xml", L"C:", L".xml", L"C:name"},
      {P, L"/a/b.xml", L"b.xml", L"/a/", L".xml", L"/a/b"},
      {P, L"/a.b/c", L"c", L"/a.b/", L"", L"/a.b/c"},
      {P, L"/x/.xml", L".xml", L"/x/", L".xml", L"/x/"},
      {P, L"b.xml", L"b.xml", L"", L".xml", L"b"},
      {P, L"/a\\b.xml", L"a\\b.xml", L"/", L".xml", L"/a\\b"},  // '\' is a name character here
      {P, L"/t/x.xml.bak", L"x.xml.bak", L"/t/", L".bak", L"/t/x.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.path.begin(), c.path.end()));
    EXPECT_EQ(GetFileNamePart(c.path, c.syntax), c.fileName);
    EXPECT_EQ(GetDirectoryPart(c.path, c.syntax), c.directory);
    EXPECT_EQ(GetExtensionPart(c.path, c.syntax), c.extension);
    EXPECT_EQ(RemoveExtension(c.path, c.syntax), c.withoutExtension);
  }
}

TEST(Paths, EnsureExtensionIgnoresAsciiCaseOnly) {
  EXPECT_EQ(EnsureExtension(L"out.XML", L".xml"), L"out.XML");
  EXPECT_EQ(EnsureExtension(L"out", L".xml"), L"out.xml");
  EXPECT_EQ(EnsureExtension(L"out.txt", L".xml"), L"out.txt.xml");
  EXPECT_EQ(EnsureExtension(L"out.\uFF38\uFF2D\uFF2C", L".xml"), L"out.\uFF38\uFF2D\uFF2C.xml");
}

TEST(Paths, MakeAbsoluteResolvesPosixPathsAgainstTheGivenDirectory) {
  struct Case {
    PathSyntax syntax;
    std::wstring path, cwd, expected;
  };
  const Case cases[] = {
      {PathSyntax::Posix, L"a.xml", L"/work", L"/work/a.xml"},
      {PathSyntax::Posix, L"../b.xml", L"/work/sub", L"/work/b.xml"},
      {PathSyntax::Posix, L"../../../b.xml", L"/work", L"/b.xml"},
      {PathSyntax::Posix, L"/x/a.xml", L"/work", L"/x/a.xml"},
      {PathSyntax::Posix, L"C:\\x", L"/work", L"/work/C:\\x"},
      {PathSyntax::Posix, L"", L"/work", L"/work"},
      {PathSyntax::Posix, L"out/", L"/", L"/out/"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeAbsolutePath(c.path, c.cwd, c.syntax), c.expected)
        << std::string(c.path.begin(), c.path.end());
}

// Windows full paths by name, as the system's resolution forms them. Each row: the
// path, the current directory, the full path.
TEST(Paths, MakeAbsoluteFormsWindowsFullPaths) {
  struct Case {
    const wchar_t* path;
    const wchar_t* cwd;
    const wchar_t* expected;
  };
  const Case cases[] = {
      // relative to the current directory
      {L"a.xml", L"C:\\Work", L"C:\\Work\\a.xml"},
      {L"a.xml", L"C:\\Work\\", L"C:\\Work\\a.xml"},
      {L"a.xml", L"C:\\", L"C:\\a.xml"},
      {L"..\\b.xml", L"C:\\Work\\sub", L"C:\\Work\\b.xml"},
      {L".\\.\\out", L"C:\\Work\\", L"C:\\Work\\out"},
      {L"sub/deeper/x.xml", L"C:\\Work", L"C:\\Work\\sub\\deeper\\x.xml"},
      {L"out\\", L"C:\\Work", L"C:\\Work\\out\\"},
      {L"", L"C:\\Work", L"C:\\Work"},
      {L".", L"C:\\Work", L"C:\\Work"},
      {L"..\\..\\..\\b.xml", L"C:\\Work\\sub", L"C:\\b.xml"},
      // anchored at a drive
      {L"C:\\x\\a.xml", L"C:\\Work", L"C:\\x\\a.xml"},
      {L"D:/x/./y/../a.xml", L"C:\\Work", L"D:\\x\\a.xml"},
      {L"C:\\x\\\\\\a.xml", L"C:\\Work", L"C:\\x\\a.xml"},
      {L"C:\\..\\..\\a.xml", L"C:\\Work", L"C:\\a.xml"},
      {L"C:\\x\\..", L"C:\\Work", L"C:\\"},
      {L"C:\\x\\y\\..", L"C:\\Work", L"C:\\x"},
      // root-relative: the root of the current drive or share
      {L"\\x\\a.xml", L"C:\\Work", L"C:\\x\\a.xml"},
      {L"/tmp/x.xml", L"Z:\\work", L"Z:\\tmp\\x.xml"},
      {L"\\..\\a.xml", L"Z:\\work\\sub", L"Z:\\a.xml"},
      {L"\\", L"Z:\\work", L"Z:\\"},
      {L"\\x\\a.xml", L"\\\\server\\share\\dir", L"\\\\server\\share\\x\\a.xml"},
      {L"/x/../../a.xml", L"\\\\server\\share\\dir", L"\\\\server\\share\\a.xml"},
      {L"\\", L"\\\\server\\share\\dir", L"\\\\server\\share\\"},
      // drive-relative: the same drive from the current directory, another from its root
      {L"C:x.xml", L"C:\\Work", L"C:\\Work\\x.xml"},
      {L"c:x.xml", L"C:\\Work", L"C:\\Work\\x.xml"},
      {L"C:..\\x.xml", L"C:\\Work\\sub", L"C:\\Work\\x.xml"},
      {L"C:", L"C:\\Work", L"C:\\Work\\"},
      {L"D:", L"C:\\Work", L"D:\\"},
      {L"D:x.xml", L"C:\\Work", L"D:\\x.xml"},
      {L"D:..\\x.xml", L"C:\\Work", L"D:\\x.xml"},
      {L"C:x.xml", L"\\\\server\\share\\dir", L"C:\\x.xml"},
      // a share as the current directory
      {L"a.xml", L"\\\\server\\share\\dir", L"\\\\server\\share\\dir\\a.xml"},
      {L"a.xml", L"\\\\server\\share\\dir\\", L"\\\\server\\share\\dir\\a.xml"},
      {L"..\\..\\..\\a.xml", L"\\\\server\\share\\dir", L"\\\\server\\share\\a.xml"},
      // shares themselves
      {L"\\\\server\\share\\a\\..\\b.xml", L"C:\\Work", L"\\\\server\\share\\b.xml"},
      {L"//server/share/a/b.xml", L"C:\\Work", L"\\\\server\\share\\a\\b.xml"},
      {L"\\\\server\\share\\..\\..\\b.xml", L"C:\\Work", L"\\\\server\\share\\b.xml"},
      {L"\\\\server\\share\\a\\..", L"C:\\Work", L"\\\\server\\share\\"},
      {L"\\\\server\\share", L"C:\\Work", L"\\\\server\\share"},
      // trailing dots and blanks of names
      {L"a.xml.", L"C:\\Work", L"C:\\Work\\a.xml"},
      {L"a.xml . ", L"C:\\Work", L"C:\\Work\\a.xml"},
      {L"dir.\\a.xml", L"C:\\Work", L"C:\\Work\\dir\\a.xml"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeAbsolutePath(c.path, c.cwd, PathSyntax::Windows), c.expected)
        << "path " << testing::PrintToString(std::wstring(c.path)) << " in "
        << testing::PrintToString(std::wstring(c.cwd));
}

TEST(Paths, MakeAbsoluteUsesTheCurrentDirectoryNotTheExecutables) {
  test::TempDir dir;  // a folder that is surely not the test program's
  const test::CurrentDirectory cd(dir.path());
  EXPECT_EQ(MakeAbsolutePath(L"a.xml"), MakeAbsolutePath(L"a.xml", dir.path(), kNativePathSyntax));
  EXPECT_NE(MakeAbsolutePath(L"a.xml"), MakeAbsolutePath(L"a.xml", GetModuleDirectory(), kNativePathSyntax));
  ASSERT_NE(GetModuleDirectory(), L"");
  const wchar_t last = GetModuleDirectory().back();
  EXPECT_TRUE(last == L'/' || (kNativePathSyntax == PathSyntax::Windows && last == L'\\'));
}

}  // namespace
}  // namespace zantrel

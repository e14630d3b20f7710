#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/input_loader.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::ChatNumbers;
using test::CommentXml;
using test::TempDir;
using test::WriteFile;
using Numbers = std::vector<std::string>;

// Files in.0 ... with the given contents; a missing content leaves no file.
std::vector<std::wstring> WriteInputs(const TempDir& dir, const std::vector<std::string>& contents) {
  std::vector<std::wstring> paths;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    paths.push_back(dir / (L"in" + std::to_wstring(i) + L".xml"));
    if (!contents[i].empty()) WriteFile(paths.back(), contents[i]);
  }
  return paths;
}

// What Take answered for each index: the chat numbers, or the failure text.
std::vector<std::string> TakeAll(InputLoader& loader, std::size_t first, std::size_t n,
                                 bool dispose) {
  std::vector<std::string> got;
  for (std::size_t i = first; i < n; ++i) {
    try {
      DocumentHandle doc = loader.Take(i);
      std::string numbers;
      for (const auto& no : ChatNumbers(doc)) numbers += no + " ";
      got.push_back(numbers);
      if (dispose) loader.Dispose(std::move(doc));
    } catch (const CallTextError& e) {
      got.push_back(std::string("failed: ") + e.what());
    }
  }
  return got;
}

TEST(InputLoader, EachInputArrivesOrFailsAtItsOwnTurn) {
  const std::string bad = "<packet><chat no=\"1\"></packet>";
  const std::string failed = "failed: pDoc->load()[loadXML()]";
  struct Case {
    const char* name;
    std::vector<std::string> contents;  // "" : no such file
    std::size_t first;
    std::vector<std::string> expected;  // from `first` on
  };
  const Case cases[] = {
      {"all well-formed", {CommentXml({1}), CommentXml({2, 3}), CommentXml({4}), CommentXml({5, 6})}, 1,
       {"2 3 ", "4 ", "5 6 "}},
      {"from the start", {CommentXml({1}), CommentXml({2})}, 0, {"1 ", "2 "}},
      {"a single one", {CommentXml({1}), CommentXml({7})}, 1, {"7 "}},
      // After a failure the loader reads nothing ahead; later inputs are still served.
      {"a malformed one in the middle", {CommentXml({1}), CommentXml({2}), bad, CommentXml({4})}, 1,
       {"2 ", failed, "4 "}},
      {"a missing one first", {CommentXml({1}), "", CommentXml({3})}, 1, {failed, "3 "}},
      {"nothing to load", {CommentXml({1})}, 1, {}},
  };
  for (const auto& c : cases) {
    for (const bool dispose : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (dispose ? ", disposing" : ""));
      TempDir dir;
      const auto paths = WriteInputs(dir, c.contents);
      InputLoader loader(paths, c.first);
      EXPECT_EQ(TakeAll(loader, c.first, paths.size(), dispose), c.expected);
    }
  }
}

TEST(InputLoader, ReadsAtMostOneInputAheadOfTheJob) {
  TempDir dir;
  const auto paths = WriteInputs(dir, {CommentXml({1}), CommentXml({2}), CommentXml({3}), CommentXml({4})});
  InputLoader loader(paths, 1);
  DocumentHandle second = loader.Take(1);
  // Input 2 may be read now, input 3 not before input 2 is taken: what it holds
  // then is what the job gets.
  WriteFile(paths[3], CommentXml({40, 41}));
  EXPECT_EQ(ChatNumbers(loader.Take(2)), (Numbers{"3"}));
  EXPECT_EQ(ChatNumbers(loader.Take(3)), (Numbers{"40", "41"}));
  EXPECT_EQ(ChatNumbers(second), (Numbers{"2"}));
}

TEST(InputLoader, TakesOutOfOrderAreRefused) {
  TempDir dir;
  const auto paths = WriteInputs(dir, {CommentXml({1}), CommentXml({2}), CommentXml({3})});
  InputLoader loader(paths, 1);
  EXPECT_THROW(loader.Take(2), std::logic_error);
  EXPECT_EQ(ChatNumbers(loader.Take(1)), (Numbers{"2"}));
  EXPECT_THROW(loader.Take(1), std::logic_error);
  EXPECT_EQ(ChatNumbers(loader.Take(2)), (Numbers{"3"}));
  EXPECT_THROW(loader.Take(3), std::logic_error);
}

// The loader goes with documents not taken yet and others not freed yet (the
// sanitizer builds report a leak or a use after free); what the job took and kept
// is the job's and stays whole.
TEST(InputLoader, GoesAwayLeavingTheTakenDocumentsWhole) {
  TempDir dir;
  std::vector<std::string> contents;
  for (int i = 0; i < 6; ++i) contents.push_back(CommentXml({i, i + 1}));
  const auto paths = WriteInputs(dir, contents);
  for (std::size_t taken = 0; taken < 5; ++taken) {
    SCOPED_TRACE(taken);
    std::vector<DocumentHandle> kept;
    std::vector<Numbers> expected;
    {
      InputLoader loader(paths, 1);
      for (std::size_t i = 1; i <= taken; ++i) {
        DocumentHandle doc = loader.Take(i);
        if (i % 2 == 0) {
          loader.Dispose(std::move(doc));
          continue;
        }
        kept.push_back(std::move(doc));
        expected.push_back({std::to_string(i), std::to_string(i + 1)});
      }
    }
    std::vector<Numbers> got;
    for (const auto& doc : kept) got.push_back(ChatNumbers(doc));
    EXPECT_EQ(got, expected);
  }
}

}  // namespace
}  // namespace zantrel

#include <gtest/gtest.h>

#include <boost/lexical_cast.hpp>
#include <random>

#include "base/text.hpp"
#include "comments/operations.hpp"
#include "comments/progress.hpp"
#include "comments/vocabulary.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::Chat;
using test::CommentXml;
using test::ParseDocument;

xml::Node FirstChat(const xml::DocumentHandle& doc) {
  xml::Node root;
  xml::GetDocumentElement(doc, root);
  return xml::GetElementsByTagName(root, L"chat").at(0);
}

// Every reader of a number reads it the same way: from an element, and from the
// attribute's text as a stream hands it over.
TEST(GetAttributeValue, ReadsSigned64BitNumbersStrictly) {
  struct Case {
    std::optional<std::string> text;
    std::optional<std::int64_t> value;  // nullopt: bad_lexical_cast
  };
  const Case cases[] = {
      {"12", 12}, {"012", 12}, {"+12", 12}, {"-1", -1}, {std::nullopt, 0},
      {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt}, {" 1", std::nullopt}, {"1 ", std::nullopt},
      {"1e3", std::nullopt}, {"", std::nullopt}, {"0x10", std::nullopt}, {"1,000", std::nullopt},
      {"\xEF\xBC\x91", std::nullopt},  // a full-width digit
      {"000000000000000042", 42}, {"999999999999999999", 999999999999999999},  // plain digits at the edge
      {"0000000000000000042", 42}, {"9999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.value_or("(absent)"));
    const auto doc = ParseDocument(CommentXml(std::vector<Chat>{{c.text, "x"}}));
    const std::optional<std::string_view> text = c.text;
    if (c.value) {
      EXPECT_EQ(GetAttributeValue(L"no", FirstChat(doc), 0), *c.value);
      EXPECT_EQ(CommentNumber(FirstChat(doc)), *c.value);
      EXPECT_EQ(CommentNumberOf(text), *c.value);
      EXPECT_EQ(TryCommentNumberOf(text), c.value);
    } else {
      EXPECT_THROW(GetAttributeValue(L"no", FirstChat(doc), 0), boost::bad_lexical_cast);
      EXPECT_THROW(CommentNumber(FirstChat(doc)), boost::bad_lexical_cast);
      EXPECT_THROW(CommentNumberOf(text), boost::bad_lexical_cast);
      EXPECT_EQ(TryCommentNumberOf(text), std::nullopt);
    }
  }
  const auto doc = ParseDocument(CommentXml(std::vector<Chat>{{std::nullopt, "x"}}));
  EXPECT_EQ(GetAttributeValue(L"no", FirstChat(doc), -7), -7);
  EXPECT_EQ(GetAttributeText(FirstChat(doc), L"no", L"dflt"), L"dflt");
  EXPECT_THROW(GetAttributeValue(L"no", xml::Node(), 0), ComError);
}

TEST(ProgressTick, FollowsTheFivePercentRuleAcrossCalls) {
  // Each row: the item counts of successive calls in one fresh process, and the
  // ticks each call writes.
  struct Case {
    const char* name;
    std::vector<std::size_t> counts;
    std::vector<int> ticks;
  };
  const Case cases[] = {
      {"first merge skips 0", {100, 100}, {19, 20}},
      {"single items never tick", {1, 1, 1}, {0, 0, 0}},
      {"ten items hit every tenth", {10}, {9}},
      {"three items hit only 0", {3, 100}, {0, 19}},
      {"a last tick of 0 suppresses the next 0", {100, 1, 100}, {19, 1, 19}},
      {"empty list", {0, 20}, {0, 19}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int last = 0;
    for (std::size_t call = 0; call < c.counts.size(); ++call) {
      test::LogCapture log;
      for (std::size_t i = 0; i < c.counts[call]; ++i) ProgressTick(last, i, c.counts[call], &AppendLog);
      EXPECT_EQ(log.Text(), std::wstring(static_cast<std::size_t>(c.ticks[call]), L'|'))
          << "call " << call;
    }
  }
}

TEST(RemoveDuplicateComments, FailuresStopTheWalk) {
  ResetProgressTicks();  // as in a new process, whatever tests ran before
  test::LogCapture log;
  // A malformed number, also on a chat that would stay.
  auto doc = ParseDocument(CommentXml(std::vector<Chat>{{"1", "a"}, {"x1", "b"}}));
  EXPECT_THROW(RemoveDuplicateComments(doc, &AppendLog), boost::bad_lexical_cast);
  EXPECT_EQ(log.Lines().back(), L"重複コメントの削除中...");  // no " 完了"
  // A duplicate that is not a direct child of the root cannot be removed.
  doc = ParseDocument("<packet><chat no=\"1\"/><g><chat no=\"1\"/></g></packet>");
  EXPECT_THROW(RemoveDuplicateComments(doc, &AppendLog), ComError);
  // A duplicate nested inside a removed duplicate: found, then refused, no crash.
  doc = ParseDocument("<packet><chat no=\"1\"/><chat no=\"1\"><chat no=\"1\"/></chat></packet>");
  EXPECT_THROW(RemoveDuplicateComments(doc, &AppendLog), ComError);
}

TEST(MergeComments, StructureOfTheResult) {
  ResetProgressTicks();
  test::LogCapture log;
  // The added file's thread stays behind; nested chats land directly under packet;
  // the base's thread after the chats stays where it is.
  const auto base = ParseDocument("<packet><chat no=\"1\"/><thread last_res=\"1\"/></packet>");
  const auto added = ParseDocument(
      "<other><thread last_res=\"77\"/><group><chat no=\"2\"/></group><chat no=\"3\"/></other>");
  MergeComments(added, base, &AppendLog);
  xml::Node root;
  xml::GetDocumentElement(base, root);
  const auto chats = xml::GetElementsByTagName(root, L"chat");
  ASSERT_EQ(chats.size(), 3u);
  for (const auto& chat : chats) EXPECT_TRUE(xml::SelectSingleNode(chat, L"parent::packet"));
  EXPECT_FALSE(xml::SelectSingleNode(root, L"/packet/thread[2]"));
  EXPECT_TRUE(xml::SelectSingleNode(root, L"/packet/chat[1]/following-sibling::thread"));
  EXPECT_EQ(test::LastRes(base), std::optional<std::string>("1"));
}

// The low 32 bits of the last chat's number in document order go into
// /packet/thread (the attribute made where missing); a failure changes nothing.
TEST(UpdateLastRes, LastChatsLow32BitsOrAFailureThatChangesNothing) {
  const auto numbers = [](std::initializer_list<const char*> nos) {
    std::vector<Chat> chats;
    for (const char* no : nos) chats.push_back({no ? std::optional<std::string>(no) : std::nullopt, "x"});
    return CommentXml(chats);
  };
  struct Case {
    std::string xml;
    std::string outcome;  // the last_res text, or the failure: com, cast, call
  };
  const Case cases[] = {
      {numbers({"1000"}), "1000"}, {numbers({"0042"}), "42"}, {numbers({"3", "1", "2"}), "2"},
      {numbers({"5", nullptr}), "0"}, {numbers({"-1"}), "4294967295"}, {numbers({"4294967296"}), "0"},
      {numbers({"4294967297"}), "1"}, {numbers({"-9223372036854775808"}), "0"},
      {"<packet><chat no=\"8\"/><thread/></packet>", "8"},
      {"<packet><thread/><chat no=\"1\"/><g><chat no=\"7\"><x/></chat></g><!--c--></packet>", "7"},
      {"<packet><thread/><chat no=\"1\"><chat no=\"2\"/>text</chat></packet>", "2"},
      {"<packet><thread last_res=\"5\"/></packet>", "com"},
      {"<packet/>", "com"},
      {"<packet><thread last_res=\"5\"/><chat no=\"1\"/><chat no=\"x\"/></packet>", "cast"},
      {"<packet><chat no=\"1\"/></packet>", "call"},
      {"<packet><g><thread last_res=\"5\"/></g><chat no=\"1\"/></packet>", "call"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    const auto doc = ParseDocument(c.xml);
    const auto before = test::LastRes(doc);
    std::string outcome;
    try {
      UpdateLastRes(doc);
      outcome = test::LastRes(doc).value_or("(none)");
    } catch (const ComError& e) {
      outcome = e.Error() == kEPointer ? "com" : "other com";
    } catch (const boost::bad_lexical_cast&) {
      outcome = "cast";
    } catch (const CallTextError&) {
      outcome = "call";
    }
    EXPECT_EQ(outcome, c.outcome);
    if (outcome == "com" || outcome == "cast" || outcome == "call") {
      EXPECT_EQ(test::LastRes(doc), before);
    }
  }
}

// Removal after a merge looks only at the appended chats while the job's index of
// the base holds. It must give the same log and the same chats as a walk over the
// whole document, which a fresh index for every merge makes.
TEST(MergeComments, ShortcutMatchesAFullWalk) {
  std::vector<std::vector<std::string>> jobs = {
      // A removed duplicate that holds a chat takes it along: the next merge must
      // not count it as present.
      {"<packet><thread/><chat no=\"1\"/><chat no=\"1\"><chat no=\"5\"/></chat></packet>", "<packet/>",
       "<packet><chat no=\"5\"/></packet>", "<packet><chat no=\"6\"/></packet>"},
      {"<packet><chat no=\"1\"><chat no=\"2\"/></chat></packet>", "<p><chat no=\"2\"><chat no=\"3\"/></chat></p>",
       "<p><chat no=\"3\"/><chat no=\"4\"/></p>"},
      // Later copies nested inside kept chats, and a kept chat inside a later copy.
      {"<packet><thread/><chat no=\"1\"/></packet>", "<p><chat no=\"2\"/></p>",
       "<p><chat no=\"7\"><chat no=\"1\"/><chat no=\"2\"><chat no=\"8\"/></chat></chat><chat no=\"9\"/></p>",
       "<p><chat no=\"8\"/><chat no=\"x\"/><chat no=\"1\"/></p>"},
  };
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> files;
    const int fileCount = 2 + static_cast<int>(random() % 5);
    for (int f = 0; f < fileCount; ++f) {
      std::vector<Chat> chats;
      const int count = static_cast<int>(random() % 60);
      for (int c = 0; c < count; ++c) {
        const auto r = random() % 100;
        chats.push_back(r < 3 ? Chat{std::nullopt, "x"} : Chat{std::to_string(random() % 80), "x"});
      }
      files.push_back(CommentXml(chats));
    }
    jobs.push_back(files);
  }
  for (std::size_t job = 0; job < jobs.size(); ++job) {
    const auto& files = jobs[job];
    const auto run = [&](bool keepIndex) {
      TickState ticks;
      test::LogCapture log;
      const auto base = ParseDocument(files[0]);
      CommentIndex index;
      for (std::size_t f = 1; f < files.size(); ++f) {
        if (!keepIndex) index.Forget();
        try {
          MergeComments(ParseDocument(files[f]), base, index, &AppendLog, ticks);
        } catch (const std::exception& e) {
          AppendLog(L"error: " + Utf8ToWide(e.what()));  // the log must stop at the same place
          break;
        }
      }
      return std::make_pair(log.Text(), test::ChatNumbers(base));
    };
    EXPECT_EQ(run(true), run(false)) << "job " << job;
  }
}

TEST(ProgressTick, ShortFormMatchesEveryIndex) {
  for (std::size_t count : {1u, 3u, 7u, 10u, 19u, 20u, 21u, 99u, 100u, 101u, 1234u}) {
    for (std::size_t end = 0; end <= count; end += (count / 7) + 1) {
      for (int start : {0, 5, 50, 95}) {
        int one = start, all = start;
        test::LogCapture a;
        ProgressTicksBefore(one, end, count, &AppendLog);
        const std::wstring shortForm = a.Text();
        test::LogCapture b;
        for (std::size_t k = 0; k < end; ++k) ProgressTick(all, k, count, &AppendLog);
        EXPECT_EQ(shortForm, b.Text()) << count << " " << end << " " << start;
        EXPECT_EQ(one, all);
      }
    }
  }
}

}  // namespace
}  // namespace zantrel

// All-or-nothing writing on POSIX: both temporary-file roads (unnamed where the
// file system has O_TMPFILE, named elsewhere), long target names, and the
// termination thread that clears a named temporary file away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "engine/errors.hpp"
#include "base/text.hpp"
#include "engine/file_io.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::TempDir;

constexpr TemporaryFile kKinds[] = {TemporaryFile::UnnamedWherePossible, TemporaryFile::Named};

const char* KindName(TemporaryFile kind) {
  return kind == TemporaryFile::Named ? "named" : "unnamed where possible";
}

// Bytes in short: a failure message stays readable with megabytes of output.
std::string Summary(const std::string& bytes) {
  return std::to_string(bytes.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(bytes));
}

// Every file of the folder with its bytes: the whole outcome of a save.
std::map<std::wstring, std::string> Files(const TempDir& dir) {
  std::map<std::wstring, std::string> files;
  for (const auto& name : dir.Entries()) files[name] = Summary(test::ReadFile(dir / name));
  return files;
}

std::map<std::wstring, std::string> OldTargetOnly(bool existing) {
  if (!existing) return {};
  return {{L"out.xml", Summary("OLD")}};
}

// The output in pieces, as libxml2 hands them over.
auto Pieces(const std::string& text) {
  return [text](const ByteSink& sink) {
    for (std::size_t i = 0; i < text.size(); i += 4000) ASSERT_TRUE(sink(std::string_view(text).substr(i, 4000)));
  };
}

TEST(WriteFileAtomically, TargetNamesUpToTheLimitSaveOnBothRoads) {
  const std::string output = "<packet/>" + std::string(3 << 20, 'x');  // past the 1 MiB write
  const std::wstring names[] = {
      L"a.xml",
      std::wstring(244, L'n') + L".xml",  // 248 bytes
      std::wstring(251, L'n') + L".xml",  // 255 bytes, the most a name may have
      std::wstring(82, L'\u82B1') + L".xml",  // 82 kanji: 250 bytes of UTF-8
  };
  for (const TemporaryFile kind : kKinds) {
    for (const auto& name : names) {
      for (const bool existing : {false, true}) {
        SCOPED_TRACE(std::string(KindName(kind)) + ", " + std::to_string(name.size()) + " characters" +
                     (existing ? ", existing target" : ", new target"));
        TempDir dir;
        const std::string target = WideToNative(dir / name);
        // A replaced file keeps its permissions and, saved by the superuser, its owner.
        const bool root = ::geteuid() == 0;
        if (existing) {
          test::WriteFile(dir / name, "OLD");
          ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
          ASSERT_TRUE(!root || ::chown(target.c_str(), 4242, 4343) == 0);
        }
        WriteFileAtomically(dir / name, Pieces(output), kind);
        EXPECT_EQ(Files(dir), (std::map<std::wstring, std::string>{{name, Summary(output)}}));  // no temporary file
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        if (existing) {
          EXPECT_EQ(st.st_mode & 07777, 0600u);
          EXPECT_EQ(root ? std::make_pair(st.st_uid, st.st_gid) : std::make_pair(4242u, 4343u),
                    std::make_pair(4242u, 4343u));
        }
      }
    }
  }
}

TEST(WriteFileAtomically, FailedProducerLeavesTheOldTargetOnBothRoads) {
  for (const TemporaryFile kind : kKinds) {
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(std::string(KindName(kind)) + (existing ? ", existing target" : ", new target"));
      TempDir dir;
      if (existing) test::WriteFile(dir / L"out.xml", "OLD");
      const auto failing = [](const ByteSink& sink) {
        sink(std::string(2 << 20, 'x'));
        throw ComError(kEFail);
      };
      EXPECT_THROW(WriteFileAtomically(dir / L"out.xml", failing, kind), ComError);
      EXPECT_EQ(Files(dir), OldTargetOnly(existing));
    }
  }
}

// A termination signal mid-save, sent to the whole process as kill(1) and the
// terminal do: the process ends as killed by it, and no temporary file stays.
TEST(StartTerminationCleanup, SignalMidSaveLeavesOnlyTheOldTarget) {
  for (const TemporaryFile kind : kKinds) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
      for (const bool existing : {false, true}) {
        SCOPED_TRACE(std::string(KindName(kind)) + ", signal " + std::to_string(signal) +
                     (existing ? ", existing target" : ", new target"));
        TempDir dir;
        if (existing) test::WriteFile(dir / L"out.xml", "OLD");
        const auto interrupted = [signal](const ByteSink& sink) {
          sink(std::string(2 << 20, 'x'));  // the temporary file holds data by now
          ::kill(::getpid(), signal);
          for (;;) ::pause();  // the signal is blocked here: only its thread can end this
        };
        EXPECT_EXIT(
            {
              StartTerminationCleanup();
              WriteFileAtomically(dir / L"out.xml", interrupted, kind);
            },
            testing::KilledBySignal(signal), "");
        EXPECT_EQ(Files(dir), OldTargetOnly(existing));
      }
    }
  }
}

}  // namespace
}  // namespace zantrel

// Reading comment files without holding them as trees: each chat is serialised
// as the style sheet's output will hold it, onto an arena, as the parser closes
// it, and the tree keeps nothing of it. The base keeps its tree without the
// chats, with a place for each run of them; saving writes the kept chats' bytes
// into those places. Only a document whose saved form such bytes reproduce
// exactly is read so (no namespaces, chats holding only text, the base's chats
// children of its packet); any other answers NotReproducible.
//
// Any thread (one read per thread at a time); a SplicedBase or RebuiltTree and
// its arena are used by one thread at a time (a RebuiltTree may be handed from
// thread to thread between its calls, never used by two at once). Failures: a
// file that does not load throws CallTextError("pDoc->load()[loadXML()]") as
// LoadDocument would; memory and file handles running out throw ComError; what
// the receiver throws passes through and ends the read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_arena.hpp"
#include "base/read_ahead.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {

// True where the back end can read comments so (libxml2); false where it cannot
// (the COM component), and the functions below are never to be called.
bool CanStreamComments() noexcept;

struct StreamedChat {
  std::optional<std::string_view> number;  // its `no` text (UTF-8), none when absent; valid during the call
  std::uint32_t length = 0;                // its bytes, just appended to the arena
  bool startsRun = false;                  // base: no chat right before it in packet
};

// Sees each chat of an input in document order.
class ChatReceiver {
 public:
  virtual void Chat(const StreamedChat& chat) = 0;

 protected:
  ~ChatReceiver() = default;
};

enum class StreamOutcome { Read, NotReproducible, Stopped };

// A later input: every chat below its top element, serialised for `sheet`'s
// output onto `bytes`.
StreamOutcome StreamComments(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver,
                             const StopFlag& stop);

// The base read as a stream, for a plain copy: its tree without its chats, which
// the real transform takes, with the kept chats' bytes spliced into the saved
// result.
class SplicedBase {
 public:
  virtual ~SplicedBase() = default;
  // Before the transform: how many chats of each of the base's runs stay, in run
  // order, and how many are appended after everything packet holds.
  virtual void PlaceComments(const std::vector<std::size_t>& keptPerRun, std::size_t appended) = 0;
  // The tree the style sheet is applied to (a plain copy takes it over).
  virtual const DocumentHandle& Tree() const noexcept = 0;
  // Saves `result`, a plain copy's result of Tree(), with the kept chats in their
  // places: `lengths` are their bytes' lengths in document order, one after
  // another in `bytes`.
  virtual void Save(const DocumentHandle& result, const std::wstring& path, const Arena& bytes,
                    const std::vector<std::uint32_t>& lengths) const = 0;
};

// The base read as a stream, for a sheet that needs the whole document: the
// merged document becomes one tree, the tree the whole tree's merge holds, parsed
// from the kept chats' bytes while the later inputs are read.
class RebuiltTree {
 public:
  virtual ~RebuiltTree() = default;
  // Begins with the base and its own kept chats (`keptPerRun` as for
  // PlaceComments, `lengths` and `bytes` as for Save). False, having changed
  // nothing, where such a tree would differ from the whole tree's (texts that
  // join where a run of chats went): the job then needs the whole tree.
  virtual bool Begin(const std::vector<std::size_t>& keptPerRun, const Arena& bytes,
                     const std::vector<std::uint32_t>& lengths) = 0;
  // Adds a later input's kept chats, in input order: bytes [begin, end) of the
  // arena, read from the input `from`, which a failure names.
  virtual void Add(const Arena& bytes, std::size_t begin, std::size_t end, const std::wstring& from) = 0;
  // The merged document; the base is gone from here.
  virtual DocumentHandle Finish() = 0;
};

// Input 0 read so, its chats serialised for `sheet`'s output onto `bytes`; null
// when it is NotReproducible (a top element other than packet included).
std::unique_ptr<SplicedBase> StreamSplicedBase(const std::wstring& path, const Sheet& sheet, Arena& bytes,
                                               ChatReceiver& receiver);
std::unique_ptr<RebuiltTree> StreamRebuiltBase(const std::wstring& path, const Sheet& sheet, Arena& bytes,
                                               ChatReceiver& receiver);

}  // namespace zantrel::xml

// libFuzzer target: a chat's source is copied as it stands only where the
// serialiser writes exactly those bytes. For every input that the check answers
// yes and that parses as a chat holding only text, the serialiser's bytes for that
// chat must equal the input (a difference aborts), with an output encoding named
// (values keep characters beyond ASCII) and without one (they become references).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/libxml/chat_dump.hpp"
#include "serialised_chat.hpp"

namespace {

using namespace zantrel;

const xml::Sheet& Named() {
  static const xml::SheetHandle sheet = test::CopySheet("<xsl:output encoding=\"UTF-8\"/>");
  return *sheet;
}
const xml::Sheet& Unnamed() {
  static const xml::SheetHandle sheet = test::CopySheet("");
  return *sheet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  for (const bool named : {true, false}) {
    if (!xml::WrittenAsItStands(source, named)) continue;
    const std::optional<std::string> written = test::SerialisedChat(source, named ? Named() : Unnamed());
    if (written && *written != source) {
      std::fprintf(stderr, "copied as it stands, but the serialiser writes (output encoding %s):\n%s\n",
                   named ? "named" : "none", written->c_str());
      std::abort();
    }
  }
  return 0;
}

// The save question without a window system: asked on a terminal.
//
// Shows the folder and name of `seed` (the first input after sorting), reads one
// answer; an empty answer or end of input cancels. A relative answer is taken in
// the seed's folder. The answer always ends in ".xml" (other extensions are
// replaced). A folder that does not exist asks again; an existing file asks for
// confirmation before it is chosen. Main thread; reads `in`, writes `out`.
#pragma once

#include <cstdio>
#include <string>

namespace zantrel {

std::wstring AskSavePathOnTerminal(const std::wstring& seed, std::FILE* in, std::FILE* out);

}  // namespace zantrel

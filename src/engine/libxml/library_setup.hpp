// Setting up libxml2 / libxslt once per process, before the first document: the
// parser, the EXSLT functions, Shift_JIS read and written as code page 932, the
// guarded entity loader and libxslt's error hook.
//
// Any thread; the first call does the work, every later one returns at once (the
// encoding table has no lock, so it is filled before any parse). Ownership: what
// it installs is process-wide and stays. Failures: none reported; the entity
// loader refuses (answers no input, with a message for the caller's ErrorScope)
// every resource of an input document, anything with a network scheme, and any
// file that is not a regular local one or has an element with too many attributes.
#pragma once

namespace zantrel::xml {

void InitLibraries();

}  // namespace zantrel::xml

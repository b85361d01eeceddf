#pragma once

// The entry points of the BSD line-editing library (histedit.h), as the
// terminal reader calls them.
//
// A shell linked against the shared C library loads the line-editing library
// when the first line is edited (line_reader.cc). A static shell cannot load
// shared libraries: it links the library in, and edit_library_linked.cc
// offers its entry points before main runs.

#include <histedit.h>

namespace zephro::shell {

struct EditLibrary {
  decltype(&::el_init) el_init = nullptr;
  decltype(&::el_end) el_end = nullptr;
  decltype(&::el_gets) el_gets = nullptr;
  decltype(&::el_reset) el_reset = nullptr;
  decltype(&::el_set) el_set = nullptr;
  decltype(&::el_get) el_get = nullptr;
  decltype(&::el_source) el_source = nullptr;
  decltype(&::history_init) history_init = nullptr;
  decltype(&::history_end) history_end = nullptr;
  decltype(&::history) history = nullptr;
};

// Makes the terminal reader use `library` (linked into the program, kept for
// its life) instead of loading one. Takes effect only before the first line
// is edited.
void UseLinkedEditLibrary(const EditLibrary& library) noexcept;

}  // namespace zephro::shell

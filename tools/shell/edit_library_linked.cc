// The line-editing library linked into a static shell: its entry points are
// offered to the terminal reader before main runs, so that it never tries to
// load the shared library.

#include "edit_library.h"

namespace zephro::shell {
namespace {

const EditLibrary kLinked{&::el_init, &::el_end,    &::el_gets,      &::el_reset,    &::el_set,
                          &::el_get,  &::el_source, &::history_init, &::history_end, &::history};

[[maybe_unused]] const bool kOffered = (UseLinkedEditLibrary(kLinked), true);

}  // namespace
}  // namespace zephro::shell

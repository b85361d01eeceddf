#pragma once

// The groups of functions the miscellaneous package lists, each registered
// by the file that holds it.

namespace zephro {

class TUserPackage;

// The four constraint-checking switches (misc_types.cc).
void AddMiscTypeFunctions(TUserPackage& package);
// is-, list-def-, ppdef- and undef- of every construct, is-binding and
// list-bindings (misc_constructs.cc).
void AddMiscConstructFunctions(TUserPackage& package);
// parse, guard, set-reset-globals, setgen (misc_engine.cc).
void AddMiscEngineFunctions(TUserPackage& package);
// input-box, input-query, message-dlg, show-message (misc_dialogs.cc).
void AddMiscDialogFunctions(TUserPackage& package);
// time, system-datetime, system-date, system-time, the text conversions
// (str-..., ...-str, datetime-str-format), decode-... and encode-date,
// encode-time (misc_datetime.cc).
void AddMiscDateTimeFunctions(TUserPackage& package);

}  // namespace zephro

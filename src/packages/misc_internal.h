#pragma once

// The groups of functions the miscellaneous package lists, each registered
// by the file that holds it.

namespace zephro {

class TUserPackage;

// is-deftype, list-deftypes, ppdeftype, undeftype and the four
// constraint-checking switches (misc_types.cc).
void AddMiscTypeFunctions(TUserPackage& package);

// time, system-datetime, system-date, system-time, the text conversions
// (str-..., ...-str, datetime-str-format), decode-... and encode-date,
// encode-time (misc_datetime.cc).
void AddMiscDateTimeFunctions(TUserPackage& package);

}  // namespace zephro

#pragma once

// The vocabulary of the host's message dialogs: the kind of a dialog, the
// buttons it offers and the result of the button pressed, each with the names
// the language uses for them ("mtWarning", "mbYes", "mrCancel").
//
// A button set is written as the names of its buttons separated by commas or
// blanks, optionally in brackets: "[mbYes, mbNo]", "mbOK mbCancel". The "mb"
// prefix may be left out ("Yes, No"); names match without regard to case.
//
// Thread safety: the functions are pure.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zephro/platform/enum_set.h"

namespace zephro {

enum class TMsgDlgType : std::uint8_t {
  mtWarning,
  mtError,
  mtInformation,
  mtConfirmation,
  mtCustom
};

enum class TMsgDlgBtn : std::uint8_t {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = EnumSet<TMsgDlgBtn>;

enum class TModalResult : std::uint8_t {
  mrNone,
  mrOk,
  mrCancel,
  mrAbort,
  mrRetry,
  mrIgnore,
  mrYes,
  mrNo,
  mrAll,
  mrNoToAll,
  mrYesToAll
};

// "mtWarning" ...; the type of a name, or nothing for an unknown one (exact
// case, as the language writes these names).
std::string_view MsgDlgTypeName(TMsgDlgType type);
std::optional<TMsgDlgType> MsgDlgTypeFromName(std::string_view name);

// "mbYes" ... and "mrCancel" ...
std::string_view MsgDlgBtnName(TMsgDlgBtn button);
std::string_view ModalResultName(TModalResult result);

// The buttons of a set text (see above). Raises EBaseException "Invalid item
// for set: %s" naming the first item that is no button, with its prefix.
TMsgDlgButtons MsgDlgButtonsFromText(std::string_view text);

// The result of pressing `button`: mbOK gives mrOk, mbHelp mrNone, the
// others the result of the same name.
TModalResult ModalResultOf(TMsgDlgBtn button);

// The button an answer typed at a console names: a button of `buttons`
// whose name, with or without its "mb" prefix, equals the answer without
// regard to case, or else the only button of `buttons` whose name without
// the prefix starts with the answer ("y" for mbYes when no other button
// starts with "y"). Nothing when the answer names none.
std::optional<TMsgDlgBtn> ButtonOfAnswer(std::string_view answer, TMsgDlgButtons buttons);

}  // namespace zephro

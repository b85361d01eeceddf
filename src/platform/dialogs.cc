#include "zephro/platform/dialogs.h"

#include <array>
#include <string>

#include "zephro/platform/set_text.h"

#include "platform/ascii.h"

namespace zephro {
namespace {

constexpr std::array<std::string_view, 5> kTypeNames = {
    "mtWarning", "mtError", "mtInformation", "mtConfirmation", "mtCustom"};

constexpr std::array<std::string_view, 11> kButtonNames = {
    "mbYes", "mbNo",  "mbOK",  "mbCancel",  "mbAbort",   "mbRetry",
    "mbIgnore", "mbAll", "mbNoToAll", "mbYesToAll", "mbHelp"};

constexpr std::array<std::string_view, 11> kResultNames = {
    "mrNone", "mrOk",  "mrCancel", "mrAbort",   "mrRetry",   "mrIgnore",
    "mrYes",  "mrNo",  "mrAll",    "mrNoToAll", "mrYesToAll"};

constexpr std::string_view kButtonPrefix = "mb";

// The name without its "mb".
std::string_view Bare(std::string_view name) { return name.substr(kButtonPrefix.size()); }

bool StartsWithText(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && SameText(text.substr(0, start.size()), start);
}

}  // namespace

std::string_view MsgDlgTypeName(TMsgDlgType type) {
  return kTypeNames[static_cast<std::size_t>(type)];
}

std::optional<TMsgDlgType> MsgDlgTypeFromName(std::string_view name) {
  for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
    if (kTypeNames[i] == name) {
      return static_cast<TMsgDlgType>(i);
    }
  }
  return std::nullopt;
}

std::string_view MsgDlgBtnName(TMsgDlgBtn button) {
  return kButtonNames[static_cast<std::size_t>(button)];
}

std::string_view ModalResultName(TModalResult result) {
  return kResultNames[static_cast<std::size_t>(result)];
}

TMsgDlgButtons MsgDlgButtonsFromText(std::string_view text) {
  // The prefix is optional here, so each item is looked up as it is written
  // when it carries the prefix, and with the prefix put before it otherwise.
  std::uint64_t bits = 0;
  ForEachSetItem(text, [&](std::string_view item) {
    const bool prefixed = StartsWithText(item, kButtonPrefix) && item.size() > 2;
    bits |= StringToSetBits(item, kButtonNames, prefixed ? std::string_view() : kButtonPrefix);
  });
  return TMsgDlgButtons::FromBits(bits);
}

TModalResult ModalResultOf(TMsgDlgBtn button) {
  using enum TMsgDlgBtn;
  switch (button) {
    case mbYes: return TModalResult::mrYes;
    case mbNo: return TModalResult::mrNo;
    case mbOK: return TModalResult::mrOk;
    case mbCancel: return TModalResult::mrCancel;
    case mbAbort: return TModalResult::mrAbort;
    case mbRetry: return TModalResult::mrRetry;
    case mbIgnore: return TModalResult::mrIgnore;
    case mbAll: return TModalResult::mrAll;
    case mbNoToAll: return TModalResult::mrNoToAll;
    case mbYesToAll: return TModalResult::mrYesToAll;
    case mbHelp: return TModalResult::mrNone;
  }
  return TModalResult::mrNone;
}

std::optional<TMsgDlgBtn> ButtonOfAnswer(std::string_view answer, TMsgDlgButtons buttons) {
  if (answer.empty()) {
    return std::nullopt;
  }
  std::optional<TMsgDlgBtn> exact;
  std::optional<TMsgDlgBtn> started;
  int starting = 0;
  buttons.ForEach([&](TMsgDlgBtn button) {
    const std::string_view name = MsgDlgBtnName(button);
    if (SameText(name, answer) || SameText(Bare(name), answer)) {
      exact = button;
    } else if (StartsWithText(Bare(name), answer)) {
      started = button;
      ++starting;
    }
  });
  if (exact) {
    return exact;
  }
  return starting == 1 ? started : std::nullopt;
}

}  // namespace zephro

#include "zephro/platform/dialogs.h"

#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using enum TMsgDlgBtn;

TEST(DialogsTest, ButtonSetTexts) {
  struct {
    const char* text;
    TMsgDlgButtons buttons;
  } const kCases[] = {
      {"", {}},
      {"[]", {}},
      {"[mbYes, mbNo]", {mbYes, mbNo}},
      {"mbOK mbCancel", {mbOK, mbCancel}},
      {"[Yes,No,Cancel]", {mbYes, mbNo, mbCancel}},
      {" [ mbyestoall ,  NOTOALL ] ", {mbYesToAll, mbNoToAll}},
      {"mbHelp mbHelp", {mbHelp}},
      {"abort retry ignore all", {mbAbort, mbRetry, mbIgnore, mbAll}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MsgDlgButtonsFromText(c.text), c.buttons);
  }
  for (const char* bad : {"[mbYes, Maybe]", "mb", "Yes;No", "[mbOK] x"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(MsgDlgButtonsFromText(bad), EBaseException);
  }
  EXPECT_THAT([] { MsgDlgButtonsFromText("[mbYes, Maybe]"); },
              ::testing::ThrowsMessage<EBaseException>(
                  ::testing::StrEq("Invalid item for set: mbMaybe")));
}

TEST(DialogsTest, AnswersNameButtons) {
  const TMsgDlgButtons yes_no_cancel{mbYes, mbNo, mbCancel};
  const TMsgDlgButtons all_kinds{mbYes, mbYesToAll, mbNo, mbNoToAll};
  struct {
    const char* answer;
    TMsgDlgButtons buttons;
    std::optional<TMsgDlgBtn> button;
  } const kCases[] = {
      {"yes", yes_no_cancel, mbYes},
      {"mbNo", yes_no_cancel, mbNo},
      {"Y", yes_no_cancel, mbYes},
      {"c", yes_no_cancel, mbCancel},
      {"ok", yes_no_cancel, std::nullopt},  // not offered
      {"", yes_no_cancel, std::nullopt},
      {"y", all_kinds, std::nullopt},  // Yes or YesToAll
      {"yes", all_kinds, mbYes},       // the exact name wins
      {"yest", all_kinds, mbYesToAll},
      {"NoToAll", all_kinds, mbNoToAll},
      {"nope", all_kinds, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.answer);
    EXPECT_EQ(ButtonOfAnswer(c.answer, c.buttons), c.button);
  }
}

TEST(DialogsTest, NamesAndResults) {
  for (int i = 0; i <= static_cast<int>(TMsgDlgType::mtCustom); ++i) {
    const auto type = static_cast<TMsgDlgType>(i);
    EXPECT_EQ(MsgDlgTypeFromName(MsgDlgTypeName(type)), type);
  }
  EXPECT_EQ(MsgDlgTypeFromName("mtwarning"), std::nullopt);
  // Every button but Help gives the result of its own name.
  for (int i = 0; i <= static_cast<int>(mbHelp); ++i) {
    const auto button = static_cast<TMsgDlgBtn>(i);
    SCOPED_TRACE(std::string(MsgDlgBtnName(button)));
    const std::string result(ModalResultName(ModalResultOf(button)));
    if (button == mbHelp) {
      EXPECT_EQ(result, "mrNone");
    } else {
      EXPECT_THAT(result.substr(2),
                  ::testing::StrCaseEq(std::string(MsgDlgBtnName(button).substr(2))));
    }
  }
}

}  // namespace
}  // namespace zephro

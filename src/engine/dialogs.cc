// The dialogs of a knowledge base: the host's, or a console dialog on "t".

#include <string>

#include "zephro/engine/inference_engine.h"

namespace zephro {

void TInferenceEngine::ShowMessage(std::string_view message) {
  if (OnShowMessage) {
    OnShowMessage(*this, message);
    return;
  }
  PrintOut("t", std::string(message) + "\n");
}

bool TInferenceEngine::InputQuery(std::string_view caption, std::string_view prompt,
                                  std::string& value) {
  if (OnInputQuery) {
    return OnInputQuery(*this, caption, prompt, value);
  }
  std::string question;
  if (!caption.empty()) {
    question.append(caption).append("\n");
  }
  question.append(prompt);
  if (!value.empty()) {
    question.append(" [").append(value).append("]");
  }
  PrintOut("t", question + " ");
  std::string answer = ReadLine("t");
  if (answer.empty()) {
    return false;
  }
  value = std::move(answer);
  return true;
}

TModalResult TInferenceEngine::MessageDlg(std::string_view message, TMsgDlgType type,
                                          TMsgDlgButtons buttons, int help_context) {
  if (OnMessageDlg) {
    return OnMessageDlg(*this, message, type, buttons, help_context);
  }
  if (buttons.Empty()) {
    buttons.Include(TMsgDlgBtn::mbOK);
  }
  std::string choices = "(";
  buttons.ForEach([&](TMsgDlgBtn button) {
    if (choices.size() > 1) {
      choices += "/";
    }
    choices += MsgDlgBtnName(button).substr(2);
  });
  choices += ") ";
  PrintOut("t", std::string(message) + "\n");
  for (;;) {
    PrintOut("t", choices);
    const std::string answer = ReadLine("t");
    if (answer.empty()) {
      return TModalResult::mrCancel;
    }
    if (const std::optional<TMsgDlgBtn> button = ButtonOfAnswer(answer, buttons)) {
      return ModalResultOf(*button);
    }
  }
}

}  // namespace zephro

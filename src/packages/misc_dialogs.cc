// The miscellaneous package's dialogs: show-message, input-box, input-query
// and message-dlg, shown by the engine (the host's dialogs, or questions at
// the console).

#include <string>

#include "zephro/packages/misc_package.h"
#include "zephro/platform/dialogs.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

class TShowMessageFunction final : public TIEUserFunction {
 public:
  TShowMessageFunction()
      : TIEUserFunction(ShowMessageFunctionName, ShowMessageComment, ShowMessageSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    EngineOf(context).ShowMessage(EvalText(call, 0, context));
    return Ref<IIEValue>(&FCNil());
  }
};

// input-box and input-query: the caption, prompt and default are optional.
class TInputFunction final : public TIEUserFunction {
 public:
  TInputFunction(const char* name, const char* comment, bool query)
      : TIEUserFunction(name, comment, InputSyntax, 0, 3), query_(query) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const int n = call.ArgumentCount();
    const std::string caption = n > 0 ? EvalText(call, 0, context) : "";
    const std::string prompt = n > 1 ? EvalText(call, 1, context) : "";
    std::string value = n > 2 ? EvalText(call, 2, context) : "";
    const std::string default_value = value;
    if (!EngineOf(context).InputQuery(caption, prompt, value)) {
      if (query_) {
        return Ref<IIEValue>(&FCFalse());
      }
      value = default_value;
    }
    return TIEValue::String(value);
  }

 private:
  bool query_;
};

class TMessageDlgFunction final : public TIEUserFunction {
 public:
  TMessageDlgFunction()
      : TIEUserFunction(MessageDlgFunctionName, MessageDlgComment, MessageDlgSyntax, 2, 4) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const int n = call.ArgumentCount();
    const std::string message = EvalText(call, 0, context);
    const std::string type_name = EvalText(call, 1, context);
    const std::optional<TMsgDlgType> type = MsgDlgTypeFromName(type_name);
    if (!type) {
      RaiseIE(SBadArgument, type_name.c_str());
    }
    TMsgDlgButtons buttons{TMsgDlgBtn::mbOK};
    if (n > 2) {
      buttons = MsgDlgButtonsFromText(EvalText(call, 2, context));
    }
    const int help_context = n > 3 ? EvalInteger(call, 3, context) : 0;
    const TModalResult result =
        EngineOf(context).MessageDlg(message, *type, buttons, help_context);
    return TIEValue::Atom(ModalResultName(result));
  }
};

}  // namespace

void AddMiscDialogFunctions(TUserPackage& package) {
  package.AddFunction<TInputFunction>(InputBoxFunctionName, InputBoxComment, false);
  package.AddFunction<TInputFunction>(InputQueryFunctionName, InputQueryComment, true);
  package.AddFunction<TMessageDlgFunction>();
  package.AddFunction<TShowMessageFunction>();
}

}  // namespace zephro

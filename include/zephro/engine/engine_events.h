#pragma once

// TEngineEvents: the events an engine raises, each an optional handler the
// host assigns (an empty one is not called). The engine derives from it, so
// a handler is assigned as engine.OnPrintOut = ... . Every handler gets the
// engine as `sender`; what a handler may do from there is said in
// inference_engine.h (Re-entrancy).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "zephro/platform/dialogs.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class IStreamToken;
class TActivation;
class TRule;

class TInferenceEngine;
using TNotifyEvent = std::function<void(TInferenceEngine& sender)>;
using TFactEvent = std::function<void(TInferenceEngine& sender, IFact& fact)>;
using TRuleEvent = std::function<void(TInferenceEngine& sender, TRule& rule)>;
using TAgendaEvent =
    std::function<void(TInferenceEngine& sender, int index, TActivation& activation)>;
using TInferenceEvent = std::function<void(TInferenceEngine& sender, int rules_fired)>;
using TFactTemplateEvent = std::function<void(TInferenceEngine& sender, IFactTemplate& tmpl)>;
using TDefinedTypeEvent =
    std::function<void(TInferenceEngine& sender, IIEDefinedType& type)>;
using TUserFunctionEvent =
    std::function<void(TInferenceEngine& sender, IUserFunction& function)>;
using TPrintOutEvent =
    std::function<void(TInferenceEngine& sender, std::string_view out_id, std::string_view text)>;
using TReadLineEvent =
    std::function<void(TInferenceEngine& sender, std::string_view in_id, std::string& text)>;
// The dialogs a knowledge base shows (see TInferenceEngine::ShowMessage,
// InputQuery and MessageDlg). TInputQueryEvent gets the default answer in
// `value`, leaves the answer there and returns false when the user cancelled.
using TShowMessageEvent = std::function<void(TInferenceEngine& sender, std::string_view message)>;
using TInputQueryEvent = std::function<bool(TInferenceEngine& sender, std::string_view caption,
                                            std::string_view prompt, std::string& value)>;
using TMessageDlgEvent =
    std::function<TModalResult(TInferenceEngine& sender, std::string_view message,
                               TMsgDlgType type, TMsgDlgButtons buttons, int help_context)>;
using TReadTokenEvent = std::function<void(TInferenceEngine& sender, std::string_view in_id,
                                           Ref<IStreamToken>& token)>;

// A fuzzy fact asserted by a rule is about to be correlated with the
// rule's `strength`; setting `done` keeps the fact as the handler left it.
using TFuzzyCorrelationEvent =
    std::function<void(TInferenceEngine& sender, IFact& fact, float strength, bool& done)>;
// A new fuzzy fact meets an existing one of its template (`existing`); a
// handler that combines them itself stores the result in `fact` and sets
// `done`.
using TFactCombineEvent = std::function<void(TInferenceEngine& sender, IFact& fact,
                                             const IFact& existing, bool& done)>;

// Loading facts (LoadFacts, load-facts) has read (then asserted) `facts`
// facts so far; raised every kFactsLoadProgressStep facts.
using TLoadProgressEvent =
    std::function<void(TInferenceEngine& sender, std::int64_t facts, bool asserting)>;
inline constexpr std::int64_t kFactsLoadProgressStep = 50000;

struct TEngineEvents {
  // The agenda: an activation added at or removed from `index`; a rule fired.
  TAgendaEvent OnAddActivation;
  TAgendaEvent OnRemoveActivation;
  TRuleEvent OnRuleFired;
  // Runs, resets, clears; the built-in packages made (the host adds its own).
  TNotifyEvent OnStartInference;
  TInferenceEvent OnEndInference;
  TNotifyEvent OnReset;
  TNotifyEvent OnClear;
  TNotifyEvent OnAddDefaultPackages;
  // Working memory.
  TFactEvent OnAssertion;
  TFactEvent OnRetraction;
  TNotifyEvent OnClearFacts;
  // Fuzzy facts: correlation with a rule's strength, inference with an
  // existing fact (see TInferenceEngine::FuzzyCorrelation, FuzzyInference).
  TFuzzyCorrelationEvent OnFuzzyCorrelation;
  TFactCombineEvent OnFuzzyInference;
  // Constructs filed and removed.
  TRuleEvent OnAddRule;
  TRuleEvent OnRemoveRule;
  TFactTemplateEvent OnNewFactTemplate;
  TFactTemplateEvent OnRemoveFactTemplate;
  TNotifyEvent OnClearFactTemplates;
  TNotifyEvent OnClearRules;
  TDefinedTypeEvent OnAddDefinedType;
  TDefinedTypeEvent OnRemoveDefinedType;
  TNotifyEvent OnClearDefinedTypes;
  TUserFunctionEvent OnAddUserFunction;
  TUserFunctionEvent OnRemoveUserFunction;
  // Output and input by logical name: text printed, a line or a token read
  // on "t" (see TInferenceEngine::PrintOut, ReadLine and ReadToken).
  TPrintOutEvent OnPrintOut;
  TReadLineEvent OnReadLine;
  TReadTokenEvent OnReadToken;
  // Dialogs, for a host with a user interface; without a handler the engine
  // asks through PrintOut and ReadLine.
  TShowMessageEvent OnShowMessage;
  TInputQueryEvent OnInputQuery;
  TMessageDlgEvent OnMessageDlg;
  // Progress of a large load of facts, for a host that shows it.
  TLoadProgressEvent OnLoadProgress;
};

}  // namespace zephro

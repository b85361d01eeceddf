#pragma once

// TMiscPackage: the engine housekeeping commands: listings, pretty-printing,
// removing and testing for constructs, the engine switches, `parse` and
// `guard`, the dialogs, and the date and time functions (misc_datetime.h).
//
// Listings print one entry a line through PrintOut, then a count line; they
// return no value, so the shell echoes nothing after them:
//
//   (facts [start [end [max]]])   working memory, one fact a line in its
//                                 id-prefixed form ("f-1 (point (x 1))"): the
//                                 facts whose id lies in [start, end], at
//                                 most max of them, oldest first;
//                                 "For a total of 2 facts."
//   (rules [logical-name])        the rules' names in the order they were
//                                 defined (a redefined rule counts as new),
//                                 to the logical name (t by default);
//                                 "For a total of 2 rules."
//   (agenda)                      the activations in firing order, as the
//                                 activation trace shows them:
//                                 "salience rule : f-1, f-2 (strength)";
//                                 "for a total of 3 activations."
//   (list-defrules)               rule names, definition order; "defrules"
//   (list-deffacts)               fact set names, Reset order; "deffacts"
//   (list-deftemplates)           template names, definition order, the
//                                 engine's Initial-Fact included (its
//                                 internal "__" ones are not); "deftemplates"
//   (list-deffunctions [logical-name])
//                                 deffunction names, definition order (the
//                                 packages' functions are not listed);
//                                 "deffunctions"
//   (list-deftypes)               defined type names; "deftypes"
//   (list-defglobals)             "?*name* = value" with the current value,
//                                 definition order; "defglobals"
//   (list-bindings)               "?name = value" for each variable bound
//                                 where the call runs: the innermost scope
//                                 first, each in the order bound, up to the
//                                 top level (globals not included);
//                                 "bindings"
// Each count line but those of facts and rules reads "for a total of N
// <noun>."; the plural noun stands whatever the number.
//
// Constructs by name (the argument is evaluated and taken as text, so a
// variable's name is given as a string: (is-binding "?x")):
//   (is-defrule name), is-deffacts, is-deftemplate, is-deffunction (a
//   deffunction), is-deftype, is-defglobal (with or without the ?* *),
//   is-binding (with or without the ?: bound where the call runs)
//                                 TRUE or FALSE
//   (ppdefrule name), ppdeffacts, ppdeftemplate, ppdeffunction, ppdeftype
//                                 prints the construct as it would be
//                                 written (a package function prints as
//                                 ";; name function"); TRUE, or FALSE
//                                 printing nothing when there is none
//   (undefrule name), undeffacts, undeftemplate, undeffunction (deffunctions
//   only), undeftype              removes the construct; a template takes
//                                 its facts and the rules and fact sets that
//                                 use it along, a type its templates. TRUE,
//                                 or FALSE when there is no such construct.
//                                 A rule removed by its own actions finishes
//                                 its firing first.
//
// Switches and services:
//   (get-static-constraint-checking), (get-dynamic-constraint-checking)
//                                 TRUE when the engine checks values against
//                                 their slots' types while parsing (static)
//                                 or whenever a fact's slot is given a value
//                                 (dynamic)
//   (set-static-constraint-checking bool), (set-dynamic-...)
//                                 switches that check on for TRUE, off for
//                                 anything else; returns the previous setting
//   (set-reset-globals [bool])    with an argument, whether Reset gives the
//                                 globals their initial values again (TRUE
//                                 switches it on); returns the previous
//                                 setting
//   (setgen integer)              the next number gensym* tries; returns it
//   (parse string)                defines the constructs and runs the calls
//                                 of the text, as loading it would; TRUE
//   (guard call+)                 runs the calls in order and returns the
//                                 last one's value; run by a rule's actions,
//                                 the rule cannot be activated again by what
//                                 they assert or modify meanwhile
//
// Dialogs (TInferenceEngine::ShowMessage, InputQuery, MessageDlg: the host's
// dialogs, or questions at the console):
//   (show-message text)           shows the text; returns no value
//   (input-box [caption [prompt [default]]])
//                                 the text entered, the default when cancelled
//   (input-query [caption [prompt [default]]])
//                                 the text entered, FALSE when cancelled
//   (message-dlg text type [buttons [help-context]])
//                                 type is mtWarning, mtError, mtInformation,
//                                 mtConfirmation or mtCustom; buttons a set
//                                 text ("[mbYes, mbNo]", mbOK when left out);
//                                 returns the pressed button's result as an
//                                 atom (mrYes, mrCancel...)
//
// Thread safety: the functions keep no state; use them on the engine's thread.

#include <cstdint>
#include <span>

#include "zephro/functions/user_package.h"
#include "zephro/packages/typed_function.h"

namespace zephro {

inline constexpr char ShowFactsFunctionName[] = "facts";
inline constexpr char ShowFactsComment[] =
    "Lists the facts in working memory, optionally only those whose id lies between start and "
    "end, and at most max of them";
inline constexpr char ShowFactsSyntax[] =
    " [<start-integer-expression> [<end-integer-expression> [<max-integer-expression>]]]";

inline constexpr char ShowRulesFunctionName[] = "rules";
inline constexpr char ShowRulesComment[] = "Lists the names of the rules to a logical name";
inline constexpr char ShowRulesSyntax[] = "[<logical-name>]";

inline constexpr char AgendaFunctionName[] = "agenda";
inline constexpr char AgendaComment[] = "Lists the activations on the agenda in firing order";
inline constexpr char AgendaSyntax[] = "";

inline constexpr char IsDefTypeFunctionName[] = "is-deftype";
inline constexpr char IsDefTypeComment[] = "Tells whether a defined type of that name exists";
inline constexpr char IsDefTypeSyntax[] = " <defined-type-name-expression>";

inline constexpr char ListDefTypesFunctionName[] = "list-deftypes";
inline constexpr char ListDefTypesComment[] = "Lists the names of the defined types";
inline constexpr char ListDefTypesSyntax[] = "";

inline constexpr char PPDefTypeFunctionName[] = "ppdeftype";
inline constexpr char PPDefTypeComment[] = "Prints a defined type in deftype syntax";
inline constexpr char PPDefTypeSyntax[] = " <defined-type-name-expression>";

inline constexpr char UndefTypeFunctionName[] = "undeftype";
inline constexpr char UndefTypeComment[] =
    "Removes a defined type, the types that extend it and the templates that use them";
inline constexpr char UndefTypeSyntax[] = " <defined-type-name-expression>";

// Constructs by name: the is-, list-, ppdef- and undef- functions.
inline constexpr char IsBindingFunctionName[] = "is-binding";
inline constexpr char IsBindingComment[] = "Tells whether a variable of that name is bound";
inline constexpr char IsBindingSyntax[] = " <variable-name-expression>";
inline constexpr char IsDefFunctionFunctionName[] = "is-deffunction";
inline constexpr char IsDefFunctionComment[] = "Tells whether a deffunction of that name exists";
inline constexpr char IsDefFunctionSyntax[] = " <function-name-expression>";
inline constexpr char IsDefGlobalFunctionName[] = "is-defglobal";
inline constexpr char IsDefGlobalComment[] = "Tells whether a global variable of that name exists";
inline constexpr char IsDefGlobalSyntax[] = " <global-variable-name-expression>";
inline constexpr char IsDefRuleFunctionName[] = "is-defrule";
inline constexpr char IsDefRuleComment[] = "Tells whether a rule of that name exists";
inline constexpr char IsDefRuleSyntax[] = " <rule-name-expression>";
inline constexpr char IsDefFactsFunctionName[] = "is-deffacts";
inline constexpr char IsDefFactsComment[] = "Tells whether a fact set of that name exists";
inline constexpr char IsDefFactsSyntax[] = " <fact-set-name-expression>";
inline constexpr char IsDefTemplateFunctionName[] = "is-deftemplate";
inline constexpr char IsDefTemplateComment[] = "Tells whether a fact template of that name exists";
inline constexpr char IsDefTemplateSyntax[] = " <fact-template-name-expression>";

inline constexpr char ListDefGlobalsFunctionName[] = "list-defglobals";
inline constexpr char ListDefGlobalsComment[] =
    "Lists the global variables with their current values";
inline constexpr char ListBindingsFunctionName[] = "list-bindings";
inline constexpr char ListBindingsComment[] =
    "Lists the variables bound where the call runs, with their values";
inline constexpr char ListDefRulesFunctionName[] = "list-defrules";
inline constexpr char ListDefRulesComment[] = "Lists the names of the rules";
inline constexpr char ListDefFactsFunctionName[] = "list-deffacts";
inline constexpr char ListDefFactsComment[] = "Lists the names of the fact sets";
inline constexpr char ListDefFunctionsFunctionName[] = "list-deffunctions";
inline constexpr char ListDefFunctionsComment[] =
    "Lists the names of the deffunctions to a logical name";
inline constexpr char ListDefFunctionsSyntax[] = " [<logical-name>]";
inline constexpr char ListDefTemplatesFunctionName[] = "list-deftemplates";
inline constexpr char ListDefTemplatesComment[] = "Lists the names of the fact templates";
inline constexpr char NoArgumentsSyntax[] = "";

inline constexpr char PPDefFactsFunctionName[] = "ppdeffacts";
inline constexpr char PPDefFactsComment[] = "Prints a fact set in deffacts syntax";
inline constexpr char PPDefFunctionFunctionName[] = "ppdeffunction";
inline constexpr char PPDefFunctionComment[] = "Prints a deffunction in deffunction syntax";
inline constexpr char PPDefTemplateFunctionName[] = "ppdeftemplate";
inline constexpr char PPDefTemplateComment[] = "Prints a fact template in deftemplate syntax";
inline constexpr char PPDefRuleFunctionName[] = "ppdefrule";
inline constexpr char PPDefRuleComment[] = "Prints a rule in defrule syntax";

inline constexpr char UndefRuleFunctionName[] = "undefrule";
inline constexpr char UndefRuleComment[] = "Removes a rule";
inline constexpr char UndefRuleSyntax[] = " <rule-name>";
inline constexpr char UndefFactsFunctionName[] = "undeffacts";
inline constexpr char UndefFactsComment[] = "Removes a fact set";
inline constexpr char UndefFactsSyntax[] = " <fact-set-name>";
inline constexpr char UndefFunctionFunctionName[] = "undeffunction";
inline constexpr char UndefFunctionComment[] = "Removes a deffunction";
inline constexpr char UndefFunctionSyntax[] = " <function-name>";
inline constexpr char UndefTemplateFunctionName[] = "undeftemplate";
inline constexpr char UndefTemplateComment[] =
    "Removes a fact template with its facts and the rules and fact sets that use it";
inline constexpr char UndefTemplateSyntax[] = " <fact-template-name>";

// Switches and services.
inline constexpr char ResetGlobalsFunctionName[] = "set-reset-globals";
inline constexpr char ResetGlobalsComment[] =
    "Switches whether Reset gives the globals their initial values; returns the previous setting";
inline constexpr char ResetGlobalsSyntax[] = " [<boolean-expression>]";
inline constexpr char SetGenFunctionName[] = "setgen";
inline constexpr char SetGenComment[] = "Sets the next number gensym* tries";
inline constexpr char SetGenSyntax[] = " <integer-expression>";
inline constexpr char ParseFunctionName[] = "parse";
inline constexpr char ParseComment[] =
    "Defines the constructs and runs the function calls of a text";
inline constexpr char ParseSyntax[] = " <string-expression>";
inline constexpr char GuardFunctionName[] = "guard";
inline constexpr char GuardComment[] =
    "Runs function calls; called by a rule's actions, keeps the rule from being activated by them";
inline constexpr char GuardSyntax[] = " <function-call-argument>+";

// Dialogs.
inline constexpr char ShowMessageFunctionName[] = "show-message";
inline constexpr char ShowMessageComment[] = "Shows a message";
inline constexpr char ShowMessageSyntax[] = " <string-expression> ";
inline constexpr char InputBoxFunctionName[] = "input-box";
inline constexpr char InputBoxComment[] =
    "Asks for a line of text; the default when the user cancels";
inline constexpr char InputQueryFunctionName[] = "input-query";
inline constexpr char InputQueryComment[] = "Asks for a line of text; FALSE when the user cancels";
inline constexpr char InputSyntax[] = " [<caption-string> [<prompt-string> [<default-string>]]]";
inline constexpr char MessageDlgFunctionName[] = "message-dlg";
inline constexpr char MessageDlgComment[] =
    "Shows a message with buttons; returns the result of the button pressed";
inline constexpr char MessageDlgSyntax[] =
    " <string-expression> mtWarning|mtError|mtInformation|mtConfirmation|mtCustom "
    "<string-set-expression> [<integer-expression>]";

inline constexpr char GetDynamicCheckingFunctionName[] = "get-dynamic-constraint-checking";
inline constexpr char GetDynamicCheckingComment[] =
    "Tells whether values stored in facts are checked against their slots' types";
inline constexpr char GetStaticCheckingFunctionName[] = "get-static-constraint-checking";
inline constexpr char GetStaticCheckingComment[] =
    "Tells whether values are checked against their slots' types while parsing";
inline constexpr char SetDynamicCheckingFunctionName[] = "set-dynamic-constraint-checking";
inline constexpr char SetDynamicCheckingComment[] =
    "Switches the checking of values stored in facts; returns the previous setting";
inline constexpr char SetStaticCheckingFunctionName[] = "set-static-constraint-checking";
inline constexpr char SetStaticCheckingComment[] =
    "Switches the checking of values while parsing; returns the previous setting";
inline constexpr char SetConstraintCheckingSyntax[] = " <boolean-expression>";

// The families of functions about constructs (typed_function.h): one class
// each, the function chosen by its type.
enum class TIsIEStructFunctionType : std::uint8_t {
  sfIsBinding,
  sfIsDefType,
  sfIsDefFunction,
  sfIsDefGlobal,
  sfIsDefRule,
  sfIsDefFacts,
  sfIsDefTemplate
};
enum class TListVariablesFunctionType : std::uint8_t { lvDefGlobals, lvBindings };
enum class TListConstructsFunctionType : std::uint8_t {
  lcDefRules,
  lcDefTypes,
  lcDefFacts,
  lcDefFunctions,
  lcDefTemplates
};
enum class TPrettyPrintFunctionType : std::uint8_t {
  ppfFactSet,
  ppfUserFunction,
  ppfFactTemplate,
  ppfRule,
  ppfDefType
};
enum class TUndefFunctionType : std::uint8_t {
  ufDefType,
  ufRule,
  ufFactSet,
  ufFunction,
  ufFactTemplate
};

std::span<const TFunctionTypeInfo> FunctionTypes(TIsIEStructFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TListVariablesFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TListConstructsFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TPrettyPrintFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TUndefFunctionType);

using TIsIEStructFunction = TFamilyFunction<TIsIEStructFunctionType>;
using TListVariablesFunction = TFamilyFunction<TListVariablesFunctionType>;
using TListConstructsFunction = TFamilyFunction<TListConstructsFunctionType>;
using TPrettyPrintFunction = TFamilyFunction<TPrettyPrintFunctionType>;
using TUndefFunction = TFamilyFunction<TUndefFunctionType>;

template <>
Ref<IIEValue> TIsIEStructFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TListVariablesFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TListConstructsFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TPrettyPrintFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TUndefFunction::Run(IFunCall& call, TIEContext& context);

class TMiscPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TMiscPackage, TUserPackage)

 public:
  explicit TMiscPackage(TComponent* owner);

 protected:
  void CreateFunctions() override;
};

}  // namespace zephro

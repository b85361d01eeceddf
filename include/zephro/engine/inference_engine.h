#pragma once

// TInferenceEngine: the embeddable forward-chaining engine.
//
// A host creates an engine, sets its properties, attaches handlers to its
// events, loads knowledge (templates, rules, facts, functions) and runs it:
//
//   TInferenceEngine engine(nullptr);
//   engine.OnPrintOut = [&](TInferenceEngine&, std::string_view, std::string_view text) {
//     std::cout << text;
//   };
//   engine.Parse("(defrule hello (greet ?who) => (printout t \"hi \" ?who crlf))");
//   engine.Assert("(greet world)");
//   engine.Run();
//
// The engine keeps a working memory of facts (Facts), compiles its rules
// into a matching network, keeps an agenda of activations ordered by
// salience and strategy, and fires them one at a time in Run.
//
// Ownership: the engine owns its collections, agenda, network, contexts and
// the packages created for its Packages property. Templates, facts, values
// and functions are counted and may outlive it.
//
// Thread safety: all work runs on the caller's thread. Run holds the engine
// lock around each single firing; Lock and Unlock are public so that another
// thread can exclude firings while it changes working memory (it must hold
// the lock for every call it makes into the engine). Nothing else is guarded:
// without the lock, use an engine from one thread at a time. Reference counts
// of values, facts, templates and functions are atomic; those of match
// tokens (TActivation::TokenRef) are not: copy or release a token's Ref only
// on the engine's thread or under its lock.
//
// Re-entrancy: handlers (the On... events) and host functions run in the
// middle of the engine's work, on its thread. From there they may read
// anything, print, assert, retract and modify facts (while a fact is being
// matched those changes wait their turn, see Matching), parse and evaluate
// expressions, define constructs (not while a fact is being matched), reset
// (not while a fact is being matched) and Halt. The engine refuses, raising
// EIEException:
//   - Run while a Run is under way (from OnRuleFired, OnStartInference,
//     OnEndInference, a rule's actions...): "cannot run while rules are
//     firing"; the `run` function of the language returns 0 there instead;
//   - Clear while a Run or a Reset is under way: "cannot clear while rules
//     are firing", "cannot clear while the engine is resetting";
//   - Clear, Reset, Run, and defining or removing rules and templates while
//     a fact is being matched: "cannot ... while facts are being matched";
//   - asserting a fact object that another engine's working memory holds
//     (one fact object lives in one working memory at a time; assert a
//     Clone into the second engine).
// A call that raises leaves the engine usable. Deleting the engine while one
// of its calls is under way (from a handler or a host function) cannot be
// refused and cannot be survived, as the frames below would run on freed
// memory: the engine reports it on standard error and aborts the process.
// Delete it after the outermost call returns.
//
// Nesting and stack: loads, batches, resets, global initialisers, deffacts
// values, deffunction calls and nested calls are bounded (values/nesting.h);
// past a bound, or when the thread's stack runs low, they raise
// "... nested too deeply (runaway recursion?)". A thread that runs an engine
// needs at least kMinimumStack (128 KiB, platform/stack.h) of stack; how deep
// programs may nest grows with the stack.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <iosfwd>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/engine/engine_events.h"
#include "zephro/engine/engine_parser.h"
#include "zephro/functions/function_package.h"
#include "zephro/fuzzy/fuzzy_kinds.h"
#include "zephro/fuzzy/fuzzy_plot.h"
#include "zephro/platform/component.h"
#include "zephro/platform/ordered_table.h"
#include "zephro/rules/rule_environment.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/limits.h"

namespace zephro {

class IStreamToken;
class TActivation;
class TEngineVariables;
class TFactSet;
class TFactSets;
class TFactTemplates;
class TFacts;
class TGlobalVariables;
class TIEAgenda;
class TIEContext;
class TIEDefinedTypes;
class TIEPattern;
class TIEToken;
class TIOStreams;
class TReteNetwork;
class TRule;
class TRules;
class TUserFunctions;
class TUserPackage;

class TInferenceEngine : public TComponent,
                         public TEngineEvents,
                         public IReasoner,
                         public IFactEnvironment,
                         public IRuleEnvironment {
  ZEPHRO_DECLARE_CLASS(TInferenceEngine, TComponent)

 public:
  explicit TInferenceEngine(TComponent* owner = nullptr);
  ~TInferenceEngine() override;

  // --- configuration ----------------------------------------------------------------
  TSearchStrategy Strategy() const noexcept { return strategy_; }
  // Re-adds every pending activation under the new strategy.
  virtual void SetStrategy(TSearchStrategy strategy);
  TConstructWatches Watch() const noexcept { return watch_; }
  void SetWatch(TConstructWatches watch) noexcept { watch_ = watch; }
  bool ResetGlobals() const noexcept { return reset_globals_; }
  void SetResetGlobals(bool on) noexcept { reset_globals_ = on; }
  // Whether Parse prints the result of each top-level expression it reads
  // (a call's value, a new construct's name or rule id), as an interactive
  // session shows them; on by default. What the program itself prints
  // (printout, traces, listings) is not affected.
  bool EchoResults() const noexcept { return echo_results_; }
  void SetEchoResults(bool on) noexcept { echo_results_ = on; }
  bool FactDuplication() const noexcept { return fact_duplication_; }
  void SetFactDuplication(bool on);
  TDuplicateConstructs DuplicateConstructs() const noexcept { return duplicate_constructs_; }
  void SetDuplicateConstructs(TDuplicateConstructs d) noexcept { duplicate_constructs_ = d; }
  TFunctionPackages Packages() const noexcept { return packages_; }
  // Frees the built-in packages and creates those of `packages`.
  void SetPackages(TFunctionPackages packages);
  TTypeChecks TypeChecks() const noexcept override { return type_checks_; }
  void SetTypeChecks(TTypeChecks checks);
  TErrorHandling ParserErrorHandling() const noexcept { return parser_error_handling_; }
  void SetParserErrorHandling(TErrorHandling handling) noexcept;
  std::int32_t ParserMaxErrors() const noexcept { return parser_max_errors_; }
  void SetParserMaxErrors(std::int32_t n) noexcept;
  std::int32_t SymbolIndex() const noexcept { return symbol_index_; }
  // Raises the index to `value` when larger, else advances it by one.
  void SetSymbolIndex(std::int32_t value) noexcept;
  TSalience SalienceEvaluation() const noexcept { return salience_evaluation_; }
  void SetSalienceEvaluation(TSalience s) noexcept { salience_evaluation_ = s; }
  float MinActivationStrength() const noexcept;
  // Kept in [0, 1]: below 0 is 0, above 1 is 1.
  void SetMinActivationStrength(float s) noexcept;

  // Limits on what programs may spend (zephro/values/limits.h); none by default.
  const TEngineLimits& Limits() const noexcept { return budget_.Limits(); }
  void SetLimits(const TEngineLimits& limits) noexcept { budget_.SetLimits(limits); }
  TEngineBudget& Budget() noexcept { return budget_; }
  // False makes the functions that name a file (open, batch, load, save,
  // load-facts, save-facts, dribble-on, remove, rename) raise
  // SFileAccessDisabled without touching it. True by default.
  bool FileAccess() const noexcept { return file_access_; }
  void SetFileAccess(bool on) noexcept { file_access_ = on; }

  // --- collections ----------------------------------------------------------------------
  TFacts& Facts() noexcept { return *facts_; }
  const TFacts& Facts() const noexcept { return *facts_; }
  TFactTemplates& FactTemplates() noexcept { return *fact_templates_; }
  const TFactTemplates& FactTemplates() const noexcept { return *fact_templates_; }
  TRules& Rules() noexcept { return *rules_; }
  const TRules& Rules() const noexcept { return *rules_; }
  TGlobalVariables& GlobalVariables() noexcept { return *global_variables_; }
  const TGlobalVariables& GlobalVariables() const noexcept { return *global_variables_; }
  TEngineVariables& EngineVariables() noexcept { return *engine_variables_; }
  const TEngineVariables& EngineVariables() const noexcept { return *engine_variables_; }
  TReteNetwork& ReteNetwork() noexcept { return *rete_; }
  const TReteNetwork& ReteNetwork() const noexcept { return *rete_; }
  TIEAgenda& Agenda() noexcept { return *agenda_; }
  const TIEAgenda& Agenda() const noexcept { return *agenda_; }
  TIEDefinedTypes& DefinedTypes() noexcept { return *defined_types_; }
  const TIEDefinedTypes& DefinedTypes() const noexcept { return *defined_types_; }
  TIOStreams& IOStreams() noexcept { return *io_streams_; }
  const TIOStreams& IOStreams() const noexcept { return *io_streams_; }
  TFactSets& FactSets() noexcept { return *fact_sets_; }
  const TFactSets& FactSets() const noexcept { return *fact_sets_; }
  // The function table, by name.
  TUserFunctions& UserFunctions() noexcept { return *user_functions_; }
  const TUserFunctions& UserFunctions() const noexcept { return *user_functions_; }
  // Files `function` under `name` by the duplicate setting (TUserFunctions::Put).
  void PutUserFunction(const std::string& name, Ref<IUserFunction> function);
  void RemoveUserFunctionByName(std::string_view name);
  // The function filed under `name`, or null.
  IUserFunction* GetUserFunction(std::string_view name) const;
  // The facts waiting to be asserted and to be retracted (see Matching),
  // each kind in the order it will be taken; an index out of range raises
  // EIEException ("Bad Argument: %s").
  int PendingAssertionCount() const noexcept;
  int PendingRetractionCount() const noexcept;
  IFact& GetFactPendingAssertions(int index) const;
  IFact& GetFactPendingRetractions(int index) const;

  // --- fuzzy values (fuzzy_inference.cc) ------------------------------------------------
  // A fuzzy fact asserted by a rule is correlated with the strength of the
  // rule's match (FuzzyCorrelationMethod); asserted beside a fact of its
  // template that is equal but for the fuzzy slots, it is combined with it
  // (FuzzyInferenceMethod) and the existing fact goes.
  // New fuzzy variables declared without terms get low, medium and high.
  bool FuzzyAutoTerms() const noexcept { return fuzzy_auto_terms_; }
  void SetFuzzyAutoTerms(bool on) noexcept { fuzzy_auto_terms_ = on; }
  TFuzzyInferenceKind FuzzyInferenceMethod() const noexcept { return fuzzy_inference_; }
  void SetFuzzyInferenceMethod(TFuzzyInferenceKind kind) noexcept { fuzzy_inference_ = kind; }
  TFuzzyCorrelationKind FuzzyCorrelationMethod() const noexcept { return fuzzy_correlation_; }
  void SetFuzzyCorrelationMethod(TFuzzyCorrelationKind kind) noexcept { fuzzy_correlation_ = kind; }
  // Two fuzzy values are equal when they agree to a degree above this; kept
  // in [0, 1] and handed to every fuzzy type's variable.
  float FuzzyEqualsThreshold() const noexcept { return fuzzy_equals_threshold_; }
  void SetFuzzyEqualsThreshold(float threshold);

  // Weakens each fuzzy slot of `fact` to `strength` (nothing at 1.0).
  // Raises SNotFuzzyFact for a fact without fuzzy slots.
  void FuzzyCorrelation(IFact& fact, float strength);
  // Combines `fact`, about to be asserted, with `existing`: OnFuzzyInference
  // when it answers, else FuzzyOperation(fact, existing, true).
  void FuzzyInference(IFact& fact, const IFact& existing);
  // Replaces each fuzzy slot of `fact` by its union (intersection) with
  // `other`'s under the combine kind FuzzyInferenceMethod names. Raises
  // SInvalidFuzzyUnionTemplate for facts of two templates, SNotFuzzyFact
  // for a template without fuzzy slots.
  void FuzzyOperation(IFact& fact, const IFact& other, bool union_of);
  // `value` becomes its union (intersection) with `other`: two fuzzy values
  // or two lists of them of one length; anything else leaves it as it is.
  static void FuzzyUnion(Ref<IIEValue>& value, const IIEValue& other, TFuzzyCombineKind kind);
  static void FuzzyIntersection(Ref<IIEValue>& value, const IIEValue& other,
                                TFuzzyCombineKind kind);
  // The fuzzy value of `variable` that `expression` writes: a term, a fuzzy
  // value, singletons, a call yielding one, or a list of those with hedges
  // and the operators "and" (intersection) and "or" (union); a hedge
  // modifies what follows it and parentheses group. Variables and calls are
  // evaluated in `context` (the root context when null). The result prints
  // as the expression. Raises SUndefinedFuzzyVariable without a variable,
  // SInvalidFuzzyToken for an item that is none of these,
  // SMissingFuzzyOperand for a hedge with nothing after it.
  Ref<TIEFuzzySet> EvalFuzzyExpression(TIEFuzzyVariable* variable, const IIEValue& expression,
                                       TIEContext* context = nullptr);
  Ref<TIEFuzzySet> EvalFuzzyExpression(TIEFuzzyVariable* variable, std::string_view text,
                                       TIEContext* context = nullptr);
  Ref<TIEFuzzySet> EvalFuzzyExpression(TIEFuzzyVariable* variable, const IValueVector& items,
                                       TIEContext* context = nullptr);
  // The fuzzy variable of a slot's type, or null.
  static TIEFuzzyVariable* FuzzyVariableOf(const IFactSlot& slot) noexcept;
  // What a fuzzy slot stores for `value` as the parser read it: its fuzzy
  // value when it can be known now, else `value` for the assertion to
  // evaluate (a variable, a call, an expression holding them). In a
  // multislot each item is one value: "cold hot" is two, "(very cold) hot"
  // two, "very cold" an error.
  Ref<IIEValue> FuzzySlotValue(const IFactSlot& slot, Ref<IIEValue> value);
  // Asserts `fact` with FuzzyInferenceMethod `method` for this one assertion.
  std::int32_t Assert(Ref<IFact> fact, TFuzzyInferenceKind method, bool fuzzy_merge);
  // Prints `title`, then the sets with their marks as a grid over
  // [low, high] (see fuzzy_plot.h), then `footer`, each line to `logical_name`.
  void PlotFuzzySets(std::string_view logical_name, const std::vector<std::string>& title,
                     const std::vector<TFuzzyPlotSeries>& series, double low, double high,
                     const std::vector<std::string>& footer = {});

  // --- templates ---------------------------------------------------------------------------
  // The template filed under `name`, or null.
  IFactTemplate* FindFactTemplate(std::string_view name) const;
  // The template `name`, creating an implied one (a "__Data" multislot) when absent.
  IFactTemplate& CreateFactTemplate(std::string_view name);
  // Files `fact_template` (owned by this engine from now on).
  IFactTemplate* AddFactTemplate(Ref<IFactTemplate> fact_template);
  // Files the template filed under `old_name` under `new_name` instead, and
  // names it so: it is removed first, with everything that depends on it
  // (its facts, pending changes and rules, its facts in fact sets), then
  // filed again by the duplicate setting. Nothing happens when `old_name` is
  // empty or not filed, or the names are equal. Raises, changing nothing,
  // for a name a template may not have, and under dcError for a name
  // another template has ("Fact Template Name already exists: "%s"").
  void ChangeFactTemplateName(std::string_view old_name, std::string_view new_name);

  // What depends on a template. A rule depends on it when one of its
  // patterns is on it or one of its actions depends on it; a call, when one
  // of its arguments does; a value: a call by the call, a fact when it is of
  // the template, a list when one of its elements does; nothing else does.
  bool IsDependent(const TRule& rule, const IFactTemplate& fact_template) const;
  bool IsDependent(const IFunCall& call, const IFactTemplate& fact_template) const;
  bool IsDependent(const IIEValue& value, const IFactTemplate& fact_template) const;
  // A fact or construct taken away with a template, kept as its text so that
  // it can be built again: `fact` holds the fact for a fact, null for a
  // construct (a rule, a deffunction).
  struct TDependent {
    std::string text;
    Ref<IFact> fact;
  };
  // Builds `dependents` again, in order, with the parser raising at the
  // first error: a fact is parsed (on the template its text names now) and
  // put in place of the old one (UpdateDependentFact); a construct is
  // parsed and executed. An entry that fails to parse, assert or compile is
  // dropped, and the rest go on; EAbort stops it.
  void UpdateDependencies(const std::vector<TDependent>& dependents);
  // Puts `new_fact` in working memory in place of `old_fact`: retracts
  // `old_fact` when it is still there, then asserts `new_fact`. Returns the
  // new id, or -1 when it was not asserted (a duplicate).
  std::int32_t UpdateDependentFact(const IFact& old_fact, Ref<IFact> new_fact);

  // --- rules ---------------------------------------------------------------------------------
  // Files and compiles `rule` (made with this engine as owner, e.g.
  // MakeOwned<TRule>(engine), or a host's rule). A rule the duplicate
  // setting drops is freed when the engine owns it; returns the filed rule or
  // null. A rule that fails to compile raises and is freed likewise.
  TRule* AddRule(TRule& rule);
  // Takes `rule` over (the engine owns it from now on) and files it as above.
  TRule* AddRule(std::unique_ptr<TRule> rule);
  TRule* FindRule(std::string_view name) const;
  void RemoveRule(std::string_view name);
  // Recompiles `rule` when it is the rule filed under its name.
  void RuleChange(TRule& rule) override;
  void RenameRule(std::string_view old_name, std::string_view new_name) override;

  // --- working memory ----------------------------------------------------------------------
  // Asserts `fact`; returns its new id, or -1 for a rejected duplicate.
  virtual std::int32_t Assert(Ref<IFact> fact, bool fuzzy_merge = false);
  // Parses `text` as a fact, evaluates its slot expressions and asserts it.
  std::int32_t Assert(std::string_view text);
  virtual void RetractFact(int index);
  void RetractFact(const IFact& fact);
  // Retracts the fact with `id`; an unknown id is ignored.
  void Retract(std::int32_t id);
  // Retracts the fact equal to `fact`, if any.
  void Retract(const IFact& fact);
  void Retract(std::string_view text);
  // Empties every memory of the network and raises OnClearFacts.
  virtual void RetractFacts();
  virtual void BeginFactModify(IFact& fact);
  virtual std::int32_t EndFactModify(Ref<IFact> fact);
  bool Modifying() const noexcept { return modifying_; }
  // Frees `component` now, or once the firing rule has fired when one is
  // firing (the rules a rule's actions remove).
  void Retire(std::unique_ptr<TComponent> component);
  int PendingFactCount() const noexcept { return static_cast<int>(pending_.size()); }

  // True while a fact moves through the network. Code the network runs
  // then (pattern predicates, test elements, host handlers of activation
  // events) may assert, retract and modify facts: those changes wait in the
  // pending queue until the move has finished. What cannot wait (clearing,
  // resetting, running, defining or removing rules and templates) raises
  // "cannot ... while facts are being matched". A failure of such code does
  // not stop the move half-way: the move completes, an assertion is then
  // undone (the fact leaves every memory and working memory, without a
  // retraction event; its id is not reused) and the failure is raised.
  bool Matching() const noexcept { return matching_ > 0; }
  // Raises SMatchingInProgress with `what` while Matching().
  void CheckNotMatching(const char* what) const;
  std::int32_t NextFactId() const noexcept override { return next_fact_id_; }
  void SetNextFactId(std::int32_t id) noexcept { next_fact_id_ = id; }
  // Visits each fact of working memory, in id order.
  void ForEachFact(const std::function<void(IFact& fact)>& visit) const;

  // --- the run cycle -------------------------------------------------------------------------
  // Removes all knowledge; leaves the two internal templates and no facts.
  virtual void Clear();
  // Empties working memory, asserts (Initial-Fact), resets globals and rules,
  // and asserts the fact sets.
  virtual void Reset();
  // Fires activations until the agenda is empty, halt is called or
  // `max_rules` rules fired; returns the number fired.
  int Run(int max_rules = std::numeric_limits<int>::max());
  void Halt() noexcept { halted_ = true; }
  bool Halted() const noexcept { return halted_; }
  // The engine lock (recursive); prefer TEngineLock, which releases it
  // however its scope ends.
  void Lock();
  void Unlock();
  virtual void BeginInference();
  virtual void EndInference();
  // The activation being fired, or null.
  TActivation* FiringActivation() const noexcept override { return firing_; }

  // --- the agenda ------------------------------------------------------------------------------
  TActivation& GetActivation(int index) const;
  int GetAgendaCount() const noexcept;
  // Insertion index for an activation of `salience`, or -1 to append.
  int SearchSalience(std::int32_t salience) const override;

  // --- symbols and variables ----------------------------------------------------------------
  // `prefix` followed by the symbol index, which then advances.
  std::string GenerateSymbol(std::string_view prefix) override;
  // True when `name` is a defined global variable ("*x*").
  bool IsGlobalVariable(std::string_view name) const override;
  // Evaluates `value` (a call is run in a child context) and binds the global.
  void ResetGlobalVariable(const std::string& name, const IIEValue& value);
  TIEContext& RootContext() override { return *context_; }

  // --- output and input -------------------------------------------------------------------------
  // Routes `text` by logical name: "t" or "" to the capture stream or the
  // host, other names to registered streams (else to the host).
  virtual void PrintOut(std::string_view logical_name, std::string_view text);
  void PrintOut(std::string_view text) { PrintOut("", text); }
  virtual std::string ReadLine(std::string_view logical_name);
  virtual Ref<IStreamToken> ReadToken(std::string_view logical_name);
  // Output to "t" goes to `stream` (owned from now on) until StopCapture.
  bool StartCapture(std::unique_ptr<std::ostream> stream);
  bool StartCapture(const std::string& file_name);
  bool StopCapture();
  // The dialogs of a knowledge base: the host's handler (OnShowMessage,
  // OnInputQuery, OnMessageDlg) when it has one, else a console dialog on
  // "t" through PrintOut and ReadLine, where an empty answer (the end of the
  // input reads as one) cancels:
  //   ShowMessage  prints the message and a line break;
  //   InputQuery   prints the caption on a line of its own (when there is
  //                one), then the prompt, the default in brackets and a
  //                blank, and reads the answer into `value` (which holds the
  //                default on entry); false when cancelled, `value` unchanged;
  //   MessageDlg   prints the message, then the buttons' names without their
  //                "mb" ("(Yes/No) "), and reads an answer that names a button
  //                (ButtonOfAnswer; asked again until one does); the result
  //                of that button (ModalResultOf), mrCancel when cancelled.
  void ShowMessage(std::string_view message);
  bool InputQuery(std::string_view caption, std::string_view prompt, std::string& value);
  TModalResult MessageDlg(std::string_view message, TMsgDlgType type, TMsgDlgButtons buttons,
                          int help_context = 0);
  // Runs every line of `stream` as `Parse(line, true)`; reads on "t" consume
  // the batch input.
  virtual bool Batch(std::istream& stream);
  bool Batch(const std::string& file_name);

  // --- the language (parse_entry_points.cc) ------------------------------------------------------
  // Each Parse... entry point reads one construct or value from `text` with
  // the engine's current parser: the parser is given a new tokenizer over
  // the text (NewTokenizer) for the call and its previous stream back
  // afterwards, however the call ends, so that an entry point may be called
  // while the parser is reading something else (from a handler of a parse
  // event, from a function a loaded file calls). What the parser cannot read
  // raises its parse error, EIEParseException "Parsing Error, <detail> in
  // <routine> at line <n>: <tokens read>". Constructs are returned without
  // being filed; only Parse, ParseRule and ParseGlobalVariables change the
  // engine (and a fact of an unknown relation, which creates its implied
  // template), and ParseNExecuteFunCall runs what it reads.
  //
  // Parses every expression of `text`: constructs are filed, top-level calls
  // executed at once when `execute` is true.
  virtual void Parse(std::string_view text, bool execute = true);
  // A value of kind `kind`: dtAtom, dtString, dtInteger, dtFloat, dtVariable
  // and dtMultiVariable as ParseValue(text, {kind}, nullptr) reads them
  // (a float read where an integer is asked for is truncated, and the other
  // way round made a float), dtFunCall, dtFact, dtList and dtSingletons as
  // ParseFunCall, ParseFact, ParseList and ParseSingletons read them, in a
  // value. Raises EIEException "Unable to parse strings of <kind> at this
  // time" for the other kinds.
  virtual Ref<IIEValue> Parse(std::string_view text, TIEType kind);
  virtual Ref<IFact> ParseFact(std::string_view text);
  // Reads slot values into `fact`: "(slot value...)..." for a declared
  // template, the fields for an implied one.
  virtual void ParseFactSlot(IFact& fact, std::string_view text);
  // A deffacts: a fact set without engine (the caller owns it and may give
  // it one with SetEngine).
  virtual std::unique_ptr<TFactSet> ParseFactSet(std::string_view text);
  virtual Ref<IFactTemplate> ParseFactTemplate(std::string_view text);
  // A slot definition "(slot name qualifier...)" (or multislot), as a
  // free-standing slot a template can take (IFactTemplate::AddSlot).
  virtual Ref<IFactSlot> ParseFactTemplateSlot(std::string_view text);
  virtual Ref<TIEDefinedType> ParseDefinedType(std::string_view text);
  // The function a deffunction defines.
  virtual Ref<IUserFunction> ParseFunction(std::string_view text);
  virtual Ref<IFunCall> ParseFunCall(std::string_view text);
  // Parses a call and runs it in the root context; its result.
  virtual Ref<IIEValue> ParseNExecuteFunCall(std::string_view text);
  // Reads "(defglobal ...)" and defines its globals.
  virtual void ParseGlobalVariables(std::string_view text);
  // One global definition "?*name* = value": returns the value, as written
  // (a call is not run); `name` receives the name with its asterisks.
  virtual Ref<IIEValue> ParseVariable(std::string_view text, std::string& name);
  // The items of a multifield.
  virtual Ref<IValueVector> ParseList(std::string_view text);
  // Singletons "((x y) ...)".
  virtual Ref<ISingletonsVector> ParseSingletons(std::string_view text);
  // Parses a defrule and files it (see AddRule); returns it, or null when it
  // was dropped as a duplicate.
  virtual TRule* ParseRule(std::string_view text);
  // Reads conditional elements and adds them to `rule`; the variables they
  // bind join `bindings`, kept sorted and without repeats.
  virtual void ParseRulePatterns(TRule& rule, std::vector<std::string>& bindings,
                                 std::string_view text);
  // Reads actions and adds them to `rule`; the local variables they bind
  // (bind ?x ...) join `bindings` likewise.
  virtual void ParseRuleActions(TRule& rule, std::vector<std::string>& bindings,
                                std::string_view text);
  // One value, a multifield (dtList) for several, or null for none. The
  // whole text is read: a token the value does not take (a ")") raises
  // "Bad Argument: %s".
  virtual Ref<IIEValue> ParseValue(std::string_view text);
  // A value for `slot` of a fact, checked against it while TypeChecks hold
  // tcStatic.
  virtual Ref<IIEValue> ParseValue(std::string_view text, const IFactSlot& slot);
  // A value checked against `types`, or against `defined_type` when given.
  virtual Ref<IIEValue> ParseValue(std::string_view text, TIETypes types,
                                   const IIEDefinedType* defined_type);

  // The parser the entry points use: the language's, or one of the host's
  // parser class (SetParserType), or one the host gave (SetParser).
  IEngineParser& Parser() const noexcept { return *parser_; }
  // Makes `parser` the engine's and hands it the engine's parse handlers
  // (ParserEvents), ParserErrorHandling and ParserMaxErrors. The parser it
  // replaces finishes what it is reading.
  void SetParser(Ref<IEngineParser> parser);
  // The parse events, with the same names as the parser's, which they are:
  //   engine.ParserEvents().OnParseRule = [](IEngineParser&, TRule& rule) {...};
  // The handlers stay with the engine when it is given another parser.
  TParserEvents& ParserEvents() noexcept { return *parser_; }
  const TParserClass& ParserType() const noexcept { return parser_type_; }
  // Makes `parser_class` the engine's and a parser of it the engine's
  // parser (SetParser). A host substitutes its own parser class so:
  //   engine.SetParserType([](TInferenceEngine& e) { return MakeRef<TMyParser>(e); });
  // Raises EIEException "No parser specified" for an empty class.
  void SetParserType(TParserClass parser_class);
  const TTokenizerClass& TokenizerType() const noexcept { return tokenizer_type_; }
  // Makes `tokenizer_class` the one NewTokenizer uses. The parser must be
  // able to read its tokenizers: the language's reads only its own scanner
  // (TIEClipsStream), which a class may make with settings of its own.
  // Raises "No parser specified" for an empty class.
  void SetTokenizerType(TTokenizerClass tokenizer_class);
  // A new tokenizer of the engine's tokenizer class reading `input` from its
  // current position, or `text` (borrowed: it must outlive the tokenizer).
  std::unique_ptr<TIETokenizerStream> NewTokenizer(std::istream& input);
  std::unique_ptr<TIETokenizerStream> NewTokenizer(std::string_view text);
  // A new parser of the engine's parser class, reading `stream` (borrowed;
  // may be null), with ParserErrorHandling and ParserMaxErrors. It is not the
  // engine's parser until SetParser.
  Ref<IEngineParser> NewParser(TIETokenizerStream* stream);
  // Reads a token from a logical name when no OnReadToken handler answers;
  // the standard package installs its reader here.
  std::function<Ref<IStreamToken>(TInferenceEngine&, std::string_view)> ReadTokenHook;

  // --- saving and loading (persistence.cc) ------------------------------------------------
  // Saves write the language the engine reads: one item per line group, in
  // the order the collection keeps them. A save to a file writes the whole
  // text to a temporary file beside it and renames it over the old one, so a
  // failed save leaves the old file as it was. Loads raise the parser's
  // errors (what a load cleared first stays cleared); file errors raise
  // EBaseException naming the file.
  //
  // Each fact's saved text, one per line (those of `template_name` only,
  // when given). Raises, writing nothing, when a value would not read back.
  virtual void SaveFacts(std::ostream& stream) const;
  virtual void SaveFacts(std::ostream& stream, std::string_view template_name) const;
  void SaveFacts(const std::string& file_name) const;
  void SaveFacts(const std::string& file_name, std::string_view template_name) const;
  // Asserts the facts `stream` holds; the facts already there stay. Returns
  // how many were read.
  virtual int LoadFacts(std::istream& stream);
  int LoadFacts(const std::string& file_name);
  // Each template's definition (parents before children).
  virtual void SaveFactTemplates(std::ostream& stream) const;
  void SaveFactTemplates(const std::string& file_name) const;
  // Clears the templates (and so facts and rules), then runs `stream`.
  virtual void LoadFactTemplates(std::istream& stream);
  void LoadFactTemplates(const std::string& file_name);
  virtual void SaveRules(std::ostream& stream) const;
  void SaveRules(const std::string& file_name) const;
  // Clears the rules, then runs `stream`.
  virtual void LoadRules(std::istream& stream);
  void LoadRules(const std::string& file_name);
  // Each type's definition (parents before children).
  virtual void SaveDefinedTypes(std::ostream& stream) const;
  void SaveDefinedTypes(const std::string& file_name) const;
  // Clears the types (and so templates, facts and rules), then runs `stream`.
  virtual void LoadDefinedTypes(std::istream& stream);
  void LoadDefinedTypes(const std::string& file_name);
  // The whole knowledge base as one text: a comment header with the counts,
  // the fact-duplication setting, then globals, types, templates,
  // deffunctions, rules, fact sets and facts, each section only when it has
  // something in it.
  virtual std::string GetExpertSystem() const;
  // Clears the engine, runs `text`, then resets.
  virtual void SetExpertSystem(std::string_view text);
  virtual void SaveToStream(std::ostream& stream) const;
  // Runs `stream` over what the engine holds, clearing nothing.
  virtual void LoadFromStream(std::istream& stream);
  void SaveToFile(const std::string& file_name) const;
  void LoadFromFile(const std::string& file_name);
  // From another engine: clears this one and copies the source's settings,
  // then its functions, types, templates, deffunctions, globals, fact sets,
  // facts (same ids, same order) and rules. The copy's agenda then holds the
  // activations the source's holds, in its order: a copy made between two
  // firings runs on as the source does. Any other source: TPersistent's.
  void Assign(const TPersistent& source) override;

  // --- the component stream (persistence.cc) ------------------------------------------------
  // Written with platform/component_stream.h, an engine keeps its published
  // settings and, as lists of texts in its language, its knowledge:
  // "DefTypes", "Templates" (parents first), "Functions" (deffunctions),
  // "Variables" (globals, each "?*name* = value"), "Rules", "FactSets" and
  // "FactsList" (working memory), each written when it is not empty. Reading
  // a kind clears it first (with what depends on it), then parses each text;
  // facts are asserted, so a stored (Initial-Fact) meets the engine's own and
  // is dropped while FactDuplication is off. Its rules, fact sets and
  // packages, which it owns, are written as those properties, not as
  // components of their own.
  void DefineProperties(TFiler& filer) override;
  void GetChildren(const std::function<void(TComponent&)>& proc) const override;

  // --- printing ---------------------------------------------------------------------------------
  std::string PrintFact(const IFact& fact) const override;
  std::string PrintTemplate(const IFactTemplate& fact_template) const override;
  std::string PrintSlot(const IFactSlot& slot) const override;
  std::string PrettyPrint(const IFunCall& call) const override;
  std::string PrettyPrint(const TRule& rule) const override;
  Ref<IIEValue> ParseFuzzyValue(const IFactSlot& slot, std::string_view text) override;

  // --- functions (the reasoner side)
  // ---------------------------------------------------------------
  void AddUserFunction(IUserFunction& function) override;
  void RemoveUserFunction(IUserFunction& function) override;
  IUserFunction* ContainsUserFunction(std::string_view name) const override;

  // --- statistics
  // -----------------------------------------------------------------------------------
  int RulesFired() const noexcept { return rules_fired_; }

 protected:
  void Notification(TComponent& component, TOperation operation) override;
  // --- what the network and the agenda tell the engine; a subclass may
  // override them (calling the engine's own), hosts do not call them.
  // Queues an assertion or a retraction of `fact` for when the fact moving
  // through the network has finished (see Matching).
  virtual void AddPendingFact(Ref<IFact> fact, bool is_assertion);
  // Evaluates the rule's salience and places `activation` on the agenda.
  // When either fails, `activation` still holds it.
  void AddActivation(std::unique_ptr<TActivation>&& activation) override;
  virtual void RemoveActivation(int index);
  // Removes `activation`'s entry; returns its former index, or -1.
  int RemoveActivation(TActivation& activation) override;
  void RuleFired(TActivation& activation) override;
  // Creates the built-in packages of Packages, then raises OnAddDefaultPackages.
  virtual void AddDefaultPackages();

 private:
  // --- the engine as the rules and the network see it (IRuleEnvironment)
  // and the plumbing of working memory: not for hosts.
  std::int32_t NewRuleId() noexcept override { return next_rule_id_++; }
  bool FilesRule(std::string_view name, const TRule& rule) const override;
  void ForgetRule(std::string_view name, TRule& rule) override;
  // Asserts and retracts what was queued, in the order it was queued; a
  // failure is raised once the queue is empty (the first one).
  void ProcessPendingFacts();
  // For the network: keeps `failure` (the first of a move) to be raised when
  // the move has finished. False when no move is under way: the caller
  // raises it at once.
  bool DeferMatchFailure(std::exception_ptr failure) noexcept override;
  // An activation that lost its support leaves the agenda: through
  // RemoveActivation when its index can be seen (an OnRemoveActivation
  // handler, or a subclass that may override RemoveActivation(index)), else
  // straight off its leaf.
  void WithdrawActivation(TActivation& activation) override;
  std::int32_t NewFactId() noexcept { return next_fact_id_++; }
  // The fact standing in tokens for negated and test elements.
  IFact& NullFact() const noexcept override { return *null_fact_; }
  const TIEPattern& InitialFactPattern() const noexcept override { return *initial_fact_pattern_; }
  // The context the network evaluates its tests in (a child of the root).
  TIEContext& NetworkContext() noexcept override { return *network_context_; }
  IReasoner& Reasoner() noexcept override { return *this; }
  IFactTemplate& GoalTemplate(std::string_view name) override { return CreateFactTemplate(name); }
  void QueueGoal(Ref<IFact> goal) override;
  void VisitFactMatches(
      const std::function<void(IFact& fact, Ref<IReteToken>& match)>& visit) override;

  friend class TFactTemplates;
  friend class TIEDefinedTypes;
  friend class TRules;
  friend class TFacts;
  friend class TReteCompiler;  // feeds working memory to a new rule

  void CreateInternalConstructs();
  // `fact_set` as a deffacts whose facts read back as they are (persistence.cc).
  std::string SavedFactSetText(const TFactSet& fact_set) const;
  // Calls `clear` (when given), then parses and runs `stream`, which
  // `source_name` names in errors (persistence.cc).
  void LoadInput(std::istream& stream, std::string_view source_name,
                 const std::function<void()>& clear);
  // Makes the agenda hold the activations `source`'s holds, in its order;
  // drops the others (persistence.cc).
  void KeepActivationsOf(const TInferenceEngine& source);
  // Makes each fuzzy slot of `fact` hold fuzzy values of its variable.
  void SettleFuzzySlots(IFact& fact);
  // EvalFuzzyExpression for a whole slot, or for one `field` of a
  // multislot, whose text keeps a compound expression in parentheses.
  Ref<TIEFuzzySet> EvalFuzzyValue(TIEFuzzyVariable* variable, const IIEValue& expression,
                                  TIEContext* context, bool field);
  // What one fuzzy slot holds for `value`: `value` itself when it is already
  // right, else its evaluation, each field apart in a multislot.
  Ref<IIEValue> SettleFuzzyValue(const IFactSlot& slot, TIEFuzzyVariable& variable,
                                 const Ref<IIEValue>& value, TIEContext* context);
  void RetractSlot(int slot);
  // Runs `move` as a move of facts through the network; answers its first
  // failure, if any (see Matching).
  template <class F>
  std::exception_ptr Match(F&& move);
  // Takes the fact in `slot` out of every memory and out of working memory,
  // quietly: an assertion that failed half-way.
  void UndoAssertion(int slot);
  // Retracts a queued fact: the very one when it is still in working memory,
  // else one equal to it.
  void RetractPending(const IFact& fact);
  void AssertInitialFact();
  void FireActivation();
  // Takes `a`, which the agenda lists, off it: freed, unless it is firing.
  void TakeOffAgenda(TActivation& a);
  void ReorderAgenda();
  void SetAgenda(std::vector<std::unique_ptr<TActivation>> activations);
  // The facts (last to first) and rules a template's redefinition takes
  // away, to be built again on the new definition.
  struct TDependentTexts {
    std::vector<TDependent> facts;
    std::vector<TDependent> rules;
  };
  // Takes away the pending changes, facts and rules that depend on
  // `fact_template`; records them in `texts` when given.
  void WithdrawDependents(const IFactTemplate& fact_template, TDependentTexts* texts);
  void RemoveDependencies(const IFactTemplate& fact_template);
  void RemoveAllDependencies();
  void ReplaceTemplate(const Ref<IFactTemplate>& old_template,
                       const Ref<IFactTemplate>& new_template);
  // Removes the types that extend `type` and the templates that use it.
  void RemoveDependencies(const IIEDefinedType& type);
  // Rebuilds on `new_type` what used `old_type` (filed under the same name),
  // or removes it when the names differ.
  void ReplaceDefinedType(const Ref<IIEDefinedType>& old_type, const Ref<IIEDefinedType>& new_type);
  bool Watching(TConstructWatch w) const noexcept { return watch_.Contains(w) && OnPrintOut; }
  // Passes the fact in storage slot `slot` into the network (taAdd) or
  // withdraws it (taRemove).
  void PassToken(TTokenAction action, int slot);
  void DestroyPackages();
  // Runs `read` with the parser reading a new tokenizer over `text`, then
  // gives the parser its previous stream back, however `read` ends.
  void ReadText(std::string_view text, const std::function<void(IEngineParser& parser)>& read);

  // The invariant checks of builds with ZEPHRO_DEBUG_CHECKS: after each
  // move of facts through the network (and each rule compiled, which feeds
  // working memory through its new nodes), of the network and working
  // memory; after each change of the agenda, of the agenda. A check of a
  // whole structure costs its size: each is spaced out by the work it did
  // the last time (see TCheckPace), so that the checks cost about the same
  // per change however large the structures grow. Compiled in every build,
  // like the structures' own checks, and called only in those builds; the
  // paces are members in every build, so that the engine's layout does not
  // depend on the setting.
  void CheckAfterMove();
  void CheckAgenda();
  // Checks that `activation`, just placed at `index`, is found there.
  void CheckPlaced(const TActivation& activation, int index) const;
  // A check that did `work` is due again after work / kSpread more events;
  // while the work is under kSpread, after every event.
  struct TCheckPace {
    static constexpr std::size_t kSpread = 64;
    std::size_t waited = 0;
    std::size_t spacing = 0;
    bool Due() noexcept {
      if (waited < spacing) {
        ++waited;
        return false;
      }
      return true;
    }
    void Spent(std::size_t work) noexcept {
      waited = 0;
      spacing = work / kSpread;
    }
  };
  TCheckPace move_checks_;
  TCheckPace agenda_checks_;

  // Configuration.
  TSearchStrategy strategy_ = TSearchStrategy::ssDepthFirst;
  TConstructWatches watch_;
  TDuplicateConstructs duplicate_constructs_ = TDuplicateConstructs::dcOverwrite;
  TFunctionPackages packages_;
  TTypeChecks type_checks_{TTypeCheck::tcStatic};
  Ref<IEngineParser> parser_;
  TParserClass parser_type_;
  TTokenizerClass tokenizer_type_;
  TErrorHandling parser_error_handling_ = TErrorHandling::ehRaiseImmediate;
  TSalience salience_evaluation_ = TSalience::sActivate;
  std::int32_t parser_max_errors_ = 10;
  std::int32_t symbol_index_ = 0;
  bool reset_globals_ = true;
  bool echo_results_ = true;
  bool fact_duplication_ = false;
  bool fuzzy_auto_terms_ = true;
  TFuzzyInferenceKind fuzzy_inference_ = TFuzzyInferenceKind::fiMinMax;
  TFuzzyCorrelationKind fuzzy_correlation_ = TFuzzyCorrelationKind::fcMinimum;
  float fuzzy_equals_threshold_ = kDefaultFuzzyEqualsThreshold;
  bool file_access_ = true;
  TEngineBudget budget_;

  // Owned parts, in construction order.
  std::unique_ptr<TIOStreams> io_streams_;
  std::unique_ptr<TGlobalVariables> global_variables_;
  std::unique_ptr<TIEAgenda> agenda_;
  std::unique_ptr<TIEDefinedTypes> defined_types_;
  std::unique_ptr<TFactTemplates> fact_templates_;
  std::unique_ptr<TFacts> facts_;
  // Facts changed while matching was busy, taken in order from the front.
  struct TPendingFact {
    Ref<IFact> fact;
    bool assertion;
  };
  std::deque<TPendingFact> pending_;
  // Moves of facts through the network under way (see Matching), and the
  // first failure of the code they ran.
  int matching_ = 0;
  std::exception_ptr match_failure_;
  // Rules removed while one was firing: freed once it has fired, for the
  // firing one may be among them.
  std::vector<std::unique_ptr<TComponent>> retired_;
  std::unique_ptr<TIEPattern> initial_fact_pattern_;
  Ref<IFact> null_fact_;
  std::unique_ptr<TFactSets> fact_sets_;
  std::unique_ptr<TReteNetwork> rete_;
  std::unique_ptr<TRules> rules_;
  std::unique_ptr<TEngineVariables> engine_variables_;
  std::unique_ptr<TUserFunctions> user_functions_;
  std::unique_ptr<TIEContext> context_;
  std::unique_ptr<TIEContext> network_context_;
  std::unique_ptr<std::ostream> capture_;
  std::istream* batch_ = nullptr;  // not owned: the stream Batch is reading

  // Run state.
  std::recursive_mutex lock_;
  TActivation* firing_ = nullptr;
  // The firing activation once it has left the agenda while it fired.
  std::unique_ptr<TActivation> fired_;
  std::int32_t next_fact_id_ = 0;
  std::int32_t next_rule_id_ = 0;
  int rules_fired_ = 0;
  double start_time_ = 0;
  double run_time_ = 0;
  int max_activations_ = 0;
  double activations_sum_ = 0;
  int max_facts_ = 0;
  double facts_sum_ = 0;
  bool halted_ = false;
  bool modifying_ = false;
  bool destroying_ = false;
  // Calls under way (see the contract at the top of this file): any call of
  // the engine's that may run host code, Runs, and Resets. A Run counts
  // itself while it fires without the lock (host threads take it between
  // firings), so the counters are atomic.
  std::atomic<int> busy_ = 0;
  std::atomic<int> running_ = 0;
  std::atomic<int> resetting_ = 0;
  struct TBusyScope {
    explicit TBusyScope(std::atomic<int>& counter) noexcept : count(counter) {
      count.fetch_add(1, std::memory_order_relaxed);
    }
    ~TBusyScope() { count.fetch_sub(1, std::memory_order_relaxed); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;
    std::atomic<int>& count;
  };
};

// Holds an engine's lock for its lifetime:
//
//   {
//     const TEngineLock lock(engine);   // no firing runs meanwhile
//     engine.Assert("(reading 42)");
//   }
class [[nodiscard]] TEngineLock {
 public:
  explicit TEngineLock(TInferenceEngine& engine) : engine_(engine) { engine_.Lock(); }
  ~TEngineLock() { engine_.Unlock(); }
  TEngineLock(const TEngineLock&) = delete;
  TEngineLock& operator=(const TEngineLock&) = delete;

 private:
  TInferenceEngine& engine_;
};

}  // namespace zephro

#pragma once

// The first half of the standard package: boolean logic and comparison, the
// fact base commands, control flow, variables and the engine commands. The
// package registers them through AddStandardControlFunctions; this header
// holds what a host or a help screen needs of them: each function's name,
// help text and argument syntax, and the exceptions two of them raise.
//
// Every function receives its arguments unevaluated and evaluates only what
// its logic needs: `and` stops at the first FALSE, `if` runs one branch,
// `while` re-evaluates its condition, `bind` and `foreach` read the variable's
// name from the argument as written. Keywords (then, else, do, finally, catch,
// except) are compared with the shared keyword constants (FCThen() ...) as
// they are stored. `return` raises the context's return flag; `if`, `while`,
// `foreach` and `try` stop at it and hand the returned expression up.
//
// The engine is reached through the context: a context without an engine
// raises "Unknown/Undefined Inference Engine". Inside a firing rule's actions
// `run` does nothing and returns 0 (the run already under way goes on), and
// `clear` raises "clear error: ..." rather than free the rule that is firing.
//
// Thread safety: constants only; the functions run on the engine's thread.

#include <string>

#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"

namespace zephro {

// What `throw` raises: an engine error whose message is the thrown text as it
// stands, so that `try` hands exactly that text to its catch part in
// ?__ERROR. Outside a `try` it ends the current operation like any engine
// error; a host can tell it from the engine's own errors by its type.
class EThrownException : public EIEException {
 public:
  using EIEException::EIEException;
};

// What `exit` raises: the silent stop. It is an EAbort, so it passes through
// `try`, every function and the run loop unchanged and reaches the host's
// call (Parse, Run, a host function's Call ...). A shell takes it as the
// request to leave; an embedding host may simply catch it and carry on, the
// engine stays usable.
class EExitRequest : public EAbort {
 public:
  EExitRequest() = default;
};

// The version number `version` reports.
inline constexpr float kEngineVersion = 2.7f;

// Boolean logic.
inline constexpr char AndFunctionName[] = "and";
inline constexpr char AndComment[] =
    "Returns TRUE if no argument evaluates to FALSE; stops at the first that does";
inline constexpr char AndSyntax[] = " <expression>*";
inline constexpr char OrFunctionName[] = "or";
inline constexpr char OrComment[] =
    "Returns TRUE as soon as an argument evaluates to TRUE, otherwise FALSE";
inline constexpr char OrSyntax[] = " <expression>*";
inline constexpr char NotFunctionName[] = "not";
inline constexpr char NotComment[] =
    "Returns TRUE if its argument evaluates to FALSE, otherwise FALSE";
inline constexpr char NotSyntax[] = " <expression>";

// Comparison. eq, eq*, neq, = and <> compare each further argument with the
// first; >, >=, < and <= compare neighbours.
inline constexpr char EqFunctionName[] = "eq";
inline constexpr char EqComment[] =
    "Returns TRUE if every further argument has the same type and value as the first";
inline constexpr char EqSyntax[] = " <expression> <expression>+";
inline constexpr char EqStarFunctionName[] = "eq*";
inline constexpr char EqStarComment[] =
    "Returns TRUE if every further argument has the same value as the first, whatever its type";
inline constexpr char EqStarSyntax[] = " <expression> <expression>+";
inline constexpr char NeqFunctionName[] = "neq";
inline constexpr char NeqComment[] =
    "Returns TRUE if no further argument has the same type and value as the first";
inline constexpr char NeqSyntax[] = " <expression> <expression>*";
inline constexpr char EqualsFunctionName[] = "=";
inline constexpr char EqualsComment[] =
    "Returns TRUE if every further argument is numerically equal to the first";
inline constexpr char EqualsSyntax[] = " <numeric-expression> <numeric-expression>+";
inline constexpr char NotEqualsFunctionName[] = "<>";
inline constexpr char NotEqualsComment[] =
    "Returns TRUE if no further argument is numerically equal to the first";
inline constexpr char NotEqualsSyntax[] = " <numeric-expression> <numeric-expression>*";
inline constexpr char GtFunctionName[] = ">";
inline constexpr char GtComment[] =
    "Returns TRUE if each argument is greater than the argument after it";
inline constexpr char GtSyntax[] = " <numeric-expression> <numeric-expression>+";
inline constexpr char GtOrEqFunctionName[] = ">=";
inline constexpr char GtOrEqComment[] =
    "Returns TRUE if each argument is greater than or equal to the argument after it";
inline constexpr char GtOrEqSyntax[] = " <numeric-expression> <numeric-expression>+";
inline constexpr char LtFunctionName[] = "<";
inline constexpr char LtComment[] =
    "Returns TRUE if each argument is less than the argument after it";
inline constexpr char LtSyntax[] = " <numeric-expression> <numeric-expression>+";
inline constexpr char LtOrEqFunctionName[] = "<=";
inline constexpr char LtOrEqComment[] =
    "Returns TRUE if each argument is less than or equal to the argument after it";
inline constexpr char LtOrEqSyntax[] = " <numeric-expression> <numeric-expression>+";

// The fact base.
inline constexpr char AssertFunctionName[] = "assert";
inline constexpr char AssertComment[] =
    "Adds facts to working memory; returns the index of the last fact asserted, or FALSE";
inline constexpr char AssertSyntax[] = " <fact>*";
inline constexpr char AssertStringFunctionName[] = "assert-string";
inline constexpr char AssertStringComment[] =
    "Parses each string as a fact and asserts it; returns the index of the last fact";
inline constexpr char AssertStringSyntax[] = " <string-expression>*";
inline constexpr char RetractFunctionName[] = "retract";
inline constexpr char RetractComment[] =
    "Removes the facts with the given indexes from working memory, or every fact for *";
inline constexpr char RetractSyntax[] = " *|<fact-index>*";
inline constexpr char RetractStringFunctionName[] = "retract-string";
inline constexpr char RetractStringComment[] =
    "Parses each string as a fact and retracts the fact equal to it";
inline constexpr char RetractStringSyntax[] = " <fact-string>";
inline constexpr char ModifyFunctionName[] = "modify";
inline constexpr char ModifyComment[] =
    "Changes slots of a fact, which is retracted and asserted again; returns its new index";
inline constexpr char ModifySyntax[] = " <fact-index> (<slot-name> <expression>)+";
inline constexpr char DuplicateFunctionName[] = "duplicate";
inline constexpr char DuplicateComment[] =
    "Asserts a copy of a fact with the given slots changed; returns the copy's index";
inline constexpr char DuplicateSyntax[] = " <fact-index> (<slot-name> <expression>)*";
inline constexpr char GetSlotValueFunctionName[] = "get-slot-value";
inline constexpr char GetSlotValueComment[] =
    "Returns the value of a slot of a fact (the fields of an ordered fact without a slot name)";
inline constexpr char GetSlotValueSyntax[] =
    " <fact-id-expression>|<fact-expression> [<slot-name-expression> ]";

// Variables.
inline constexpr char BindFunctionName[] = "bind";
inline constexpr char BindComment[] = "Sets a variable to the value of the expression";
inline constexpr char BindSyntax[] = " <variable> <expression>";
inline constexpr char ExtractGlobalFunctionName[] = "__get-var";
inline constexpr char ExtractGlobalComment[] =
    "Returns the value bound to a variable, or nil when it is not bound";
inline constexpr char ExtractGlobalSyntax[] = " <variable-name>";

// Control flow.
inline constexpr char IfFunctionName[] = "if";
inline constexpr char IfComment[] =
    "Evaluates the then-actions if the condition is not FALSE, else the else-actions";
inline constexpr char IfSyntax[] =
    " <predicate-expression> then <expression>+ [else <expression>+]";
inline constexpr char WhileFunctionName[] = "while";
inline constexpr char WhileComment[] =
    "Evaluates the actions as long as the condition is not FALSE";
inline constexpr char WhileSyntax[] = " <boolean-expression> [do] <expression>*";
inline constexpr char ForEachFunctionName[] = "foreach";
inline constexpr char ForEachComment[] =
    "Binds the variable to each item of the list in turn and evaluates the actions; returns "
    "the last value.  Example: (foreach i (create$ red green blue) (bind ?x (str-cat ?i \" "
    "color\")) (printout t ?x))";
inline constexpr char ForEachSyntax[] = " <variable-name> <list-expression> <expression>*";
inline constexpr char TryFunctionName[] = "try";
inline constexpr char TryComment[] =
    "Evaluates the actions; the finally-actions run in any case, and the catch-actions when an "
    "error occurred, with its message in ?__ERROR";
inline constexpr char TrySyntax[] =
    " [<expression>*] [finally [<expression>*>] [catch|except [<expression>*]]";
inline constexpr char ThrowFunctionName[] = "throw";
inline constexpr char ThrowComment[] = "Raises an error with the given text as its message";
inline constexpr char ThrowSyntax[] = " <lexeme-expression>";
inline constexpr char ReturnFunctionName[] = "return";
inline constexpr char ReturnComment[] =
    "Leaves the enclosing deffunction, rule or loop with the value of the expression";
inline constexpr char ReturnSyntax[] = " <expression>";
inline constexpr char HaltFunctionName[] = "halt";
inline constexpr char HaltComment[] = "Stops the run after the current rule";
inline constexpr char HaltSyntax[] = "";
inline constexpr char ExitFunctionName[] = "exit";
inline constexpr char ExitComment[] = "Stops everything and returns to the host";
inline constexpr char ExitSyntax[] = "";

// The engine.
inline constexpr char RunFunctionName[] = "run";
inline constexpr char RunComment[] =
    "Fires rules until the agenda is empty, halt is called or the limit is reached; returns "
    "the number of rules fired";
inline constexpr char RunSyntax[] = " [<integer-expression>]";
inline constexpr char ResetFunctionName[] = "reset";
inline constexpr char ResetComment[] =
    "Empties working memory and asserts the initial fact and the deffacts";
inline constexpr char ResetSyntax[] = "";
inline constexpr char ClearFunctionName[] = "clear";
inline constexpr char ClearComment[] = "Removes every construct and fact; package functions stay";
inline constexpr char ClearSyntax[] = "";
inline constexpr char VersionFunctionName[] = "version";
inline constexpr char VersionComment[] = "Returns the engine's version number";
inline constexpr char VersionSyntax[] = "";
inline constexpr char GenSymStarFunctionName[] = "gensym*";
inline constexpr char GenSymStarComment[] =
    "Returns a new symbol: gen followed by a number that grows with every call";
inline constexpr char GenSymStarSyntax[] = "";
inline constexpr char StoreFunctionName[] = "store";
inline constexpr char StoreComment[] =
    "Stores a value under a name, replacing an earlier one; returns the value";
inline constexpr char StoreSyntax[] = " <variable-name> <value>";
inline constexpr char FetchFunctionName[] = "fetch";
inline constexpr char FetchComment[] =
    "Returns the value stored under a name, or nil when there is none";
inline constexpr char FetchSyntax[] = " <lexeme-expression>";
inline constexpr char ClearStorageFunctionName[] = "clear-storage";
inline constexpr char ClearStorageComment[] = "Removes every stored value";
inline constexpr char ClearStorageSyntax[] = "";
inline constexpr char GetFactDuplicationFunctionName[] = "get-fact-duplication";
inline constexpr char GetFactDuplicationComment[] =
    "Returns TRUE if asserting a fact equal to an existing one is ignored";
inline constexpr char GetFactDuplicationSyntax[] = "";
inline constexpr char SetFactDuplicationFunctionName[] = "set-fact-duplication";
inline constexpr char SetFactDuplicationComment[] =
    "TRUE ignores the assertion of facts equal to existing ones, FALSE allows it; returns the "
    "previous setting";
inline constexpr char SetFactDuplicationSyntax[] = " <boolean-expression>";
inline constexpr char WatchFunctionName[] = "watch";
inline constexpr char WatchComment[] =
    "Starts tracing rules, facts, activations, compilations "
    "or statistics";
inline constexpr char WatchSyntax[] = " all|rules|facts|activations|compilations|statistics";
inline constexpr char UnwatchFunctionName[] = "unwatch";
inline constexpr char UnwatchComment[] =
    "Stops tracing rules, facts, activations, compilations "
    "or statistics";
inline constexpr char UnwatchSyntax[] = " all|rules|facts|activations|compilations|statistics";
inline constexpr char DoBackwardChainingFunctionName[] = "do-backward-chaining";
inline constexpr char DoBackwardChainingComment[] =
    "Turns on backward chaining for the templates: a rule that needs such a fact asks for it "
    "with a need- goal fact";
inline constexpr char DoBackwardChainingSyntax[] = " <fact-template-name>*";

}  // namespace zephro

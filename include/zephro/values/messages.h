#pragma once

// The engine's error vocabulary: every message it raises, as a printf template,
// and the reserved names and formats that generated identifiers and printed text
// are built from.
//
// A template is never shown as it stands: it is formatted with its arguments
// (%s a string, %d an integer, %.4f a float with four decimals, %c a character)
// and handed to an exception, normally through RaiseIE (values/exceptions.h):
//
//   RaiseIE(SNoSuchSlot, name.c_str());
//
// The texts are part of the engine's observable behaviour (hosts and scripts
// compare them); change none of them, blanks included. A line break inside a
// text is "\n".

#include <cstdint>

namespace zephro {

// Reserved names and formats.

// Prefix of the generated variables that stand for fact indexes.
inline constexpr char SFactPrefix[] = "__factidx";
// Prefix that marks a pattern constant compared by value (EqualsStar) rather than
// strictly.
inline constexpr char SEqStarPrefix[] = "_eq_";
// Prefix of the templates of backward-chaining goal facts.
inline constexpr char SBackChainPrefix[] = "need-";
// Prefixes of the generated names of the wildcards `?` and `$?`.
inline constexpr char SBlankPrefix[] = "_blank_";
inline constexpr char SBlankMulti[] = "_blank_$";
// The one multislot of an implied template, which holds an ordered fact's fields.
inline constexpr char SDefaultSlotName[] = "__Data";
// Keyword of the test conditional element.
inline constexpr char STestCE[] = "test";
// Kinds of binding: made by `bind` in a rule's actions, binding a pattern to a
// variable (`?f <-`), made in a rule's left-hand side.
inline constexpr char SLocalBinding[] = "__LOCAL";
inline constexpr char SPatternBinding[] = "__PATTERN";
inline constexpr char SRuleBinding[] = "__RULE";
// Template name and text of the initial fact.
inline constexpr char SInitialFactPattern[] = "Initial-Fact";
inline constexpr char SInitialFact[] = "(Initial-Fact)";
// Template of the placeholder pattern put first in a rule that starts with `not`,
// `or` or `test`.
inline constexpr char SNullFact[] = "__NOT-OR-TEST-CE*";
// Prefixes of generated slot and multislot variables.
inline constexpr char SSlotVar[] = "?__var";
inline constexpr char SMultiSlotVar[] = "$?__var";
// An error reported by a function: the function's name, then the message.
inline constexpr char SFunctionError[] = "%s error: %s";
// A function's help: its comment, the syntax line under it (five blanks first) and
// the syntax statement itself.
inline constexpr char CommentFormat[] = "%s";
inline constexpr char SyntaxFormat[] = "     syntax: %s";
inline constexpr char CLIPSSyntaxFormat[] = "(%s)";
// Name of the defined type made on the fly for a slot's inline type declaration.
inline constexpr char SImplicitDefinedType[] = "implicit";
// Default right margin of the pretty printer, in characters.
inline constexpr std::int32_t DefaultPrintMargin = 200;
// Sub-index of a slot test or binding that has none.
inline constexpr std::int32_t NoSubIndex = -1;
// Pattern index of local bindings.
inline constexpr std::int32_t LocalBindingIndex = -2;

// Names and identifiers.
inline constexpr char SInvalidName[] =
    "Invalid expert system name, \"%s\", name must not contain any of the following characters:  "
    "'\"#()[]?:$&;<>";
inline constexpr char SInvalidVariableName[] =
    "Invalid expert system name, \"%s\", name must not contain any of the following characters:  "
    "'\"#()[]:$&;<>";
inline constexpr char SBadVariableName[] =
    "Bad Variable Name, must start and end with an asterisk: %s";
inline constexpr char SUnexpectedCharacters[] = "%s contains unexpected character: \"%c\"";
inline constexpr char SMissingName[] = "Missing name";
inline constexpr char SUnknownName[] = "Unknown %s name: %s";
inline constexpr char SUnknownIEClassName[] = "Unknown class name: %s";

// Values, types and conversions.
inline constexpr char SNotCorrectType[] = "Not a %s type.  Value (%s) is a %s type";
inline constexpr char SInvalidValueType[] = "Value and type mismatch";
inline constexpr char SUnknownValueInterface[] = "Unknown interface supplied to Zephro value";
inline constexpr char SUncloneableValue[] =
    "Uncloneable value.  Value owned an object of %s class type";
inline constexpr char SInvalidPtr[] =
    "Invalid destruction of pointer reference, reference counting greater than 0";
inline constexpr char SBadValue[] = "Bad Value for %s";
inline constexpr char SBadArgument[] = "Bad Argument: %s";
inline constexpr char SInvalidValue[] = "Value \"%s\" is not valid, %s";
inline constexpr char SNotAllowedValue[] = "Not in allowed values";

// Lexical and syntax errors.
inline constexpr char SMissingOpenParens[] = "Expected \"(\"";
inline constexpr char SMissingCloseParens[] = "Expected \")\"";
inline constexpr char SUnterminatedString[] = "Invalid string value, string was not terminated";
inline constexpr char SUnexpectedCharacter[] = "Unexpected character found: \"%s\"";
inline constexpr char SUnexpectedEOF[] = "Unexpected end of stream";
inline constexpr char SSyntaxError[] = "Syntax Error: %s";
inline constexpr char SExpectedChar[] = "Expected \"%s\"";
inline constexpr char SExpectedKeyword[] = "Missing keyword.  Expected \"%s\"";
inline constexpr char SExpectedValue[] = "Expected value missing";
inline constexpr char SExpectedAtom[] = "Expected \"( <atom>\"";
inline constexpr char SExpectedEqGT[] = "Expected \"=>\"";
inline constexpr char SExpectedAssignment[] = "Expected \"<-\"";
inline constexpr char SExpectedParenConstVar[] =
    "Unexpected symbol, expected a \"(\", constant, or global variable: %s";
inline constexpr char SExpectedIntVarFun[] = "Expected integer, variable, or function call for %s";
inline constexpr char SExpectedNumVarFun[] = "Expected number, variable, or function call";
inline constexpr char SParseError[] = "Parsing Error, %s in %s at line %s: %s";
inline constexpr char SMultipleParseError[] = "Errors parsing stream:\n%s";
inline constexpr char SNoParser[] = "No parser specified";
inline constexpr char SParseTypeError[] = "Unable to parse strings of %s at this time";
// Ours: a parser given a token stream of a kind it cannot read.
inline constexpr char SForeignTokenizer[] = "The parser cannot read a token stream of this kind";
inline constexpr char SInvalidTokenHint[] = "Invalid Token hint for parsing token: %s";

// Construct headers.
inline constexpr char SExpectedDeffacts[] = "Expected \"( deffacts\"";
inline constexpr char SExpectedDefType[] = "Expected \"( deftype\"";
inline constexpr char SExpectedDefTemplate[] = "Expected \"( deftemplate\"";
inline constexpr char SExpectedDefRule[] = "Expected \"( defrule\"";
inline constexpr char SExpectedDefFunction[] = "Expected \"( deffunction\"";
inline constexpr char SExpectedFuzzySet[] = "Expected \"( term\"";
inline constexpr char SExpectedDefGlobal[] = "Expected \"( defglobal\"";
inline constexpr char SExpectedExtends[] = "Expected \"(\", \"extends\", or \"is-a\"";
inline constexpr char SExpectedRuleProperty[] =
    "Expected rule property, salience, oneshot, or enabled";
inline constexpr char SExpectedSalience[] = "Expected \"salience\"";
inline constexpr char SMissingTemplateName[] = "Missing Fact Template name";
inline constexpr char SMissingDeffactsName[] = "Missing Fact Set name";
inline constexpr char SMissingParentTemplateName[] = "Missing name of parent template to extend";
inline constexpr char SMissingIsaTypeName[] = "Missing name of type for fact template";
inline constexpr char SMissingParentDefinedTypeName[] =
    "Missing name of parent defined type to extend";

// Fact templates, slots and facts.
inline constexpr char SBadSlotName[] = "Bad Slot Name: %s";
inline constexpr char SNoIndexNameMatch[] = "Index does not match fact slot name: %s and %s";
inline constexpr char SBadSlotValue[] = "Bad Slot Value: %s";
inline constexpr char SBadSlotType[] = "Bad Slot Type";
inline constexpr char SInvalidSlotDefault[] = "Invalid default slot value: %s";
inline constexpr char SInvalidDefaultMultislotValue[] =
    "Invalid default value for a multislot, must be a multifield: %s";
inline constexpr char SInvalidMultiSlotType[] = "no types are allowed for multislots";
inline constexpr char SInvalidExistingSlotChange[] =
    "Invalid value for existing slot, slot is not multislot";
inline constexpr char SInvalidExistingMultiSlotChange[] =
    "Invalid value for existing slot, multislot is not slot";
inline constexpr char SInvalidSlotQualifier[] = "Invalid slot qualifier: %s";
inline constexpr char SNotMultiSlot[] = "Slot \"%s\" is not a multislot";
inline constexpr char SNoSuchSlot[] = "No such slot in fact template: %s";
inline constexpr char SAtomNotEquals[] = "\"=\" cannot appear as an atom within a fact";
inline constexpr char SNotCorrectSlotType[] = "Slot %s does not contain a %s.  Value Type is %s";
inline constexpr char SInvalidSlotValue[] = "%s for %s slot";
inline constexpr char SInvalidSlotName[] = "No such slot name: \"%s\"";
inline constexpr char SInvalidSlotType[] = "Invalid slot type: %s";
inline constexpr char SUnknownFactTemplate[] = "Unknown fact template: %s";
inline constexpr char SFactTemplatesDifferent[] =
    "Unable to assign slot values, fact templates are different: %s and %s";
inline constexpr char SNoTemplate[] = "Fact Template is missing";
inline constexpr char SNoSuchFact[] = "No Such Fact with ID=%s exists";
inline constexpr char SCannotChangeID[] = "Illegal Attempt to change Fact Id";
inline constexpr char SMissingFactSet[] = "Empty fact set property";
inline constexpr char SFactTemplateInheritanceCorrupt[] =
    "Fact templates inheritance structure corrupted";
inline constexpr char SDuplicateTemplateNames[] = "Fact Template Name already exists: \"%s\"";

// Facts as JSON (engine/facts_json.h).
inline constexpr char SJsonSyntax[] = "Bad JSON at byte %d: %s";
inline constexpr char SJsonFactAt[] = "JSON fact %d: %s";
inline constexpr char SJsonNotFactList[] = "A JSON fact list must be an array";
inline constexpr char SJsonNotFact[] =
    "A JSON fact must be an object with \"template\" and either \"slots\" or \"values\"";
inline constexpr char SJsonUnknownMember[] = "Unknown member of a JSON fact: \"%s\"";
inline constexpr char SJsonOrderedFact[] =
    "Fact template %s is ordered: its fields are given as \"values\"";
inline constexpr char SJsonSlotsFact[] =
    "Fact template %s has named slots: they are given as \"slots\"";
inline constexpr char SJsonNoValue[] = "No value is written as %s (at byte %d)";
inline constexpr char SJsonNoForm[] = "A value of kind %s has no JSON form";

// Rules, patterns and matching.
inline constexpr char SInvalidTestBinding[] =
    "\"not\" and \"test\" CEs cannot be bound to variables";
inline constexpr char SInvalidRuleFmt[] = "Invalid Rule Format (%s): %s";
inline constexpr char SNestedNotCEs[] = "Nested Not CEs not allowed yet";
// A limit of this port: partial matches count their facts in 16 bits.
inline constexpr char STooManyPatterns[] = "A rule may have at most %d patterns";
inline constexpr char SInvalidPatternBinding[] = "Cannot bind a negated pattern to a variable";
inline constexpr char SNegatedVariable[] = "First Use of Variable is negated, variable name is %s";
inline constexpr char SCorruptedToken[] = "Corrupted Token, Negated Count is less than 0";
inline constexpr char SCorruptedVariable[] = "Corrupted Binding, variable not found: %s";
inline constexpr char SInvalidTokenAction[] = "Invalid Token Action";
inline constexpr char SInvalidCallType[] = "Invalid Call Type: %s";
inline constexpr char SInvalidAgendaItem[] =
    "Invalid object, agenda can only accept TActivation objects";
inline constexpr char SDuplicateRuleNames[] = "Duplicate Rules defined with same name: \"%s\"";
inline constexpr char SNoRule[] = "No Rule exists with name: %s";
inline constexpr char SMissingRule[] = "Missing Rule cannot be edited";
inline constexpr char SPatternMatchError[] = " for pattern match = ";
inline constexpr char SInvalidBackchainPattern[] =
    "Invalid backward chaining pattern added to the node";
inline constexpr char SBackChainCE[] = "Cannot backchain on special CEs: %s";
inline constexpr char SBackChainFuncallPatterns[] =
    "Cannot use Function calls in backchained patterns: %s";

// Functions and arguments.
inline constexpr char SMissingNumeric[] = "Expected numeric argument to %s function call";
inline constexpr char SMissingComponent[] = "Expected component argument to %s function call";
// Ours: free-object given the engine that runs it, an owner of the engine or a
// component the engine owns (named, or its class name when it has no name).
inline constexpr char SFreeEngineObject[] =
    "Cannot free %s: the engine running the call depends on it";
inline constexpr char STooFewArgs[] = "Too few arguments for %s";
inline constexpr char STooManyArgs[] = "Too many arguments for %s";
inline constexpr char SInvalidSubstrParameters[] = "Invalid substring parameters: %d, %d";
inline constexpr char SInvalidMFParameters[] =
    "Invalid multifield begin and end parameters: %d, %d";
inline constexpr char SMultifieldLengthMismatch[] =
    "Invalid multifield arguments, the two multifields must be of the same length";
inline constexpr char SInvalidFunctionAdd[] = "Cannot add nil to user functions";
inline constexpr char SDuplicateFunctionNames[] = "Function Name already exists: \"%s\"";
inline constexpr char SInvalidArgType[] =
    "Invalid argument type for deffunction: \"%s\".  Expected %s";
inline constexpr char SNoSuchFunction[] = "Function is unimplemented or unassigned: %s";
inline constexpr char SWrongFunctionName[] = "Function names do not match: %s and %s";
inline constexpr char SInvalidAddObject[] = "Invalid object being added: \"%s\" instead of \"%s\"";
inline constexpr char SMissingCatchStatement[] = "Missing catch or finally statement for try block";
inline constexpr char SMissingThen[] = "Missing \"then\" in an IF statement";
inline constexpr char SNotDOTNETFunction[] =
    "%s function is not available in .NET version of the Zephro";
inline constexpr char SNotDOTNETAvailable[] = "Does not work in .NET version of the Zephro";
inline constexpr char SInvalidFileAccess[] = "Invalid File Access Specifier: \"%s\"";
inline constexpr char SInvalidStreamName[] = "Invalid stream name: %s";
inline constexpr char SDuplicateStreamNames[] = "Duplicate streams defined with same name: \"%s\"";
inline constexpr char SNoReadFunctionWarning[] =
    "The %s event has not been implemented or unassigned.\nWarning: Implementation of this "
    "function requires a blocking mechanism, \nsuch as ShowModal, or the use of threads";
// What 32-bit integer arithmetic cannot hold.
inline constexpr char SIntegerOverflow[] = "Integer overflow in %s";
// A financial function whose search for a rate finds none.
inline constexpr char SRateSearchFailed[] = "the rate search did not converge";
// The limits a host sets on the programs an engine runs (TEngineLimits), and
// its file access.
inline constexpr char SLimitExceeded[] = "Limit exceeded: more than %lld %s";
inline constexpr char SFileAccessDisabled[] = "File access is disabled: %s cannot be used";
inline constexpr char SCannotWatch[] = "Cannot watch %s";
inline constexpr char SCannotUnWatch[] = "Cannot unwatch %s";
inline constexpr char SUnknownVariable[] = "Unknown variable name: %s";
inline constexpr char SUnknownEngine[] = "Unknown/Undefined Inference Engine";
inline constexpr char SNoContext[] = "No context found when trying to resolve a %s value";

// Defined types.
inline constexpr char SDuplicateDefTypeNames[] = "Defined Type Name already exists: \"%s\"";
inline constexpr char SUnknownTypeName[] = "type name unknown or invalid: %s";
inline constexpr char SNoSuchConstraint[] = "Defined Type %s does not have %s constraints";
inline constexpr char SInvalidConstraint[] = "Defined Type %s cannot contain %s constraint types";
inline constexpr char SEmptyBaseTypes[] = "Empty base type for defined type not allowed";
inline constexpr char SCannotMixFuzzy[] = "Cannot mix fuzzy type with other primitive types";
inline constexpr char SMissingRange[] = "Missing range statement";
inline constexpr char SMissingFuzzySetValues[] = "Missing fuzzy set \"values\" statement";
inline constexpr char SMissingAllowedEnumeration[] =
    "Expected allowed value argument for deftype, received %s";
inline constexpr char STypeInheritanceLoop[] =
    "Type inheritance loop detected, %s type cannot be an ancestor of itself";
inline constexpr char SNoMultiTypeInheritance[] =
    "Multiple inheritance is not allowed for deftypes";
inline constexpr char STypeInheritanceCorrupt[] = "Defined types inheritance structure corrupted";
inline constexpr char SListCardinalityError[] = "Multislot must have between %d and %d elements";
inline constexpr char SOutOfRangeError[] = "Range must be between %.4f and %.4f";
inline constexpr char SInvalidLowHiLimits[] = "Invalid low and high limits specified: %.4f to %.4f";
inline constexpr char SDBTypeMismatch[] = "Defined type not valid for database field of type: %s";
inline constexpr char SDBMultiSlotNotString[] = "Fields that are Multislots must be of type string";

// Fuzzy values.
inline constexpr char SMissingFuzzyCloseBracket[] = "Missing Fuzzy Close Bracket in expression";
inline constexpr char SInvalidFuzzyValue[] = "invalid fuzzy value";
inline constexpr char SMissingFuzzyOperand[] = "Missing fuzzy operand to be modified by hedge: %s";
inline constexpr char SInvalidFuzzyToken[] = "Invalid item in fuzzy expression: %s";
inline constexpr char SNeedFuzzyType[] = "Fuzzy Type Definition needed to parse value";
inline constexpr char SDifferentFuzzyVariables[] =
    "Fuzzy variables are different, %s is a term from %s and %s is a term from %s";
inline constexpr char SInvalidFuzzyUnionTemplate[] =
    "Cannot union two facts with different fact templates: %s and %s";
inline constexpr char SNotFuzzyFact[] = "Fact is not a fuzzy fact";
inline constexpr char SInvalidFuzzyCorrelation[] =
    "Invalid Fuzzy Correlation specified (%s), expected %s";
inline constexpr char SInvalidFuzzyInference[] =
    "Invalid Fuzzy Inference specified (%s), expected %s";
inline constexpr char SInvalidIEFuzzyOperation[] =
    "Invalid Fuzzy operation specified (%s) for %s, expected %s";
inline constexpr char SInvalidFuzzyExpression[] = "Invalid Fuzzy Expression: %s";
inline constexpr char SUndefinedFuzzyVariable[] = "fuzzy variable is not defined";
// Ours: a fuzzy set that reaches beyond its variable's universe.
inline constexpr char SFuzzyTermOutsideUniverse[] =
    "Term %s lies outside the universe of discourse %s to %s";
inline constexpr char SFuzzyValueOutsideUniverse[] =
    "Fuzzy value %s lies outside the universe of discourse of %s (%s to %s)";
// Ours: a singleton index beyond a fuzzy value's singletons, and an x
// beyond its variable's universe.
inline constexpr char SFuzzySingletonIndex[] =
    "Singleton index %d is out of range for a fuzzy value of %d singletons";
inline constexpr char SFuzzyXOutsideUniverse[] =
    "X value %s lies outside the universe of discourse of %s (%s to %s)";
inline constexpr char SFuzzyDefinitionError[] =
    "Invalid attempt to modify fuzzy type in fact template slot, fuzzy types cannot be modified";

// Working memory while a fact moves through the matching network: what code
// run by the network (pattern tests, test elements, host handlers) may not
// do then, named by the argument ("clear", "reset", "define or remove rules").
inline constexpr char SMatchingInProgress[] = "cannot %s while facts are being matched";

// What a handler of the engine, or code run by a rule, may not do while the
// engine is running or resetting, named by the argument ("run", "clear").
inline constexpr char SRunInProgress[] = "cannot %s while rules are firing";
inline constexpr char SResetInProgress[] = "cannot %s while the engine is resetting";
// A fact object asserted into one engine while another's working memory holds it.
inline constexpr char SFactHeldElsewhere[] =
    "cannot assert %s: the fact is in the working memory of another engine";

// A list value built deeper than the engine's nesting limit (the argument).
inline constexpr char SListTooDeep[] = "Lists may not nest deeper than %d levels";

}  // namespace zephro

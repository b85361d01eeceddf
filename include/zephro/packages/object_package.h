#pragma once

// TObjectPackage: rules reach the host's objects. They create and free objects and
// components, find components by name, read and write published properties (see
// platform/class_registry.h for publishing them), look classes up by name, test
// class membership and execute actions.
//
//   (get-component)                     the engine's owner, or FALSE without one
//   (get-component "Bin1")              the owner's component of that name, or FALSE
//   (get-component ?form "Bin1")        ?form's component of that name, or FALSE
//   (get-components [?c])               the components ?c (the owner) owns, in order
//   (get-property ?bin Quantity)        12
//   (set-property ?bin Quantity 20)     TRUE; FALSE for a name the class lacks
//   (get-properties ?bin)               (Name Quantity Status ...), events left out
//   (get-class "TBin")                  the class, printed as TBin
//   (is-class ?bin (get-class TBin))    TRUE, also for the classes it descends from
//   (create-component (get-class TBin) ?warehouse [?parent])   a new component
//   (create-object (get-class TNote))   a new object, not owned by anything
//   (execute-action ?reorder)           TRUE when the action ran
//   (free-object ?a ?b ...)             TRUE; frees each object
//
// The engine's owner is the owner component of the engine whose rules call the
// function; an engine made without owner (the shell's) has none.
//
// Objects travel as object values and classes as class values, and every argument
// is evaluated first. No function makes a value own what it returns: an object made
// by create-object, or by create-component with a nil owner, lives until free-object
// frees it. A value keeps its object through a weak handle, so a value whose object
// was freed reads as holding none: get-property of it gives the empty value,
// set-property FALSE, is-class FALSE, execute-action FALSE, and it prints empty.
//
// Properties by kind. get-property answers an integer for an integer property (a
// 64-bit value outside the 32 bits of an integer raises "Integer overflow in
// get-property"), a string for a string or character property, the atom naming
// the value for an enumeration (False or True for a bool), a float, the string
// "[a,c]" naming the members of a set, or the referenced object. set-property
// converts its third argument accordingly: to an integer, to text for strings,
// characters (exactly one), enumerations and sets (by name, "[a,c]" or "a,c"), to a
// float, or to the object to refer to; it leaves an event unchanged and answers
// TRUE. An event asked for by get-property raises "Invalid property type: Method".
//
// Errors. Without a component to search, get-component and get-components raise
// "Expected component argument to %s function call". The platform's errors come out
// as "<function> error: <message>":
//   "Cannot cast a TBin to a TWinControl"   an object of the wrong class where a
//                                           component, a windowed control or an
//                                           action is wanted (nil is allowed)
//   "Class TNope is not registered"         get-class of an unknown name
//   "Cannot create an instance of TBin"     a class that cannot make instances (abstract,
//                                           no suitable constructor); also for a nil class
//   "TNote is not a component class"        create-component of another class
//   "Invalid property type: Method"         get-property of an event
//   "Invalid value for property Quantity", "Property Status has no element x",
//   "Property Bin is read-only" ...         what the property refuses to store
// free-object refuses to free the engine running it, a component that owns the
// engine (at any depth) or one the engine owns (its packages and parts): those raise
// "Cannot free %s: the engine running the call depends on it"; freeing them would
// pull the engine from under its own call. Anything else it frees with delete, so
// rules must only be given objects the host lets them free.
//
// Thread safety: the functions keep no state; use them on the engine's thread.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char CreateComponentFunctionName[] = "create-component";
inline constexpr char CreateComponentComment[] =
    "Creates a component of a class, owned by a component and, given a windowed control, "
    "shown in it";
inline constexpr char CreateComponentSyntax[] =
    " <TComponentClass-expression> <TComponent-expression> [<TWinControl-expression>]";
inline constexpr char CreateObjectFunctionName[] = "create-object";
inline constexpr char CreateObjectComment[] = "Creates an object of a class, owned by nothing";
inline constexpr char CreateObjectSyntax[] = " <TClass-expression>";
inline constexpr char ExecuteActionFunctionName[] = "execute-action";
inline constexpr char ExecuteActionComment[] =
    "Executes an action; returns TRUE when it was an action and it ran";
inline constexpr char ExecuteActionSyntax[] = " <TBasicAction-expression>";
inline constexpr char FreeObjectFunctionName[] = "free-object";
inline constexpr char FreeObjectComment[] = "Frees each object given";
inline constexpr char FreeObjectSyntax[] = " <TObject-expression>*";
inline constexpr char GetComponentFunctionName[] = "get-component";
inline constexpr char GetComponentComment[] =
    "Returns the engine's owner, or the component of a name owned by the engine's owner or "
    "by a component; FALSE when there is none";
// Two forms, one on each line; "\n" is the line break.
inline constexpr char GetComponentSyntax[] =
    " [<component-name>] | \n [<TComponent-expression> <component-name>]";
inline constexpr char GetComponentsFunctionName[] = "get-components";
inline constexpr char GetComponentsComment[] =
    "Returns the components owned by a component, or by the engine's owner, as a multifield";
inline constexpr char GetComponentsSyntax[] = " [<TComponent-expression>]";
inline constexpr char GetPropertyFunctionName[] = "get-property";
inline constexpr char GetPropertyComment[] = "Returns the value of an object's published property";
inline constexpr char GetPropertySyntax[] = " <TObject-expression> <property-name>";
inline constexpr char GetPropertiesFunctionName[] = "get-properties";
inline constexpr char GetPropertiesComment[] =
    "Returns the names of an object's published properties, events left out, as a multifield";
inline constexpr char GetPropertiesSyntax[] = " <TObject-expression>";
inline constexpr char SetPropertyFunctionName[] = "set-property";
inline constexpr char SetPropertyComment[] =
    "Sets an object's published property; returns FALSE when the object has no such property";
inline constexpr char SetPropertySyntax[] = " <TObject-expression> <property-name> <expression>";
inline constexpr char GetClassFunctionName[] = "get-class";
inline constexpr char GetClassComment[] = "Returns the class registered under a name";
inline constexpr char GetClassSyntax[] = " <class-name>";
inline constexpr char IsClassFunctionName[] = "is-class";
inline constexpr char IsClassComment[] =
    "Returns TRUE when an object is an instance of a class or of one of its descendants";
inline constexpr char IsClassSyntax[] = " <TObject-expression> <TClass-expression>";

class TObjectPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TObjectPackage, TUserPackage)

 public:
  explicit TObjectPackage(TComponent* owner);

 protected:
  // The functions in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro

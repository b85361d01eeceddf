#pragma once

// Component streams: a component, its published and custom properties and the
// components it contains, as versioned text that reads back into the same tree.
// Hosts keep components this way (an engine with its settings, facts and
// constructs); the text is meant to be read and compared line by line.
//
//   zephro-stream 1
//   object Engine1: TInferenceEngine
//     Strategy = ssBreadthFirst
//     Watch = [cwFact, cwRule]
//     FuzzyEqualsThreshold = 0.01
//     Caption = 'it''s'#10'two lines'
//     FactsList = (
//       '(a 1)'
//       '(b "x")'
//     )
//     object Child1: TFoo
//       Buddy = Engine1
//     end
//   end
//
// Grammar. Blanks, tabs, carriage returns and line feeds separate tokens; the
// writer puts one property on a line and indents two blanks a level. Keywords
// (object, end, nil, inf, nan) are lower case; names compare without regard to
// ASCII case.
//
//   stream    := "zephro-stream" version LF object          ; the first line
//   version   := "1"
//   object    := "object" [name ":"] class entry* "end"
//   entry     := property | object
//   property  := path "=" value
//   path      := ident ("." ident)*
//   name      := ident | string
//   class     := ident
//   value     := integer | float | string | ident | "nil" | set | list | instance
//   set       := "[" [element ("," element)*] "]"       ; element := ident | string
//   list      := "(" value* ")"
//   instance  := "object" class property* "end"
//   ident     := [A-Za-z_][A-Za-z0-9_]*                  ; at most 255 bytes
//   integer   := "-"? digit+                             ; a signed 64-bit value
//   float     := "-"? digit+ ("." digit+)? (("e"|"E") ("+"|"-")? digit+)?
//                (with a fraction or an exponent) | "inf" | "-inf" | "nan"
//   string    := piece+   (no blanks between pieces)     ; at most 64 MiB
//   piece     := "'" (any byte but LF and "'", or "''" for one "'")* "'"
//              | "#" digit+                              ; one byte, 0 to 255
//
// Strings hold any bytes. The writer quotes printable ASCII (a quote doubled) and
// valid UTF-8 from U+00A0 up as they are; every other byte (control characters,
// DEL, C1 controls, bytes that are not valid UTF-8) it writes as "#" and the
// byte's decimal value outside the quotes: 'it''s'#10#0'x' is "it's", a line
// feed, NUL and "x". A float is written in the shortest form that reads back to
// the same double, with ".0" added when that form looks like an integer; NaN is
// written "nan" (its sign and payload are not kept).
//
// What is written. For a component: the object line with its name (omitted when
// empty; quoted when it is not an identifier, or is nil, inf, nan or object) and
// class, then its published properties in declaration order (ancestors' first),
// then its custom properties (TPersistent::DefineProperties), then the components
// GetChildren lists, each an object of its own. Events, the Name property (the
// object line carries it) and properties without a setter are not written, with
// one exception: a class property holding an object that is a persistent but no
// component is the holder's own part (a collection, a settings object), and its
// properties are written under the holder's, as "Part.Property = value",
// whatever the property's setter. A class property holding a component is a
// reference, written as the component's name or nil. Enumerations and sets are
// written by element name (an enumeration value without a name that reads back,
// by its ordinal); booleans are the enumeration False, True.
//
// Reading. Into an existing component (ReadComponent) or a new one made through
// the class registry (ReadNewComponent). Each object inside another is loaded
// into a component the outer one already owns when there is one: the owned
// component with that name when the object is named (it must have the class
// written), else the first unnamed owned component of exactly that class not yet
// loaded by this read; otherwise a new component of the class is made with the
// outer one as its owner, and named. Each component read gets BeginLoading()
// before its properties. Properties are set by name as they come; a path name
// that is not published is offered to the object's DefineProperties. References
// are resolved when the whole tree has been read (so they may point forward),
// each to the first component of that name in the tree below the root (the root
// first, then each component before the ones it owns, ownership order), and then
// Loaded() is called on every component read, in the order they were read (an
// outer component before those inside it). An exception from Loaded() is passed
// on once every component has had its Loaded() call.
//
// Failures. Malformed text, another version, an unknown class or property, a value
// of the wrong kind, an unresolved reference, nesting deeper than kMaxStreamDepth
// (objects, object values, parts and lists together) or a value the property
// refuses raise
// EReadError with the line it was found at; an error of the platform or the engine
// raised by a setter or a custom property's reader becomes the nested exception of
// the EReadError (std::throw_with_nested). Then every component the read made is
// freed, references it set on other components to them are cleared, and the
// components it loaded into are no longer csLoading; what it had already set on
// those stays set. EAbort and failures outside the platform's exceptions (memory)
// pass through unchanged, after the same clean-up.
//
// Ownership: the streams are borrowed for the call. A new component belongs to its
// owner, or to the caller when it has none.
// Thread safety: none; a read or write uses the components on one thread.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/platform/component.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/persistent.h"

namespace zephro {

// The version this code writes and the only one it reads.
inline constexpr int kStreamVersion = 1;
// How deeply objects, object values, lists and parts may nest in a stream,
// together; also the most names a property path may have.
inline constexpr int kMaxStreamDepth = 256;

// A stream that cannot be read. The message ends with the line, as in
// "Unknown property Colour of TGauge (line 4)".
class EReadError : public EBaseException {
 public:
  EReadError(std::string message, int line_number);
  // The line of the stream where the error was found, from 1.
  int LineNumber() const noexcept { return line_number_; }

 private:
  int line_number_;
};

// What a stream value is, as TReader::NextValueKind sees it.
enum class TValueKind : std::uint8_t {
  vaInteger,
  vaFloat,
  vaString,
  vaIdent,  // also True and False
  vaNil,
  vaSet,
  vaList,
  vaObject,  // a persistent object written by WritePersistent
};

class TReader;
class TWriter;

// What TPersistent::DefineProperties is given: the writer or the reader of the
// stream, through which an object declares its custom properties.
class TFiler {
 public:
  using TReaderProc = std::function<void(TReader& reader)>;
  using TWriterProc = std::function<void(TWriter& writer)>;

  TFiler() = default;
  TFiler(const TFiler&) = delete;
  TFiler& operator=(const TFiler&) = delete;
  virtual ~TFiler() = default;

  // Declares the custom property `name` (an identifier). Writing: when `has_data`
  // is true, writes "name = " and calls `write`, which must write exactly one
  // value (a list counts as one). Reading: when the stream's property is `name`,
  // calls `read`, which must read exactly that one value. Either raises
  // EBaseException when the procedure writes or reads another number of values.
  virtual void DefineProperty(std::string_view name, const TReaderProc& read,
                              const TWriterProc& write, bool has_data) = 0;
};

// Writes the values of custom properties. Each Write call is one value; inside a
// list, each goes on a line of its own. Raises EBaseException for a value where
// none may go (a second value of a property, WriteListEnd without a list).
class TWriter : public TFiler {
 public:
  virtual void WriteInteger(std::int64_t value) = 0;
  virtual void WriteFloat(double value) = 0;
  virtual void WriteString(std::string_view value) = 0;
  // Writes True or False.
  virtual void WriteBoolean(bool value) = 0;
  // Writes an identifier; raises EBaseException when `value` is none or is one of
  // the value keywords (nil, inf, nan, object).
  virtual void WriteIdent(std::string_view value) = 0;
  virtual void WriteListBegin() = 0;
  virtual void WriteListEnd() = 0;

  // A list of strings: the common custom property.
  void WriteStrings(const std::vector<std::string>& values);
};

// Reads the values of custom properties. Each Read call takes one value of the
// kind named and raises EReadError when the next value is of another kind (an
// integer is accepted as a float) or when there is none.
class TReader : public TFiler {
 public:
  // The kind of the next value. Raises EReadError at the end of a list or of the
  // stream.
  virtual TValueKind NextValueKind() = 0;
  virtual std::int64_t ReadInteger() = 0;
  virtual double ReadFloat() = 0;
  virtual std::string ReadString() = 0;
  // Reads True or False (any case).
  virtual bool ReadBoolean() = 0;
  virtual std::string ReadIdent() = 0;
  virtual void ReadListBegin() = 0;
  // True when the current list has no more values.
  virtual bool EndOfList() = 0;
  virtual void ReadListEnd() = 0;

  // A list of strings, as WriteStrings writes it.
  std::vector<std::string> ReadStrings();
};

// Writes `component` and what it contains as a stream. Raises EBaseException,
// writing nothing, when a reference points to a component outside the tree below
// `component` or to one that a reader would not find by its name (unnamed, or
// another component of that name comes first), when a component owns two of one
// name (a reader would load both into the first), or when the tree nests deeper
// than kMaxStreamDepth.
void WriteComponent(std::ostream& out, const TComponent& component);
// The same, as a string.
std::string ComponentToText(const TComponent& component);

// Reads a stream into `root`, whose class must be the stream's class or descend
// from it; the root takes the stream's name. Raises EReadError as the top of this
// file says.
void ReadComponent(std::istream& in, TComponent& root);
// Reads a stream into a new component of the stream's class, made without an owner
// and handed to the caller.
std::unique_ptr<TComponent> ReadNewComponent(std::istream& in);
// Reads a stream into a new component of the stream's class owned by `owner`; the
// reference stays valid until the component or its owner is freed. On failure the
// new component is freed.
TComponent& ReadNewComponent(std::istream& in, TComponent& owner);

// Writes `instance`, any persistent object, as one value: an instance (see the
// grammar) naming its class and holding its published and custom properties. For
// a custom property's writer. A reference inside it must name a component whose
// object the stream holds before it (the objects it is inside count): raises
// EBaseException otherwise.
void WritePersistent(TWriter& writer, const TPersistent& instance);
// Reads a value written by WritePersistent: makes an instance of the class it
// names through the class registry (raising the registry's error for a class that
// is not registered), reads its properties into it and hands it to the caller. A
// component is made without an owner and gets BeginLoading() and Loaded() around
// its properties. References inside it are resolved at once, to the components
// read or loaded so far; should the read fail later, the components it made are
// freed, and an object kept from it may refer to them. For a custom property's
// reader.
std::unique_ptr<TPersistent> ReadPersistent(TReader& reader);

}  // namespace zephro

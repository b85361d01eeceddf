#pragma once

// Facts as JSON: one fact, or the whole of working memory, written as JSON
// text and read back.
//
// A fact is an object naming its template. A fact of a template with named
// slots gives every slot under "slots"; an ordered fact gives its fields, in
// order, under "values":
//
//   {"template": "person", "id": 3, "slots": {"age": 30, "name": "Al", "tags": ["a", "b"]}}
//   {"template": "colour", "id": 4, "values": [{"atom": "red"}]}
//
// Working memory is an array of such objects, oldest fact first.
//
// Values, each way:
//
//   engine value               JSON
//   integer                    integer                         30
//   float                      number with a fraction or an    2.0, 1e+300
//                              exponent (floats are written
//                              so, and read back as floats)
//   string                     string                          "Al"
//   atom (symbol)              object with one member "atom"   {"atom": "red"}
//   fact id                    object with one member "fact"   {"fact": 3}
//   multifield                 array (of any of these)         ["a", {"atom": "b"}]
//   nil                        null                            null
//
// So the atom red and the string "red" stay apart. The atoms TRUE and FALSE
// are written as atoms too; on reading, JSON true and false are taken as
// those atoms. A fact held by address (a slot bound to ?f) is written as
// {"fact": <its id>} and reads back as a fact id. An array inside an array
// is a multifield inside a multifield (as deep as lists may nest). A value
// of another kind (a fuzzy value, an object, a call...) has no JSON form:
// writing it raises "A value of kind <kind> has no JSON form". An integer
// outside 32 bits, or an object other than the two above, has no engine
// value: reading it raises "No value is written as <JSON> (at byte <n>)".
// (A number without fraction or exponent beyond the 64-bit integers reads as
// a float.)
//
// Text is UTF-8 both ways. Reading refuses a string that is not valid UTF-8
// ("Bad JSON at byte <n>: a string is not valid UTF-8"). The engine's strings
// and atoms may hold any bytes: on writing, each sequence of them that is not
// UTF-8 is written as U+FFFD, so such a value does not read back byte for
// byte, but what is written always reads. "\u0000" reads as a NUL byte in
// the string, and a NUL byte is written as "\u0000".
//
// Reading: "id" is written for the reader's sake and ignored (the engine
// gives new ids, as to any fact asserted); other members than "template",
// "id", "slots" and "values" are errors. The template must exist, except for
// an ordered fact, whose template is made on assertion when absent, as for
// any ordered fact. Slots left out take their defaults. Every slot value is
// checked against the slot's constraints (no conversion: a FLOAT slot wants
// 2.0, not 2), whatever the engine's type checking. Errors raise
// EIEException; a bad text names the byte offset (from 0) where it stopped
// being JSON (for a misplaced string or number, the token's last byte), a
// bad fact of a list its index (from 0): "JSON fact 2: Unknown fact
// template: car". The text is strict JSON: no comments, no trailing commas,
// nothing but blanks after the value (a byte order mark before it is
// skipped); a member name given twice in an object, or arrays and objects
// nested more than 1000 deep, are errors too. Nothing of a document is
// asserted unless all of it reads: every fact is built and checked first,
// and only then asserted.
//
// Thread safety: as the engine's own calls (use the engine's thread).

#include <cstdint>
#include <string>
#include <string_view>

namespace zephro {

class IFact;
class TInferenceEngine;

// `fact` as one JSON object (one line).
std::string FactToJson(const IFact& fact);
// Reads one JSON fact object and asserts it; returns its id, or -1 when the
// engine rejected it as a duplicate.
std::int32_t FactFromJson(TInferenceEngine& engine, std::string_view json);

// Working memory as a JSON array, oldest fact first, one fact a line.
std::string FactsToJson(const TInferenceEngine& engine);
// Reads a JSON array of facts and asserts them in order; returns how many
// were asserted (duplicates are not). All or nothing (see above).
int LoadFactsJson(TInferenceEngine& engine, std::string_view json);

// The same with files. Saving builds the whole text first and then replaces
// the file in one step: a failed save leaves the old file as it was. A file
// that cannot be opened or written raises the platform's file error.
void SaveFactsJsonFile(const TInferenceEngine& engine, const std::string& path);
int LoadFactsJsonFile(TInferenceEngine& engine, const std::string& path);

}  // namespace zephro

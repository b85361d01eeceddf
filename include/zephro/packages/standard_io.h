#pragma once

// The I/O, file and multifield functions of the standard package: their names,
// help texts and argument syntax, and the formatting routine that `format` and
// `str-format` share.
//
// Output and input go through the engine's routing by logical name
// (TInferenceEngine::PrintOut, ReadLine, ReadToken): "t" or the empty name is
// the host, any other name a stream that `open` registered. Files opened for
// reading ("r", "r+") are token streams, so `read` takes one token at a time
// from them and `readline` the rest of the current line.
//
// Multifield indices are zero-based and ranges inclusive: (subseq$ ?l 1 2) is
// the second and third item.
//
// Thread safety: constants, and a routine without state.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

// Printing and reading.
inline constexpr char PrintOutFunctionName[] = "printout";
inline constexpr char PrintOutComment[] =
    "Prints its arguments, without separators, to a logical name (t for standard output); the "
    "word crlf starts a new line";
inline constexpr char PrintOutSyntax[] = " <logical-name> <expression>*";

inline constexpr char FormatFunctionName[] = "format";
inline constexpr char FormatComment[] =
    "Prints the control string to a logical name, each %-directive replaced by the next "
    "value";
inline constexpr char FormatSyntax[] = " <logical-name> <string-expression> <expression>*";

inline constexpr char ReadFunctionName[] = "read";
inline constexpr char ReadComment[] =
    "Reads one token from a logical name (standard input by default); EOF at the end of input";
inline constexpr char ReadSyntax[] = " [<logical-name>]";

inline constexpr char ReadLineFunctionName[] = "readline";
inline constexpr char ReadLineComment[] =
    "Reads a line from a logical name (standard input by default) as a string; EOF for an empty "
    "line or at the end of input";
inline constexpr char ReadLineSyntax[] = " [<logical-name>]";

// Files and logical names.
inline constexpr char OpenFunctionName[] = "open";
inline constexpr char OpenComment[] =
    "Opens a file under a logical name: r read (the default), r+ read and write, w write a new "
    "file, a append";
inline constexpr char OpenSyntax[] = " <filename> <logical-name> [a|r|w|r+]";

inline constexpr char CloseFunctionName[] = "close";
inline constexpr char CloseComment[] =
    "Closes the files opened under the logical names given, or every one without arguments";
inline constexpr char CloseSyntax[] = " [<logical-name>+]";

inline constexpr char BatchFunctionName[] = "batch";
inline constexpr char BatchComment[] =
    "Runs the commands of a file line by line; the file also answers the reads of its commands";
inline constexpr char BatchSyntax[] = " <filename>";

inline constexpr char LoadFunctionName[] = "load";
inline constexpr char LoadComment[] = "Parses a file of constructs and commands into the engine";
inline constexpr char LoadSyntax[] = " <filename>";

inline constexpr char SaveFunctionName[] = "save";
inline constexpr char SaveComment[] =
    "Writes the whole knowledge base (globals, templates, rules, fact sets and facts) to a file "
    "that load reads back";
inline constexpr char SaveSyntax[] = " <filename>";

inline constexpr char LoadFactsFunctionName[] = "load-facts";
inline constexpr char LoadFactsComment[] = "Asserts the facts written in a file";
inline constexpr char LoadFactsSyntax[] = " <filename>";

inline constexpr char SaveFactsFunctionName[] = "save-facts";
inline constexpr char SaveFactsComment[] =
    "Writes the facts of working memory to a file, one per line; with template names only the "
    "facts of those templates";
inline constexpr char SaveFactsSyntax[] = " <file-name> [<fact-template-name>+]";

inline constexpr char SaveFactsJsonFunctionName[] = "save-facts-json";
inline constexpr char SaveFactsJsonComment[] =
    "Writes the facts of working memory to a file as a JSON array, oldest first";
inline constexpr char SaveFactsJsonSyntax[] = " <file-name>";

inline constexpr char LoadFactsJsonFunctionName[] = "load-facts-json";
inline constexpr char LoadFactsJsonComment[] =
    "Asserts the facts of a JSON file written by save-facts-json; none when one of them is "
    "wrong";
inline constexpr char LoadFactsJsonSyntax[] = " <file-name>";

inline constexpr char FactToJsonFunctionName[] = "fact-to-json";
inline constexpr char FactToJsonComment[] =
    "The JSON text of a fact, given by address or by id";
inline constexpr char FactToJsonSyntax[] = " <fact-address-or-id>";

inline constexpr char DribbleOnFunctionName[] = "dribble-on";
inline constexpr char DribbleOnComment[] =
    "Sends standard output to a file instead of the host until dribble-off";
inline constexpr char DribbleOnSyntax[] = " <filename>";

inline constexpr char DribbleOffFunctionName[] = "dribble-off";
inline constexpr char DribbleOffComment[] =
    "Ends dribble-on: standard output goes to the host again";
inline constexpr char DribbleOffSyntax[] = "";

inline constexpr char RemoveFunctionName[] = "remove";
inline constexpr char RemoveComment[] = "Deletes a file; FALSE when it cannot be deleted";
inline constexpr char RemoveSyntax[] = " [<file-name>]";

inline constexpr char RenameFunctionName[] = "rename";
inline constexpr char RenameComment[] =
    "Renames a file; FALSE when it cannot be renamed or the new name is taken";
inline constexpr char RenameSyntax[] = " [<old-file-name> <new-file-name>]";

// Multifields.
inline constexpr char CreateMFFunctionName[] = "create$";
inline constexpr char CreateMFComment[] = "Returns a new multifield of its arguments, in order";
inline constexpr char CreateMFSyntax[] = " <expression>*";

inline constexpr char DeleteMFFunctionName[] = "delete$";
inline constexpr char DeleteMFComment[] =
    "Returns the multifield without the items from start to end. The multifield is a zero-based "
    "list and the range is inclusive";
inline constexpr char DeleteMFSyntax[] =
    " <multifield-expression> <start-integer-expression> <end-integer-expression>";

inline constexpr char ExplodeMFFunctionName[] = "explode$";
inline constexpr char ExplodeMFComment[] =
    "Returns the words of a string, split at blanks, as a multifield of atoms";
inline constexpr char ExplodeMFSyntax[] = " <string-expression> ";

inline constexpr char FirstMFFunctionName[] = "first$";
inline constexpr char FirstMFComment[] =
    "Returns the first item of a multifield, nil when it is empty. The multifield is a "
    "zero-based list";
inline constexpr char FirstMFSyntax[] = " <multifield-expression> ";

inline constexpr char ImplodeMFFunctionName[] = "implode$";
inline constexpr char ImplodeMFComment[] =
    "Returns the items of a multifield as one string, separated by blanks";
inline constexpr char ImplodeMFSyntax[] = " <multifield-expression> ";

inline constexpr char InsertMFFunctionName[] = "insert$";
inline constexpr char InsertMFComment[] =
    "Returns the multifield with the values inserted at an index. The multifield is a "
    "zero-based list";
inline constexpr char InsertMFSyntax[] =
    " <multifield-expression> <integer-expression> <expression>*";

inline constexpr char LengthMFFunctionName[] = "length$";
inline constexpr char LengthMFComment[] = "Returns the number of items of a multifield";
inline constexpr char LengthMFSyntax[] = " <multifield-expression> ";

inline constexpr char MemberFunctionName[] = "member";
inline constexpr char MemberComment[] =
    "Returns the position of the first value among the following arguments, or FALSE. "
    "Positions are zero-based";
inline constexpr char MemberSyntax[] = " <to-find-expression> <expression>+";

inline constexpr char MemberMFFunctionName[] = "member$";
inline constexpr char MemberMFComment[] =
    "Returns the index of a value in a multifield, or FALSE. The multifield is a zero-based list";
inline constexpr char MemberMFSyntax[] = " <expression> <multifield-expression>";

inline constexpr char NthMFFunctionName[] = "nth$";
inline constexpr char NthMFComment[] =
    "Returns the item at an index of a multifield. The multifield is a zero-based list";
inline constexpr char NthMFSyntax[] = " <integer-expression> <multifield-expression>";

inline constexpr char ReplaceMFFunctionName[] = "replace$";
inline constexpr char ReplaceMFComment[] =
    "Returns the multifield with the items from start to end replaced by the values. The "
    "multifield is a zero-based list and the range is inclusive";
inline constexpr char ReplaceMFSyntax[] =
    " <multifield-expression> <start-integer-expression> <end-integer-expression> "
    "<expression>*";

inline constexpr char RestMFFunctionName[] = "rest$";
inline constexpr char RestMFComment[] = "Returns the multifield without its first item";
inline constexpr char RestMFSyntax[] = " <multifield-expression>";

inline constexpr char SubSeqMFFunctionName[] = "subseq$";
inline constexpr char SubSeqMFComment[] =
    "Returns the items of a multifield from start to end. The multifield is a zero-based list "
    "and the range is inclusive";
inline constexpr char SubSeqMFSyntax[] =
    " <multifield-expression> <start-integer-expression> <end-integer-expression>";

inline constexpr char SubSetpMFFunctionName[] = "subsetp";
inline constexpr char SubSetpMFComment[] =
    "TRUE when every item of the first multifield is in the second";
inline constexpr char SubSetpMFSyntax[] = " <expression> <multifield-expression>";

// The control string `control` expanded against `values`, left to right:
//   - each value fills the first %-directive left in the text: per cent,
//     then [-][width][.precision] (a leading 0 in the width pads with zeros),
//     then the conversion: d decimal, u unsigned, x hexadecimal (the value's
//     integer); f fixed, e scientific, g general, m money with thousands
//     separators (its float, precision 6, or 2 for m); p the external address
//     in hexadecimal; s the value's printed form;
//   - %n stands for a line break and takes no value;
//   - a directive with any other conversion character takes the value and
//     stays in the text as it is;
//   - a value without a directive left is appended after a blank (a
//     string's text, a fact index or address in decimal, a multifield in
//     parentheses);
//   - a directive without a value stays in the text.
// Raises EIEException when a value does not convert ("Not a integer type...")
// and "Bad Argument: invalid format directive ..." for directives such
// as "%1-2d" or widths beyond 4096.
std::string CLIPSFormat(std::string_view control, std::span<const Ref<IIEValue>> values);

// The text of a multifield in parentheses, its items separated by blanks:
// "(a b)"; "()" when it is empty.
std::string ListText(const IValueVector& list);

}  // namespace zephro

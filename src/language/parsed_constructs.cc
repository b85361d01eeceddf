// The printed form of a deffunction as parsed.

#include "zephro/language/parsed_constructs.h"

#include "zephro/functions/call_printer.h"

namespace zephro {

std::string PrettyPrintFunction(const TParsedFunction& function) {
  return PrettyPrintDeffunction(function.name, function.parameters, function.comment,
                                function.actions);
}

}  // namespace zephro

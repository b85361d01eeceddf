// TLinguisticVariable: universe, terms and text.

#include "zephro/fuzzy/linguistic_variable.h"

#include "zephro/platform/exceptions.h"

#include "fuzzy/fuzzy_text.h"

namespace zephro {

using fuzzy_detail::FixedText;

TLinguisticVariable::TLinguisticVariable(std::string_view name, double from, double to,
                                         std::string_view units)
    : name_(name) {
  SetUniverse(from, to, units);
}

void TLinguisticVariable::SetUniverse(double from, double to, std::string_view units) {
  if (!(from <= to)) {
    // The catalogue's text for limits in the wrong order.
    throw EBaseException("Invalid low and high limits specified: " + FixedText(from) + " to " +
                         FixedText(to));
  }
  from_ = from;
  to_ = to;
  units_ = units;
  Changed();
}

void TLinguisticVariable::Changed() {
  if (OnChange) {
    OnChange(*this);
  }
}

void TLinguisticVariable::AddTerm(std::string_view name, TMembershipSet set, std::string text) {
  for (TTerm& term : terms_) {
    if (term.name == name) {
      term.set = std::move(set);
      term.text = std::move(text);
      Changed();
      return;
    }
  }
  terms_.push_back({std::string(name), std::move(set), std::move(text)});
  Changed();
}

bool TLinguisticVariable::RemoveTerm(std::string_view name) {
  for (auto it = terms_.begin(); it != terms_.end(); ++it) {
    if (it->name == name) {
      terms_.erase(it);
      Changed();
      return true;
    }
  }
  return false;
}

void TLinguisticVariable::ClearTerms() {
  terms_.clear();
  Changed();
}

const TLinguisticVariable::TTerm* TLinguisticVariable::FindTermEntry(std::string_view name) const {
  for (const TTerm& term : terms_) {
    if (term.name == name) {
      return &term;
    }
  }
  return nullptr;
}

const TMembershipSet* TLinguisticVariable::FindTerm(std::string_view name) const {
  const TTerm* term = FindTermEntry(name);
  return term != nullptr ? &term->set : nullptr;
}

void TLinguisticVariable::AddDefaultTerms() {
  const double mid = (from_ + to_) / 2;
  AddTerm(kDefaultTermNames[0], TMembershipSet({{from_, 1}, {mid, 0}}));
  AddTerm(kDefaultTermNames[1], TMembershipSet({{from_, 0}, {mid, 1}, {to_, 0}}));
  AddTerm(kDefaultTermNames[2], TMembershipSet({{mid, 0}, {to_, 1}}));
}

std::string TLinguisticVariable::ToString() const {
  std::string out = "(range " + FixedText(from_) + " " + FixedText(to_) + ")";
  if (!units_.empty()) {
    out += " (units " + units_ + ")";
  }
  if (!terms_.empty()) {
    out += " (values";
    for (const TTerm& term : terms_) {
      out +=
          " (term " + term.name + " " + (term.text.empty() ? term.set.ToString() : term.text) + ")";
    }
    out += ")";
  }
  return out;
}

}  // namespace zephro

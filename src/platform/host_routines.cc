#include "zephro/platform/host_routines.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "zephro/platform/errors.h"

namespace zephro {

TComponent* FindComponentType(const TComponent& owner, const TClassInfo& cls) {
  for (int i = 0; i < owner.ComponentCount(); ++i) {
    TComponent& component = owner.Component(i);
    if (component.InheritsFrom(cls)) {
      return &component;
    }
  }
  return nullptr;
}

void SwapEvents(TPersistent& source, TPersistent& dest) {
  if (&source == &dest) {
    return;
  }
  // Every pair is checked before the first exchange, so a failure changes
  // nothing.
  std::vector<std::pair<const TPropertyInfo*, const TPropertyInfo*>> pairs;
  for (const TPropertyInfo* event : source.ClassType().Properties()) {
    if (event->Kind() != TPropertyKind::kMethod) {
      continue;
    }
    const TPropertyInfo* match = dest.ClassType().FindProperty(event->Name());
    if (match == nullptr) {
      continue;
    }
    if (!event->SameHandlerType(*match)) {
      RaisePlatformError("Events %s and %s cannot exchange handlers", event->Name().c_str(),
                         match->Name().c_str());
    }
    pairs.emplace_back(event, match);
  }
  for (const auto& [event, match] : pairs) {
    event->SwapHandlers(source, *match, dest);
  }
}

std::string IEStringToString(std::string_view text) {
  if (text.size() > 1 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

int ContainsCharacters(std::string_view text, std::string_view characters) {
  const std::size_t at = text.find_first_of(characters);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string StringFilter(std::string_view text, std::string_view characters) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (characters.find(c) == std::string_view::npos) {
      result += c;
    }
  }
  return result;
}

std::string CreateArgumentExpressions(std::string_view syntax, int min_args, int max_args,
                                      int limit) {
  std::vector<std::string_view> placeholders;
  for (std::size_t open = syntax.find('<'); open != std::string_view::npos;) {
    const std::size_t close = syntax.find('>', open);
    if (close == std::string_view::npos) {
      break;
    }
    placeholders.push_back(syntax.substr(open, close - open + 1));
    open = syntax.find('<', close);
  }
  limit = std::max(limit, 0);
  const int plain = std::clamp(min_args, 0, limit);
  const int total = std::clamp(max_args, plain, limit);
  std::string text;
  for (int i = 0; i < total; ++i) {
    text += i < plain ? " " : " [";
    const auto at = static_cast<std::size_t>(i);
    text += at < placeholders.size() ? placeholders[at] : std::string_view("<expression>");
  }
  text.append(static_cast<std::size_t>(total - plain), ']');
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace zephro

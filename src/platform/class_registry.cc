#include "zephro/platform/class_registry.h"

#include <cassert>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/ascii.h"

namespace zephro {
namespace {

struct Registry {
  std::mutex mutex;
  std::deque<TClassInfo> classes;  // every description ever made; a deque never moves them
  std::unordered_map<std::string, const TClassInfo*> by_name;  // keys in lower case
};

// The registry is never destroyed: objects that outlive static destruction may still
// ask for their class.
Registry& TheRegistry() {
  union Holder {
    Holder() : registry() {}
    ~Holder() {}
    Registry registry;
  };
  static Holder holder;
  return holder.registry;
}

}  // namespace

TClassInfo& RegisterClass(std::string name, const TClassInfo* parent, TClassFactory factory) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::string key = AsciiLowerCase(name);
  TClassInfo& info = registry.classes.emplace_back(std::move(name), parent, factory);
  const bool filed = registry.by_name.emplace(std::move(key), &info).second;
  assert(filed && "two classes registered under one name");
  static_cast<void>(filed);
  return info;
}

const TClassInfo* FindClass(std::string_view name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.by_name.find(AsciiLowerCase(name));
  return it == registry.by_name.end() ? nullptr : it->second;
}

const TClassInfo& RequireClass(std::string_view name) {
  if (const TClassInfo* info = FindClass(name)) {
    return *info;
  }
  const std::string text(name);
  RaisePlatformError("Class %s is not registered", text.c_str());
}

}  // namespace zephro

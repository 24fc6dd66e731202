#pragma once
// Native objects that page scripts can touch, and the script face of their
// classes. A class lists its methods by selector once; the three visibility
// questions and the selector-to-script-name table decide what scripts see.
// Adding a service object means: derive from ServiceObject, build one
// ServiceClass with ServiceClass::Builder, and create it in WebViewDelegate.
#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace corvane {

class CallbackDelegate;
class PageScript;
class ServiceObject;

// A call's arguments belong to the call: each is converted once, and texts
// are moved into their parameters rather than copied (pages send megabytes).
using ScriptArgs = std::vector<nlohmann::json>;
// nullopt: the method returns nothing (undefined in the page).
using ScriptResult = std::optional<nlohmann::json>;

// What a method gets besides its arguments: the page that called.
struct BridgeCall {
  std::shared_ptr<PageScript> page;
};

struct ScriptMethod {
  std::string scriptName;
  std::function<ScriptResult(ServiceObject&, BridgeCall&, ScriptArgs&&)> invoke;
};

class ServiceClass {
 public:
  using Handler = std::function<ScriptResult(ServiceObject&, BridgeCall&, ScriptArgs&&)>;
  using Predicate = std::function<bool(const std::string&)>;
  // The answer a script gets from a method (by script name) of an object
  // of this class that is gone; it may throw ScriptTypeError.
  using GoneAnswer = std::function<ScriptResult(const std::string& scriptName)>;

  const std::string& name() const { return name_; }
  // Visible methods in a fixed order; the index is the method id on the wire.
  const std::vector<ScriptMethod>& scriptMethods() const { return visible_; }
  const std::vector<std::string>& scriptFields() const { return visibleFields_; }

  // The three questions of the script-visibility protocol.
  bool isSelectorExcludedFromWebScript(const std::string& selector) const;
  std::optional<std::string> webScriptNameForSelector(const std::string& selector) const;
  bool isKeyExcludedFromWebScript(const std::string& field) const;
  // "fileSizeAtPath:" -> "fileSizeAtPath_"
  static std::string defaultScriptName(const std::string& selector);
  // Classes whose objects go while scripts may hold them (menu items) say
  // what a call on a gone one answers; null for the others.
  const GoneAnswer& whenGone() const { return gone_; }

  template <class T>
  class Builder;

 private:
  std::string name_;
  std::vector<std::pair<std::string, Handler>> methods_;  // by selector
  std::vector<std::string> fields_;
  std::map<std::string, std::string> scriptNames_;
  Predicate selectorExcluded_ = [](const std::string&) { return false; };
  Predicate keyExcluded_ = [](const std::string&) { return true; };
  GoneAnswer gone_;
  std::vector<ScriptMethod> visible_;
  std::vector<std::string> visibleFields_;
  void finish();
};

class ServiceObject {
 public:
  virtual ~ServiceObject() = default;
  virtual const ServiceClass& serviceClass() const = 0;
  // Value of a script-visible field (read when the page reads it).
  virtual nlohmann::json fieldValue(const std::string&) const { return nullptr; }
};

// Raised by argument conversion; the bridge turns it into a script error.
struct ScriptTypeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace script {

// Script value -> native parameter.
template <class A>
struct From;

template <>
struct From<std::string> {
  // Texts stay texts; numbers and booleans become their JSON text; a
  // missing value, null and objects read as the empty text.
  static std::string get(const nlohmann::json& v, BridgeCall&) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number() || v.is_boolean()) return v.dump();
    return std::string();
  }
  static std::string get(nlohmann::json&& v, BridgeCall& c) {
    if (v.is_string()) return std::move(v.get_ref<std::string&>());
    return get(static_cast<const nlohmann::json&>(v), c);
  }
};
template <>
struct From<nlohmann::json> {
  static nlohmann::json get(nlohmann::json v, BridgeCall&) { return v; }
};
template <>
struct From<bool> {
  static bool get(const nlohmann::json& v, BridgeCall&) {
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    if (v.is_string()) return !v.get_ref<const std::string&>().empty();
    return false;
  }
};
template <>
struct From<double> {
  static double get(const nlohmann::json& v, BridgeCall&) {
    if (v.is_number()) return v.get<double>();
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    return 0;
  }
};
template <>
struct From<int64_t> {
  static int64_t get(const nlohmann::json& v, BridgeCall& c) {
    return static_cast<int64_t>(From<double>::get(v, c));
  }
};
template <>
struct From<std::shared_ptr<CallbackDelegate>> {
  static std::shared_ptr<CallbackDelegate> get(const nlohmann::json& v, BridgeCall& c);
};

template <class R>
ScriptResult to(R&& r) {
  return nlohmann::json(std::forward<R>(r));
}

}  // namespace script

template <class T>
class ServiceClass::Builder {
 public:
  explicit Builder(std::string name) { cls_.name_ = std::move(name); }

  template <class R, class... A>
  Builder& method(const std::string& selector, R (T::*fn)(A...)) {
    return add(selector, fn);
  }
  template <class R, class... A>
  Builder& method(const std::string& selector, R (T::*fn)(A...) const) {
    return add(selector, fn);
  }
  Builder& field(const std::string& name) {
    cls_.fields_.push_back(name);
    return *this;
  }
  // webScriptNameForSelector: the class's fixed table.
  Builder& scriptNames(std::map<std::string, std::string> table) {
    cls_.scriptNames_ = std::move(table);
    return *this;
  }
  Builder& excludeSelectors(Predicate p) {
    cls_.selectorExcluded_ = std::move(p);
    return *this;
  }
  Builder& excludeKeys(Predicate p) {
    cls_.keyExcluded_ = std::move(p);
    return *this;
  }
  Builder& whenGone(GoneAnswer answer) {
    cls_.gone_ = std::move(answer);
    return *this;
  }
  ServiceClass build() {
    cls_.finish();
    return std::move(cls_);
  }

 private:
  template <class Fn>
  Builder& add(const std::string& selector, Fn fn) {
    cls_.methods_.emplace_back(selector, makeHandler(fn));
    return *this;
  }

  template <class R, class... A, class Fn>
  static Handler bind(Fn fn) {
    return [fn](ServiceObject& self, BridgeCall& call, ScriptArgs&& args) -> ScriptResult {
      auto& obj = static_cast<T&>(self);
      return invoke<R, A...>(obj, fn, call, args, std::index_sequence_for<A...>{});
    };
  }
  template <class R, class... A>
  static Handler makeHandler(R (T::*fn)(A...)) {
    return bind<R, A...>(fn);
  }
  template <class R, class... A>
  static Handler makeHandler(R (T::*fn)(A...) const) {
    return bind<R, A...>(fn);
  }

  template <class R, class... A, class Fn, size_t... I>
  static ScriptResult invoke(T& obj, Fn fn, BridgeCall& call, ScriptArgs& args, std::index_sequence<I...>) {
    // Each argument is taken once; a missing one reads as null.
    auto arg = [&](size_t i) -> nlohmann::json { return i < args.size() ? std::move(args[i]) : nlohmann::json(); };
    if constexpr (std::is_void_v<R>) {
      (obj.*fn)(script::From<std::decay_t<A>>::get(arg(I), call)...);
      return std::nullopt;
    } else if constexpr (std::is_same_v<std::decay_t<R>, ScriptResult>) {
      return (obj.*fn)(script::From<std::decay_t<A>>::get(arg(I), call)...);
    } else {
      return script::to((obj.*fn)(script::From<std::decay_t<A>>::get(arg(I), call)...));
    }
  }

  ServiceClass cls_;
};

}  // namespace corvane

// The extension zephro._zephro: an inference engine for Python programs. The
// package zephro (zephro/__init__.py) defines the Python types the values
// cross over as and hands them here once (_set_types), and adds the parts
// best written in Python.
//
// The interpreter lock: every call into the engine converts its arguments,
// releases the lock and takes the engine's own lock, so that rules run while
// other Python threads go on; whatever calls back into Python (a Python
// function the rules call, the print-out handler) takes the interpreter lock
// again for that call only. An exception a callback raises becomes an engine
// error, which ends the engine's work as any error does and reaches the caller
// as zephro.Error, with the Python exception as its __cause__.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/facts_json.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact.h"
#include "zephro/functions/user_function.h"
#include "zephro/language/clips_parser.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/text_stream.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace py = pybind11;

namespace zephro {
namespace {

// The Python types of zephro/__init__.py. Never freed: they must outlive
// every engine, and the interpreter tears modules down in no fixed order.
struct TPythonTypes {
  py::object error, exit, symbol, fact_ref, fact, rule, activation;
};
TPythonTypes* g_types = nullptr;

const TPythonTypes& Types() {
  if (g_types == nullptr) {
    throw std::runtime_error("zephro._zephro is used through the package zephro");
  }
  return *g_types;
}

// --- values -------------------------------------------------------------------------------------

// Engine text is bytes; Python's is code points. Bytes that are not UTF-8
// cross over as lone surrogates and come back as the same bytes.
py::str ToPythonText(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                     "surrogateescape");
  if (s == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(s);
}

std::string FromPythonText(py::handle text) {
  PyObject* bytes = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
  if (bytes == nullptr) {
    throw py::error_already_set();
  }
  py::bytes owned = py::reinterpret_steal<py::bytes>(bytes);
  return std::string(owned);
}

py::object ToPython(const IIEValue* value) {
  if (value == nullptr || value->DType() == TIEType::dtNone || IsNilValue(*value)) {
    return py::none();
  }
  switch (value->DType()) {
    case TIEType::dtInteger:
      return py::int_(value->AsInteger());
    case TIEType::dtFloat:
      return py::float_(value->AsFloat());
    case TIEType::dtString:
      return ToPythonText(value->AsString());
    case TIEType::dtAtom: {
      const std::string text = value->AsString();
      if (text == "TRUE" || text == "FALSE") {
        return py::bool_(text == "TRUE");
      }
      return Types().symbol(ToPythonText(text));
    }
    case TIEType::dtFactId:
      return Types().fact_ref(value->AsInteger());
    case TIEType::dtFact:
      if (value->AsFact() != nullptr) {
        return Types().fact_ref(value->AsFact()->GetID());
      }
      return py::none();
    case TIEType::dtList: {
      py::list list;
      if (value->AsList() != nullptr) {
        for (const Ref<IIEValue>& item : value->AsList()->Values()) {
          list.append(ToPython(item.get()));
        }
      }
      return list;
    }
    default:
      // Fuzzy values, host objects and the like: their printed form.
      return ToPythonText(value->ToString());
  }
}

// Nested lists are refused beyond this depth, as the engine's own readers do.
constexpr int kMaxListNesting = 256;

Ref<IIEValue> FromPython(py::handle object, int depth = 0) {
  if (object.is_none()) {
    return Ref<IIEValue>(&FCNil());
  }
  if (PyBool_Check(object.ptr())) {
    return BoolValue(object.ptr() == Py_True);
  }
  if (PyLong_Check(object.ptr())) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(object.ptr(), &overflow);
    if (overflow != 0 || n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max()) {
      throw py::value_error("the integer " + py::repr(object).cast<std::string>() +
                            " does not fit the engine's 32 bits");
    }
    return TIEValue::Integer(static_cast<std::int32_t>(n));
  }
  if (PyFloat_Check(object.ptr())) {
    return TIEValue::Float(PyFloat_AsDouble(object.ptr()));
  }
  if (py::isinstance(object, Types().symbol)) {
    return TIEValue::Atom(FromPythonText(object));
  }
  if (PyUnicode_Check(object.ptr())) {
    return TIEValue::String(FromPythonText(object));
  }
  if (py::isinstance(object, Types().fact_ref) || py::isinstance(object, Types().fact)) {
    return MakeRef<TIEValue>(object.attr("id").cast<std::int32_t>(), TIEType::dtFactId);
  }
  if (PyList_Check(object.ptr()) || PyTuple_Check(object.ptr())) {
    if (depth >= kMaxListNesting) {
      throw py::value_error("lists nested too deeply for the engine");
    }
    Ref<IValueVector> list = MakeValueVector();
    for (py::handle item : object) {
      list->Add(FromPython(item, depth + 1));
    }
    return MakeRef<TIEValue>(std::move(list));
  }
  throw py::type_error("a " + py::str(object.get_type().attr("__name__")).cast<std::string>() +
                       " cannot be an engine value");
}

py::object FactToPython(const IFact& fact) {
  const IFactTemplate* tmpl = fact.Template();
  const py::str name = ToPythonText(tmpl != nullptr ? tmpl->TemplateName() : std::string());
  if (tmpl == nullptr || tmpl->IsOrdered()) {
    py::object values = ToPython(fact.ValueAt(0));
    return Types().fact(fact.GetID(), name, py::none(), values.is_none() ? py::list() : values);
  }
  py::dict slots;
  for (int i = 0; i < tmpl->SlotCount(); ++i) {
    slots[ToPythonText(tmpl->SlotNames()[static_cast<std::size_t>(i)])] = ToPython(fact.ValueAt(i));
  }
  return Types().fact(fact.GetID(), name, std::move(slots), py::none());
}

// --- the engine ---------------------------------------------------------------------------------

class TPythonEngine;

// A Python callable the rules call by name.
class TPythonFunction final : public TIEUserFunction {
 public:
  TPythonFunction(std::string_view name, py::object callable, TPythonEngine& owner,
                  std::int32_t min_arguments, std::int32_t max_arguments)
      : TIEUserFunction(name, "A Python function.", " <expression>*", min_arguments, max_arguments),
        callable_(std::move(callable)),
        owner_(owner) {}
  // The engine may drop the function while the interpreter lock is released.
  ~TPythonFunction() override {
    py::gil_scoped_acquire acquire;
    callable_ = py::object();
  }

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;

 private:
  py::object callable_;
  TPythonEngine& owner_;
};

class TPythonEngine {
 public:
  TPythonEngine() : engine_(std::make_unique<TInferenceEngine>(nullptr)) {
    engine_->SetEchoResults(false);
    engine_->OnPrintOut = [this](TInferenceEngine&, std::string_view logical_name,
                                 std::string_view text) {
      CallPython("on_print", [&] {
        if (print_.is_none()) {
          py::module_::import("sys").attr("stdout").attr("write")(ToPythonText(text));
        } else {
          print_(ToPythonText(logical_name), ToPythonText(text));
        }
      });
    };
    engine_->OnReadLine = [this](TInferenceEngine&, std::string_view, std::string& text) {
      CallPython("sys.stdin.readline", [&] {
        py::object line = py::module_::import("sys").attr("stdin").attr("readline")();
        text = FromPythonText(line);
        if (!text.empty() && text.back() == '\n') {
          text.pop_back();
        }
      });
    };
  }
  ~TPythonEngine() {
    // Functions and handlers hold Python objects: release them with the lock
    // held, which the caller (the object's deallocation) has.
    engine_.reset();
  }
  TPythonEngine(const TPythonEngine&) = delete;
  TPythonEngine& operator=(const TPythonEngine&) = delete;

  // Runs `work` on the engine with the interpreter lock released and the
  // engine's lock held; engine errors become zephro.Error.
  template <class Work>
  auto Call(Work&& work) -> decltype(work()) {
    if (depth_ == 0) {
      cause_ = py::object();
    }
    ++depth_;
    struct TDepth {
      int& depth;
      ~TDepth() { --depth; }
    } const leave{depth_};
    try {
      py::gil_scoped_release release;
      const TEngineLock lock(*engine_);
      return work();
    } catch (const EAbort& abort) {
      Raise(*abort.what() == '\0' ? Types().exit : Types().error,
            *abort.what() == '\0' ? std::string("the program called (exit)") : abort.what());
    } catch (const py::error_already_set&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& error) {
      Raise(Types().error, error.what());
    }
  }

  // Runs `work` with the interpreter lock, from inside the engine. A Python
  // exception is kept as the cause and raised into the engine as its error,
  // "<who> raised <exception type>: <its text>".
  template <class Work>
  auto CallPython(std::string_view who, Work&& work) -> decltype(work()) {
    py::gil_scoped_acquire acquire;
    try {
      return work();
    } catch (py::error_already_set& error) {
      cause_ = error.value();
      RaiseIEPlain(std::string(who) + " raised " +
                   py::str(error.type().attr("__name__")).cast<std::string>() + ": " +
                   py::str(error.value()).cast<std::string>());
    } catch (const py::builtin_exception& error) {
      // A result the engine cannot take.
      RaiseIEPlain(std::string(who) + " returned " + error.what());
    }
  }

  TInferenceEngine& Engine() { return *engine_; }

  void SetPrint(py::object handler) {
    if (!handler.is_none() && !PyCallable_Check(handler.ptr())) {
      throw py::type_error("on_print takes a callable (logical_name, text) or None");
    }
    print_ = std::move(handler);
  }
  py::object Print() const { return print_; }

  void Build(const std::string& text) {
    Call([&] { engine_->Parse(text, true); });
  }

  void Load(const std::string& path) {
    Call([&] {
      CheckFileName(path);
      std::ifstream in = OpenFileForReading(path);
      Parse(*engine_, in, true, path);
    });
  }

  int Run(std::optional<int> limit) {
    if (limit && *limit < 0) {
      throw py::value_error("run: the limit must be 0 or more");
    }
    return Call([&] { return engine_->Run(limit.value_or(std::numeric_limits<int>::max())); });
  }

  py::object Eval(const std::string& text) {
    Ref<IIEValue> result = Call([&] { return engine_->ParseNExecuteFunCall(text); });
    return ToPython(result.get());
  }

  std::int32_t AssertText(const std::string& text) {
    return Call([&] { return engine_->Assert(std::string_view(text)); });
  }

  std::int32_t AssertSlots(const std::string& template_name, const py::dict& slots) {
    // Converted first, with the interpreter lock: the engine only sees values.
    std::vector<std::pair<std::string, Ref<IIEValue>>> values;
    for (auto [name, value] : slots) {
      values.emplace_back(FromPythonText(name), FromPython(value));
    }
    return Call([&] { return AssertBuilt(template_name, values); });
  }

  void DefineFunction(const std::string& name, py::object callable, std::int32_t min_arguments,
                      std::optional<std::int32_t> max_arguments) {
    if (!PyCallable_Check(callable.ptr())) {
      throw py::type_error("define_function takes a callable");
    }
    // A call names its function with one word, which no variable starts.
    if (name.empty() || name.find_first_of(" \t\r\n\"();") != std::string::npos ||
        name.front() == '?' || name.front() == '$') {
      throw py::value_error("define_function: rules cannot call a function named \"" + name +
                            "\" (one word, without blanks, quotes, parentheses or ';', "
                            "not starting with ? or $)");
    }
    const std::int32_t max = max_arguments.value_or(kUnlimitedArguments);
    if (min_arguments < 0 || max < min_arguments) {
      throw py::value_error("define_function: 0 <= min_args <= max_args");
    }
    Ref<IUserFunction> function =
        TIEUserFunction::Make<TPythonFunction>(name, std::move(callable), *this, min_arguments, max);
    Call([&] { engine_->PutUserFunction(name, std::move(function)); });
  }

  py::list Facts() {
    std::vector<Ref<IFact>> facts;
    Call([&] { engine_->ForEachFact([&](IFact& fact) { facts.emplace_back(&fact); }); });
    py::list list;
    for (const Ref<IFact>& fact : facts) {
      list.append(FactToPython(*fact));
    }
    return list;
  }

  py::object FindFact(std::int32_t id) {
    Ref<IFact> found;
    Call([&] {
      engine_->ForEachFact([&](IFact& fact) {
        if (fact.GetID() == id) {
          found = Ref<IFact>(&fact);
        }
      });
    });
    return found ? FactToPython(*found) : py::object(py::none());
  }

  py::list Rules() {
    struct TRuleData {
      std::string name, comment;
      std::int32_t salience;
    };
    std::vector<TRuleData> rules;
    Call([&] {
      for (int i = 0; i < engine_->Rules().Count(); ++i) {
        const TRule& rule = engine_->Rules().At(i);
        rules.push_back({rule.RuleName(), rule.Comment(), rule.Salience()});
      }
    });
    py::list list;
    for (const TRuleData& rule : rules) {
      list.append(Types().rule(ToPythonText(rule.name), rule.salience, ToPythonText(rule.comment)));
    }
    return list;
  }

  py::list Agenda() {
    struct TActivationData {
      std::string rule;
      std::int32_t salience;
      std::vector<std::int32_t> facts;
    };
    std::vector<TActivationData> activations;
    Call([&] {
      for (int i = 0; i < engine_->GetAgendaCount(); ++i) {
        const TActivation& activation = engine_->GetActivation(i);
        TActivationData data{activation.Rule().RuleName(), activation.Rule().Salience(), {}};
        const IReteToken& token = activation.Token();
        for (int k = 0; k < token.Count(); ++k) {
          if (const IFact* fact = token.GetFacts(k)) {
            data.facts.push_back(fact->GetID());
          }
        }
        activations.push_back(std::move(data));
      }
    });
    py::list list;
    for (TActivationData& data : activations) {
      list.append(Types().activation(ToPythonText(data.rule), data.salience, py::cast(data.facts)));
    }
    return list;
  }

 private:
  [[noreturn]] void Raise(const py::object& type, const std::string& message) {
    py::object error = type(ToPythonText(message));
    if (cause_) {
      error.attr("__cause__") = cause_;
      cause_ = py::object();
    }
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
  }

  std::int32_t AssertBuilt(const std::string& template_name,
                           std::vector<std::pair<std::string, Ref<IIEValue>>>& values) {
    IFactTemplate* tmpl = engine_->FindFactTemplate(template_name);
    if (tmpl == nullptr || tmpl->IsOrdered()) {
      // An ordered fact: its fields under "values".
      if (values.size() != 1 || values.front().first != "values") {
        if (tmpl == nullptr) {
          RaiseIE(SUnknownFactTemplate, template_name.c_str());
        }
        RaiseIE(SNoSuchSlot, values.front().first.c_str());
      }
      Ref<IIEValue> fields = std::move(values.front().second);
      if (fields->DType() != TIEType::dtList) {
        Ref<IValueVector> list = MakeValueVector();
        list->Add(std::move(fields));
        fields = MakeRef<TIEValue>(std::move(list));
      }
      Ref<TFact> fact =
          TFact::Make(Ref<IFactTemplate>(&engine_->CreateFactTemplate(template_name)));
      fact->SetValue(SDefaultSlotName, std::move(fields));
      return engine_->Assert(std::move(fact));
    }
    Ref<TFact> fact = TFact::Make(Ref<IFactTemplate>(tmpl));
    for (auto& [name, value] : values) {
      const IFactSlot* slot = tmpl->FindSlot(name);
      if (slot == nullptr) {
        RaiseIE(SNoSuchSlot, name.c_str());
      }
      fact->SetValueChecked(name, std::move(value));
    }
    return engine_->Assert(std::move(fact));
  }

  std::unique_ptr<TInferenceEngine> engine_;
  py::object print_ = py::none();
  py::object cause_;  // the Python exception behind the engine error being raised
  int depth_ = 0;     // calls into the engine under way (a callback may call again)
};

Ref<IIEValue> TPythonFunction::Run(IFunCall& call, TIEContext& context) {
  std::vector<Ref<IIEValue>> arguments;
  arguments.reserve(static_cast<std::size_t>(call.ArgumentCount()));
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    arguments.push_back(call.Argument(i)->Resolve(&context));
  }
  return owner_.CallPython("Python function " + FunctionName(), [&] {
    py::tuple python_arguments(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      python_arguments[i] = ToPython(arguments[i].get());
    }
    return FromPython(callable_(*python_arguments));
  });
}

}  // namespace
}  // namespace zephro

PYBIND11_MODULE(_zephro, module) {
  using zephro::TPythonEngine;
  module.doc() = "The engine behind the package zephro; use zephro.Engine.";

  module.def("_set_types", [](py::object error, py::object exit, py::object symbol,
                              py::object fact_ref, py::object fact, py::object rule,
                              py::object activation) {
    zephro::g_types = new zephro::TPythonTypes{error, exit, symbol, fact_ref, fact, rule, activation};
  });

  py::class_<TPythonEngine>(module, "Engine")
      .def(py::init<>())
      .def("build", &TPythonEngine::Build, py::arg("text"),
           "Reads constructs and runs top-level calls from text.")
      .def("load", &TPythonEngine::Load, py::arg("path"), "Reads a file of constructs and calls.")
      .def("run", &TPythonEngine::Run, py::arg("limit") = py::none(),
           "Fires rules until the agenda is empty, (halt), or limit rules; returns how many fired.")
      .def("reset", [](TPythonEngine& self) { self.Call([&] { self.Engine().Reset(); }); },
           "Empties working memory and asserts the deffacts again.")
      .def("clear", [](TPythonEngine& self) { self.Call([&] { self.Engine().Clear(); }); },
           "Removes every construct and fact.")
      .def("eval", &TPythonEngine::Eval, py::arg("text"),
           "Runs one function call and returns its value, e.g. eval(\"(+ 1 2)\").")
      .def("_assert_text", &TPythonEngine::AssertText)
      .def("_assert_slots", &TPythonEngine::AssertSlots)
      .def("retract", [](TPythonEngine& self, std::int32_t id) {
             self.Call([&] { self.Engine().Retract(id); });
           }, py::arg("id"), "Retracts the fact with this id.")
      .def("define_function", &TPythonEngine::DefineFunction, py::arg("name"),
           py::arg("callable"), py::arg("min_args") = 0, py::arg("max_args") = py::none(),
           "Files a Python callable as a function the rules can call.")
      .def("facts", &TPythonEngine::Facts, "Working memory, as a list of Fact.")
      .def("fact", &TPythonEngine::FindFact, py::arg("id"), "The fact with this id, or None.")
      .def("rules", &TPythonEngine::Rules, "The rules, as a list of Rule.")
      .def("agenda", &TPythonEngine::Agenda, "The activations in firing order.")
      .def("facts_json", [](TPythonEngine& self) {
             return self.Call([&] { return zephro::FactsToJson(self.Engine()); });
           }, "Working memory as a JSON document.")
      .def("load_facts_json", [](TPythonEngine& self, const std::string& json) {
             return self.Call([&] { return zephro::LoadFactsJson(self.Engine(), json); });
           }, py::arg("json"), "Asserts the facts of a JSON document, all or none.")
      .def_property("on_print", &TPythonEngine::Print, &TPythonEngine::SetPrint,
                    "Called as on_print(logical_name, text) for print-out; None writes to sys.stdout.");
}

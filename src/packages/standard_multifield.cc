// The multifield functions of the standard package.
//
// Indices are zero-based and ranges inclusive. A function that returns a list
// returns a new one whose items are clones, so changing the result never
// changes the list it came from. A range whose begin lies after its end raises
// "Invalid multifield begin and end parameters: %d, %d"; an index outside a list
// where one item is needed (nth$, insert$, replace$) raises the list's index
// error; a range reaching outside the list simply selects nothing there.

#include <cstdint>
#include <string>
#include <string_view>

#include "zephro/functions/context.h"
#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/packages/standard_io.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "packages/standard_io_internal.h"

namespace zephro {

namespace {

Ref<IIEValue> ListValue(Ref<IValueVector> list) {
  return MakeRef<TIEValue>(std::move(list));
}

// An inclusive range of indices, checked on construction.
struct TRange {
  std::int32_t begin;
  std::int32_t end;
  bool Contains(int index) const { return index >= begin && index <= end; }
};

// Argument `index` as a list; anything else raises the conversion error.
// `holder` keeps the value (and so the list) alive.
IValueVector& EvalList(IFunCall& call, int index, TIEContext& context, Ref<IIEValue>& holder) {
  holder = call.Argument(index)->Resolve(&context);
  IValueVector* list = holder->AsList();
  return list != nullptr ? *list : *FCNilList().AsList();
}

// A new list of clones of the items of `list` inside (or outside) `range`.
Ref<IValueVector> Select(const IValueVector& list, const TRange& range, bool inside) {
  auto selected = MakeRef<TValueVector>();
  for (int i = 0; i < list.ValueCount(); ++i) {
    if (range.Contains(i) == inside) {
      IIEValue* item = list.Get(i);
      selected->Add(item != nullptr ? item->Clone() : Ref<IIEValue>());
    }
  }
  return selected;
}

// Inserts clones of the values of arguments `first`... at `index`, each in
// turn, so that later arguments end up before earlier ones.
void InsertArguments(IValueVector& list, int index, IFunCall& call, int first,
                     TIEContext& context) {
  for (int i = first; i < call.ArgumentCount(); ++i) {
    list.Insert(index, call.Argument(i)->Resolve(&context)->Clone());
  }
}

// The index of the first item of `list` that, resolved, equals `value`; -1
// when there is none.
int IndexOfEqual(const IValueVector& list, const IIEValue& value, TIEContext& context) {
  for (int i = 0; i < list.ValueCount(); ++i) {
    IIEValue* item = list.Get(i);
    if (item != nullptr && item->Resolve(&context)->Equals(&value)) {
      return i;
    }
  }
  return -1;
}

// delete$, subseq$ and replace$: a list, a range in arguments 1 and 2 (checked
// before anything is selected), and for replace$ the values to put in place of
// the range.
class TRangeFunction : public TIEUserFunction {
 public:
  enum class TKeep : std::uint8_t { kInside, kOutside, kOutsideAndArguments };

  TRangeFunction(std::string_view name, std::string_view comment, std::string_view syntax,
                 std::int32_t max_arguments, TKeep keep)
      : TIEUserFunction(name, comment, syntax, 3, max_arguments), keep_(keep) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    const IValueVector& list = EvalList(call, 0, context, holder);
    const TRange range{EvalInteger(call, 1, context), EvalInteger(call, 2, context)};
    if (range.begin > range.end) {
      RaiseIE(SInvalidMFParameters, range.begin, range.end);
    }
    Ref<IValueVector> result = Select(list, range, keep_ == TKeep::kInside);
    if (keep_ == TKeep::kOutsideAndArguments) {
      InsertArguments(*result, range.begin, call, 3, context);
    }
    return ListValue(std::move(result));
  }

 private:
  TKeep keep_;
};

}  // namespace

class TCreateMFFunction final : public TIEUserFunction {
 public:
  TCreateMFFunction()
      : TIEUserFunction(CreateMFFunctionName, CreateMFComment, CreateMFSyntax, 0,
                        kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    auto list = MakeRef<TValueVector>();
    list->Reserve(call.ArgumentCount());
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      list->Add(Eval(call, i, context)->Clone());
    }
    return ListValue(std::move(list));
  }
};

class TDeleteMFFunction final : public TRangeFunction {
 public:
  TDeleteMFFunction()
      : TRangeFunction(DeleteMFFunctionName, DeleteMFComment, DeleteMFSyntax, 3, TKeep::kOutside) {}
};

class TSubSeqMFFunction final : public TRangeFunction {
 public:
  TSubSeqMFFunction()
      : TRangeFunction(SubSeqMFFunctionName, SubSeqMFComment, SubSeqMFSyntax, 3, TKeep::kInside) {}
};

class TReplaceMFFunction final : public TRangeFunction {
 public:
  TReplaceMFFunction()
      : TRangeFunction(ReplaceMFFunctionName, ReplaceMFComment, ReplaceMFSyntax,
                       kUnlimitedArguments, TKeep::kOutsideAndArguments) {}
};

class TInsertMFFunction final : public TIEUserFunction {
 public:
  TInsertMFFunction()
      : TIEUserFunction(InsertMFFunctionName, InsertMFComment, InsertMFSyntax, 2,
                        kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    Ref<IValueVector> result = EvalList(call, 0, context, holder).Clone();
    InsertArguments(*result, EvalInteger(call, 1, context), call, 2, context);
    return ListValue(std::move(result));
  }
};

class TExplodeMFFunction final : public TIEUserFunction {
 public:
  TExplodeMFFunction()
      : TIEUserFunction(ExplodeMFFunctionName, ExplodeMFComment, ExplodeMFSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string text = EvalText(call, 0, context);
    auto list = MakeRef<TValueVector>();
    std::size_t start = text.find_first_not_of(' ');
    while (start != std::string::npos) {
      const std::size_t end = text.find(' ', start);
      list->Add(TIEValue::Atom(std::string_view(text).substr(start, end - start)));
      start = text.find_first_not_of(' ', end);
    }
    return ListValue(std::move(list));
  }
};

class TImplodeMFFunction final : public TIEUserFunction {
 public:
  TImplodeMFFunction()
      : TIEUserFunction(ImplodeMFFunctionName, ImplodeMFComment, ImplodeMFSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    const IValueVector& list = EvalList(call, 0, context, holder);
    std::string text;
    for (const Ref<IIEValue>& item : list.Values()) {
      if (!text.empty()) {
        text += ' ';
      }
      text += item ? item->ToString() : std::string();
    }
    return TIEValue::String(text);
  }
};

class TFirstMFFunction final : public TIEUserFunction {
 public:
  TFirstMFFunction() : TIEUserFunction(FirstMFFunctionName, FirstMFComment, FirstMFSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    const IValueVector& list = EvalList(call, 0, context, holder);
    IIEValue* first = list.ValueCount() > 0 ? list.Get(0) : nullptr;
    return Ref<IIEValue>(first != nullptr ? first : &FCNil());
  }
};

class TRestMFFunction final : public TIEUserFunction {
 public:
  TRestMFFunction() : TIEUserFunction(RestMFFunctionName, RestMFComment, RestMFSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    const IValueVector& list = EvalList(call, 0, context, holder);
    return ListValue(Select(list, TRange{0, 0}, false));
  }
};

class TLengthMFFunction final : public TIEUserFunction {
 public:
  TLengthMFFunction()
      : TIEUserFunction(LengthMFFunctionName, LengthMFComment, LengthMFSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> holder;
    return TIEValue::Integer(EvalList(call, 0, context, holder).ValueCount());
  }
};

class TNthMFFunction final : public TIEUserFunction {
 public:
  TNthMFFunction() : TIEUserFunction(NthMFFunctionName, NthMFComment, NthMFSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::int32_t index = EvalInteger(call, 0, context);
    Ref<IIEValue> holder;
    IIEValue* item = EvalList(call, 1, context, holder).Get(index);
    return Ref<IIEValue>(item != nullptr ? item : &FCNil());
  }
};

class TMemberMFFunction final : public TIEUserFunction {
 public:
  TMemberMFFunction()
      : TIEUserFunction(MemberMFFunctionName, MemberMFComment, MemberMFSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 0, context);
    Ref<IIEValue> holder;
    const int index = IndexOfEqual(EvalList(call, 1, context, holder), *value, context);
    return index >= 0 ? TIEValue::Integer(index) : BoolValue(false);
  }
};

class TMemberFunction final : public TIEUserFunction {
 public:
  TMemberFunction()
      : TIEUserFunction(MemberFunctionName, MemberComment, MemberSyntax, 2, kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 0, context);
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      if (Eval(call, i, context)->Equals(value.get())) {
        return TIEValue::Integer(i - 1);
      }
    }
    return BoolValue(false);
  }
};

class TSubSetpMFFunction final : public TIEUserFunction {
 public:
  TSubSetpMFFunction()
      : TIEUserFunction(SubSetpMFFunctionName, SubSetpMFComment, SubSetpMFSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> subset = Eval(call, 0, context);
    Ref<IIEValue> holder;
    const IValueVector& set = EvalList(call, 1, context, holder);
    if (subset->DType() != TIEType::dtList) {
      return BoolValue(IndexOfEqual(set, *subset, context) >= 0);
    }
    for (const Ref<IIEValue>& item : subset->AsList()->Values()) {
      if (!item || IndexOfEqual(set, *item->Resolve(&context), context) < 0) {
        return BoolValue(false);
      }
    }
    return BoolValue(true);
  }
};

void AddMultifieldFunctions(TUserPackage& package) {
  package.AddFunction<TCreateMFFunction>();
  package.AddFunction<TDeleteMFFunction>();
  package.AddFunction<TExplodeMFFunction>();
  package.AddFunction<TFirstMFFunction>();
  package.AddFunction<TImplodeMFFunction>();
  package.AddFunction<TInsertMFFunction>();
  package.AddFunction<TLengthMFFunction>();
  package.AddFunction<TMemberFunction>();
  package.AddFunction<TMemberMFFunction>();
  package.AddFunction<TNthMFFunction>();
  package.AddFunction<TReplaceMFFunction>();
  package.AddFunction<TRestMFFunction>();
  package.AddFunction<TSubSeqMFFunction>();
  package.AddFunction<TSubSetpMFFunction>();
}

}  // namespace zephro

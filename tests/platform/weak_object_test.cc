#include "zephro/platform/weak_object.h"

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/persistent.h"

namespace zephro {
namespace {

class TPlain : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TPlain, TPersistent)
};

// Reports what handles to itself and to a partner read at the moments a
// component's freeing passes through: when a partner registered for free
// notification is told, and in its own destructor.
class TProbe : public TComponent {
  ZEPHRO_DECLARE_CLASS(TProbe, TComponent)

  TProbe(TComponent* owner, std::string name, std::vector<std::string>* journal)
      : TComponent(owner), journal_(journal) {
    SetName(std::move(name));
  }
  explicit TProbe(TComponent* owner) : TProbe(owner, "", nullptr) {}
  ~TProbe() override {
    // The freeing began before this destructor: handles taken now, to this
    // component or its owned ones, already read null.
    Log("destructor, handle to self " + Seen(TWeakObject<TProbe>(this).Get()));
  }

  TWeakObject<TProbe> partner;

 protected:
  void Notification(TComponent& component, TOperation operation) override {
    if (operation == TOperation::opRemove) {
      Log("told of " + component.Name() + ", handle " + Seen(partner.Get()));
    }
  }

 private:
  static std::string Seen(const TProbe* probe) {
    return probe != nullptr ? "reads " + probe->Name() : "reads null";
  }
  void Log(const std::string& what) {
    if (journal_ != nullptr) {
      journal_->push_back(Name() + ": " + what);
    }
  }

  std::vector<std::string>* journal_;
};

ZEPHRO_DEFINE_CLASS(TPlain);
ZEPHRO_DEFINE_CLASS(TProbe);

using ::testing::ElementsAre;

TEST(WeakObjectTest, HandlesReadTheObjectUntilItIsFreed) {
  auto plain = std::make_unique<TPlain>();
  TWeakObject<TPlain> first(plain.get());
  TWeakObject<TPlain> second(plain.get());
  const TWeakObject<TPlain> none;
  EXPECT_EQ(first.Get(), plain.get());
  EXPECT_FALSE(first.Expired());
  EXPECT_EQ(first, second);  // one block per object
  EXPECT_NE(first, none);
  EXPECT_EQ(none.Get(), nullptr);
  EXPECT_FALSE(none.Expired());

  plain.reset();
  EXPECT_EQ(first.Get(), nullptr);
  EXPECT_TRUE(first.Expired());
  EXPECT_EQ(first, second);  // identity outlives the object

  // A new object, even at the same address, is another identity.
  auto next = std::make_unique<TPlain>();
  EXPECT_NE(TWeakObject<TPlain>(next.get()), first);
  first.Reset();
  EXPECT_EQ(first, none);
}

TEST(WeakObjectTest, TheBlockOutlivesTheObjectWhileHandlesHoldIt) {
  auto plain = std::make_unique<TPlain>();
  TLiveness& block = plain->Liveness();
  TWeakObject<TPlain> handle(plain.get());
  EXPECT_EQ(handle.Block(), &block);
  EXPECT_EQ(block.RefCount(), 2);  // the object's and the handle's
  plain.reset();
  EXPECT_EQ(block.RefCount(), 1);
  EXPECT_EQ(block.Object(), nullptr);
  // An untyped handle reads through TObject.
  auto* raw = new TPlain;
  TWeakObject<> untyped(raw);
  EXPECT_EQ(untyped.Get(), raw);
  FreeObject(raw);
  EXPECT_EQ(untyped.Get(), nullptr);
}

// A component is whole while those registered for its free notification are
// told, and they still reach it through handles; handles read null from then
// on, in its destructors as for everybody else.
TEST(WeakObjectTest, AComponentEndsItsLivenessOnceTheOthersAreTold) {
  std::vector<std::string> journal;
  auto watcher = std::make_unique<TProbe>(nullptr, "watcher", &journal);
  auto doomed = std::make_unique<TProbe>(nullptr, "doomed", &journal);
  watcher->FreeNotification(*doomed);
  watcher->partner = TWeakObject<TProbe>(doomed.get());
  TWeakObject<TProbe> outside(doomed.get());

  doomed.reset();
  EXPECT_EQ(outside.Get(), nullptr);
  EXPECT_EQ(watcher->partner.Get(), nullptr);
  EXPECT_THAT(journal, ElementsAre("watcher: told of doomed, handle reads doomed",
                                   "doomed: destructor, handle to self reads null"));
}

TEST(WeakObjectTest, OwnedComponentsReadNullOnceTheirOwnerFreedThem) {
  auto form = std::make_unique<TProbe>(nullptr);
  TProbe& panel = MakeOwned<TProbe>(*form);
  TProbe& button = MakeOwned<TProbe>(panel);
  TWeakObject<TProbe> to_panel(&panel);
  TWeakObject<TProbe> to_button(&button);

  FreeObject(&button);  // alone: its owner lets it go
  EXPECT_EQ(to_button.Get(), nullptr);
  EXPECT_EQ(panel.ComponentCount(), 0);
  EXPECT_EQ(to_panel.Get(), &panel);

  TWeakObject<TProbe> to_second(&MakeOwned<TProbe>(panel));
  form.reset();
  EXPECT_EQ(to_panel.Get(), nullptr);
  EXPECT_EQ(to_second.Get(), nullptr);
}

TEST(WeakObjectTest, AComponentFreedWithoutDeleteEndsItsLivenessToo) {
  TWeakObject<TProbe> handle;
  {
    TProbe on_stack(nullptr);
    handle = TWeakObject<TProbe>(&on_stack);
    EXPECT_EQ(handle.Get(), &on_stack);
  }
  EXPECT_EQ(handle.Get(), nullptr);
}

}  // namespace
}  // namespace zephro

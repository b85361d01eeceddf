#include "zephro/platform/component.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

// Records every notification and destruction in one shared journal, as
// "receiver: what about whom".
class TWatcher : public TComponent {
  ZEPHRO_DECLARE_CLASS(TWatcher, TComponent)

  TWatcher(TComponent* owner, std::string name, std::vector<std::string>* journal)
      : TComponent(owner), journal_(journal) {
    SetName(std::move(name));
  }
  explicit TWatcher(TComponent* owner) : TWatcher(owner, "", nullptr) {}
  ~TWatcher() override { Log("destroyed"); }

  // The component a watcher borrows; dropped when that one goes.
  TComponent* watched = nullptr;

 protected:
  void Notification(TComponent& component, TOperation operation) override {
    std::string what = operation == TOperation::opInsert ? "insert " : "remove ";
    what += component.Name();
    if (component.ComponentState().Contains(TComponentStateFlag::csDestroying)) {
      what += " (destroying, a " + component.ClassName() + ")";
    }
    Log(what);
    if (operation == TOperation::opRemove && &component == watched) {
      watched = nullptr;
    }
  }

 private:
  void Log(const std::string& what) {
    if (journal_ != nullptr) {
      journal_->push_back(Name() + ": " + what);
    }
  }

  std::vector<std::string>* journal_;
};

ZEPHRO_DEFINE_CLASS(TWatcher);

using ::testing::ElementsAre;

TEST(ComponentTest, OwnerIsToldOfInsertionAndFindsChildrenByName) {
  std::vector<std::string> journal;
  auto form = std::make_unique<TWatcher>(nullptr, "form", &journal);
  TWatcher& first = MakeOwned<TWatcher>(*form, "First", &journal);
  TWatcher& second = MakeOwned<TWatcher>(*form, "second", &journal);

  EXPECT_EQ(first.Owner(), form.get());
  ASSERT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(&form->Component(1), &second);
  EXPECT_EQ(form->FindComponent("FIRST"), &first);
  EXPECT_EQ(form->FindComponent("third"), nullptr);
  EXPECT_EQ(form->FindComponent(""), nullptr);
  EXPECT_THROW(form->Component(2), EBaseException);
  // The owner hears of each child while the child's own constructor has not yet run,
  // so the child has no name yet.
  EXPECT_THAT(journal, ElementsAre("form: insert ", "form: insert "));

  // A name taken away finds nothing; given again, it does.
  first.SetName("");
  EXPECT_EQ(first.Name(), "");
  EXPECT_EQ(form->FindComponent("first"), nullptr);
  first.SetName("again");
  EXPECT_EQ(form->FindComponent("AGAIN"), &first);
  // A component that owns none counts none, and its own children come when made.
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_THROW(first.Component(0), EBaseException);
  TWatcher& grandchild = MakeOwned<TWatcher>(first, "grandchild", &journal);
  EXPECT_EQ(&first.Component(0), &grandchild);
}

TEST(ComponentTest, OwnerFreesChildrenLastFirstAfterTellingPartners) {
  std::vector<std::string> journal;
  auto outsider = std::make_unique<TWatcher>(nullptr, "outsider", &journal);
  {
    auto form = std::make_unique<TWatcher>(nullptr, "form", &journal);
    MakeOwned<TWatcher>(*form, "a", &journal);
    TWatcher& b = MakeOwned<TWatcher>(*form, "b", &journal);
    outsider->FreeNotification(*form);
    outsider->FreeNotification(b);
    journal.clear();
  }
  EXPECT_THAT(journal, ElementsAre("outsider: remove form (destroying, a TWatcher)",
                                   "form: destroyed", "outsider: remove b (destroying, a TWatcher)",
                                   "b: destroyed", "a: destroyed"));
  EXPECT_EQ(outsider->ComponentCount(), 0);
}

TEST(ComponentTest, ChildFreedFirstLeavesItsOwner) {
  std::vector<std::string> journal;
  auto form = std::make_unique<TWatcher>(nullptr, "form", &journal);
  TWatcher& a = MakeOwned<TWatcher>(*form, "a", &journal);
  MakeOwned<TWatcher>(*form, "b", &journal);
  journal.clear();

  delete &a;

  EXPECT_THAT(journal, ElementsAre("form: remove a (destroying, a TWatcher)", "a: destroyed"));
  ASSERT_EQ(form->ComponentCount(), 1);
  EXPECT_EQ(form->Component(0).Name(), "b");
  form.reset();  // frees b once, and only b
  EXPECT_EQ(journal.back(), "b: destroyed");
}

TEST(ComponentTest, FreeNotificationWorksBothWaysAndCanBeWithdrawn) {
  struct Case {
    const char* name;
    bool free_requester_first;
    bool withdraw;
    const char* told;  // what the survivor hears, or "" for nothing
  };
  const Case cases[] = {
      {"freeing the other", false, false, "requester: remove other (destroying, a TWatcher)"},
      {"freeing the requester", true, false, "other: remove requester (destroying, a TWatcher)"},
      {"withdrawn", false, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> journal;
    auto requester = std::make_unique<TWatcher>(nullptr, "requester", &journal);
    auto other = std::make_unique<TWatcher>(nullptr, "other", &journal);
    requester->watched = other.get();
    requester->FreeNotification(*other);
    requester->FreeNotification(*other);  // registering twice changes nothing
    if (c.withdraw) {
      other->RemoveFreeNotification(*requester);
    }
    journal.clear();
    (c.free_requester_first ? requester : other).reset();
    std::vector<std::string> expected;
    if (*c.told != '\0') {
      expected.push_back(c.told);
    }
    expected.push_back(c.free_requester_first ? "requester: destroyed" : "other: destroyed");
    EXPECT_EQ(journal, expected);
    if (!c.free_requester_first && !c.withdraw) {
      EXPECT_EQ(requester->watched, nullptr);
    }
  }
}

// A component paired with many others (an engine with its rules) and one
// paired with few: registering the pair again, from either side, leaves one
// pairing, so freeing either partner is told once.
TEST(ComponentTest, RegisteringAnUnevenPairAgainFromEitherSideChangesNothing) {
  for (const bool from_hub : {true, false}) {
    SCOPED_TRACE(from_hub ? "again from the hub" : "again from the partner");
    std::vector<std::string> journal;
    auto hub = std::make_unique<TWatcher>(nullptr, "hub", &journal);
    std::vector<std::unique_ptr<TWatcher>> partners;
    for (int i = 0; i < 6; ++i) {
      partners.push_back(
          std::make_unique<TWatcher>(nullptr, "p" + std::to_string(i), &journal));
      hub->FreeNotification(*partners.back());
    }
    TWatcher& p2 = *partners[2];
    if (from_hub) {
      hub->FreeNotification(p2);
    } else {
      p2.FreeNotification(*hub);
    }
    journal.clear();
    partners[2].reset();
    EXPECT_THAT(journal, ElementsAre("hub: remove p2 (destroying, a TWatcher)", "p2: destroyed"));
    journal.clear();
    hub.reset();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "p3: remove hub (destroying, a TWatcher)"),
              1);
    EXPECT_EQ(journal.size(), 6u);  // the hub's end and five partners told once each
  }
}

TEST(ComponentTest, DestroyedWithoutDeleteItStillTellsPartnersButOnlyAsAComponent) {
  std::vector<std::string> journal;
  auto survivor = std::make_unique<TWatcher>(nullptr, "survivor", &journal);
  {
    TWatcher on_stack(nullptr, "stack", &journal);
    on_stack.FreeNotification(*survivor);
    journal.clear();
  }
  EXPECT_THAT(journal,
              ElementsAre("stack: destroyed", "survivor: remove stack (destroying, a TComponent)"));
}

TEST(ComponentTest, OwnershipMovesBetweenOwners) {
  std::vector<std::string> journal;
  auto first = std::make_unique<TWatcher>(nullptr, "first", &journal);
  auto second = std::make_unique<TWatcher>(nullptr, "second", &journal);
  second->SetDesigning(true);
  TWatcher& child = MakeOwned<TWatcher>(*first, "child", &journal);
  journal.clear();

  second->InsertComponent(first->RemoveComponent(child));

  EXPECT_THAT(journal, ElementsAre("first: remove child", "second: insert child"));
  EXPECT_EQ(child.Owner(), second.get());
  EXPECT_EQ(first->ComponentCount(), 0);
  EXPECT_TRUE(child.ComponentState().Contains(TComponentStateFlag::csDesigning));
  EXPECT_EQ(first->RemoveComponent(child), nullptr);
}

TEST(ComponentTest, LoadingAndDesigningStates) {
  auto form = std::make_unique<TWatcher>(nullptr);
  TWatcher& child = MakeOwned<TWatcher>(*form);
  form->SetDesigning(true);
  EXPECT_TRUE(child.ComponentState().Contains(TComponentStateFlag::csDesigning));
  TWatcher& late = MakeOwned<TWatcher>(*form);
  EXPECT_TRUE(late.ComponentState().Contains(TComponentStateFlag::csDesigning));
  form->SetDesigning(false);
  EXPECT_TRUE(child.ComponentState().Empty());

  form->BeginLoading();
  EXPECT_EQ(form->ComponentState(), TComponentState{TComponentStateFlag::csLoading});
  form->Loaded();
  EXPECT_TRUE(form->ComponentState().Empty());
}

TEST(ComponentTest, RegistryCreatesComponentsWithAnOwner) {
  auto form = std::make_unique<TWatcher>(nullptr);
  TComponent& made = TWatcher::StaticClass().CreateComponent(*form);
  EXPECT_EQ(made.Owner(), form.get());
  EXPECT_EQ(made.ClassName(), "TWatcher");
  EXPECT_THROW(TPersistent::StaticClass().CreateComponent(*form), EBaseException);

  std::unique_ptr<TObject> loose = TWatcher::StaticClass().CreateInstance();
  EXPECT_EQ(static_cast<TComponent*>(loose.get())->Owner(), nullptr);
}

}  // namespace
}  // namespace zephro

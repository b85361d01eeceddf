#include "zephro/platform/menu_model.h"

#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

TEST(MenuModelTest, ASubmenuShowsWhenAVisibleItemIsNoLine) {
  struct Entry {
    const char* caption;
    bool visible;
  };
  struct Case {
    const char* what;
    std::vector<Entry> items;
    bool visible;
  };
  const Case kCases[] = {
      {"no sub-items", {}, false},
      {"one visible item", {{"Open", true}}, true},
      {"one hidden item", {{"Open", false}}, false},
      {"a line only", {{"-", true}}, false},
      {"a line and a hidden item", {{"-", true}, {"Save", false}}, false},
      {"a line and a visible item", {{"-", true}, {"Save", true}}, true},
      {"hidden items around a line", {{"A", false}, {"-", true}, {"B", false}}, false},
      {"two dashes are a caption", {{"--", true}}, true},
      {"a hidden line", {{"-", false}}, false},
      {"an empty caption", {{"", true}}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    TMenuItem menu("Menu");
    for (const Entry& e : c.items) {
      menu.Add(e.caption).SetVisible(e.visible);
    }
    EXPECT_EQ(IsSubmenuVisible(menu), c.visible);
  }
}

TEST(MenuModelTest, OnlyTheDirectSubItemsCount) {
  TMenuItem menu("Tools");
  TMenuItem& hidden = menu.Add("More");
  hidden.SetVisible(false);
  hidden.Add("Deep");
  EXPECT_FALSE(IsSubmenuVisible(menu));
  EXPECT_TRUE(IsSubmenuVisible(hidden));  // its own sub-item shows
  EXPECT_EQ(hidden.Parent(), &menu);
  EXPECT_EQ(&menu.Items(0), &hidden);
  EXPECT_TRUE(menu.Add("-").IsLine());
  EXPECT_EQ(menu.Count(), 2);
  EXPECT_THROW(menu.Items(2), EBaseException);
  menu.Clear();
  EXPECT_EQ(menu.Count(), 0);
}

}  // namespace
}  // namespace zephro

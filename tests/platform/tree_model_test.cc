#include "zephro/platform/tree_model.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The tree as indented lines, two blanks a level, in the order a view shows it.
std::vector<std::string> Outline(const TTreeNodes& nodes) {
  std::vector<std::string> lines;
  // A stack of the nodes still to write, the next on top.
  std::vector<const TTreeNode*> pending;
  for (const TTreeNode& node : nodes) {
    pending.insert(pending.begin(), &node);
  }
  while (!pending.empty()) {
    const TTreeNode* node = pending.back();
    pending.pop_back();
    lines.push_back(std::string(2 * static_cast<std::size_t>(node->Level()), ' ') + node->Text());
    const auto at = pending.size();
    for (const TTreeNode& child : *node) {
      pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(at), &child);
    }
  }
  return lines;
}

TEST(TreeModelTest, NodesKnowTheirPlace) {
  TTreeView view;
  TTreeNodes& nodes = view.Items();
  const int tag = 7;
  TTreeNode& fruit = nodes.Add("fruit", &tag);
  TTreeNode& apple = nodes.AddChild(&fruit, "apple");
  TTreeNode& pear = nodes.AddChild(&fruit, "pear");
  TTreeNode& seed = nodes.AddChild(&pear, "seed");
  TTreeNode& stone = nodes.AddChild(nullptr, "stone");

  EXPECT_THAT(Outline(nodes), ElementsAre("fruit", "  apple", "  pear", "    seed", "stone"));
  EXPECT_EQ(nodes.Count(), 5);
  EXPECT_EQ(nodes.TopLevelCount(), 2);
  EXPECT_EQ(&nodes.TopLevelItem(1), &stone);
  EXPECT_EQ(nodes.GetFirstNode(), &fruit);
  EXPECT_EQ(fruit.Data(), &tag);
  EXPECT_EQ(apple.Data(), nullptr);

  struct Case {
    const TTreeNode* node;
    const TTreeNode* parent;
    int level;
    int index;
    int count;
  };
  const Case kCases[] = {
      {&fruit, nullptr, 0, 0, 2}, {&apple, &fruit, 1, 0, 0},  {&pear, &fruit, 1, 1, 1},
      {&seed, &pear, 2, 0, 0},    {&stone, nullptr, 0, 1, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.node->Text());
    EXPECT_EQ(c.node->Parent(), c.parent);
    EXPECT_EQ(c.node->Level(), c.level);
    EXPECT_EQ(c.node->Index(), c.index);
    EXPECT_EQ(c.node->Count(), c.count);
    EXPECT_EQ(c.node->HasChildren(), c.count > 0);
    EXPECT_EQ(&c.node->Owner(), &nodes);
    EXPECT_EQ(c.node->TreeView(), &view);
  }
  EXPECT_EQ(&fruit.Item(1), &pear);
  EXPECT_EQ(fruit.FindChild("pear"), &pear);
  EXPECT_EQ(fruit.FindChild("Pear"), nullptr);
  EXPECT_EQ(fruit.FindChild("seed"), nullptr);  // children only
}

TEST(TreeModelTest, DeletingTakesTheSubtreeAndTheSelection) {
  TTreeView view;
  TTreeNodes& nodes = view.Items();
  TTreeNode& a = nodes.Add("a");
  TTreeNode& b = nodes.AddChild(&a, "b");
  nodes.AddChild(&b, "c");
  TTreeNode& d = nodes.Add("d");
  int selections = 0;
  view.OnSelect = [&](TTreeView&) { ++selections; };

  view.SetSelected(&b);
  view.SetSelected(&b);  // no change, no event
  EXPECT_EQ(selections, 1);
  nodes.Delete(a);
  EXPECT_THAT(Outline(nodes), ElementsAre("d"));
  EXPECT_EQ(nodes.Count(), 1);
  EXPECT_EQ(view.Selected(), nullptr);
  EXPECT_EQ(selections, 2);

  // Deleting what is not selected keeps the selection.
  nodes.AddChild(&d, "e");
  view.SetSelected(&d);
  d.DeleteChildren();
  EXPECT_EQ(view.Selected(), &d);
  EXPECT_EQ(d.Count(), 0);
  EXPECT_EQ(nodes.Count(), 1);

  nodes.Clear();
  EXPECT_EQ(nodes.Count(), 0);
  EXPECT_EQ(nodes.GetFirstNode(), nullptr);
  EXPECT_EQ(view.Selected(), nullptr);
  EXPECT_EQ(selections, 4);
}

TEST(TreeModelTest, UpdatesRaiseOneChangeAtTheEnd) {
  TTreeNodes nodes;       // no view
  std::vector<int> seen;  // the node count at each OnChange
  nodes.OnChange = [&](TTreeNodes& sender) { seen.push_back(sender.Count()); };

  TTreeNode& a = nodes.Add("a");
  a.SetText("A");
  EXPECT_EQ(a.TreeView(), nullptr);
  EXPECT_THAT(seen, ElementsAre(1, 1));

  seen.clear();
  nodes.BeginUpdate();
  nodes.BeginUpdate();
  EXPECT_EQ(nodes.UpdateCount(), 2);
  nodes.AddChild(&a, "b");
  nodes.Add("c");
  nodes.EndUpdate();
  EXPECT_TRUE(seen.empty());  // still inside the outer pair
  nodes.EndUpdate();
  EXPECT_EQ(nodes.UpdateCount(), 0);
  EXPECT_THAT(seen, ElementsAre(3));

  // An update that changes nothing raises nothing; a stray EndUpdate is ignored.
  seen.clear();
  nodes.BeginUpdate();
  nodes.EndUpdate();
  nodes.EndUpdate();
  EXPECT_EQ(nodes.UpdateCount(), 0);
  EXPECT_TRUE(seen.empty());
  nodes.Delete(a);
  EXPECT_THAT(seen, ElementsAre(1));
}

TEST(TreeModelTest, ForeignNodesAndBadIndexesAreRefused) {
  TTreeView view;
  TTreeView other;
  TTreeNode& mine = view.Items().Add("mine");
  TTreeNode& theirs = other.Items().Add("theirs");
  const std::string foreign = "Tree node theirs belongs to another tree";
  EXPECT_THAT([&] { view.Items().AddChild(&theirs, "x"); },
              ThrowsMessage<EBaseException>(StrEq(foreign)));
  EXPECT_THAT([&] { view.Items().Delete(theirs); }, ThrowsMessage<EBaseException>(StrEq(foreign)));
  EXPECT_THAT([&] { view.SetSelected(&theirs); }, ThrowsMessage<EBaseException>(StrEq(foreign)));
  EXPECT_THAT([&] { mine.Item(0); },
              ThrowsMessage<EBaseException>(StrEq("List index 0 out of range (count 0)")));
  EXPECT_THAT([&] { view.Items().TopLevelItem(-1); },
              ThrowsMessage<EBaseException>(StrEq("List index -1 out of range (count 1)")));
  EXPECT_EQ(view.Items().Count(), 1);
  EXPECT_EQ(other.Items().Count(), 1);
}

TEST(TreeModelTest, DeepTreesAreFreedWithoutRecursion) {
  TTreeView view;
  TTreeNode* node = &view.Items().Add("root");
  constexpr int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i) {
    node = &view.Items().AddChild(node, "n");
  }
  view.SetSelected(node);
  EXPECT_EQ(view.Items().Count(), kDepth + 1);
  view.Items().GetFirstNode()->DeleteChildren();
  EXPECT_EQ(view.Items().Count(), 1);
  EXPECT_EQ(view.Selected(), nullptr);
}

}  // namespace
}  // namespace zephro

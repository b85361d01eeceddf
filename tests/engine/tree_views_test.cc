// The engine's templates and rules as the trees a host shows.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/tree_model.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

constexpr char kProgram[] = R"(
(deftemplate person "somebody"
  (slot name (type STRING) (default "Ann"))
  (slot age (type INTEGER FLOAT) (default 0))
  (multislot tags (type SYMBOL) (default a b)))
(defrule greet "says hello"
  (person (name ?n))
  =>
  (printout t "hi " ?n crlf))
(defrule quiet
  (person (age 0))
  =>
  (halt))
)";

// The texts of the nodes below `node`, at every depth, each after two blanks
// a level below it.
void Outline(const TTreeNode& node, int depth, std::vector<std::string>& lines) {
  for (const TTreeNode& child : node) {
    lines.push_back(std::string(2 * static_cast<std::size_t>(depth), ' ') + child.Text());
    Outline(child, depth + 1, lines);
  }
}

std::vector<std::string> Below(const TTreeNode& node) {
  std::vector<std::string> lines;
  Outline(node, 0, lines);
  return lines;
}

std::vector<std::string> TopTexts(const TTreeNodes& nodes) {
  std::vector<std::string> texts;
  for (const TTreeNode& node : nodes) {
    texts.push_back(node.Text());
  }
  return texts;
}

class TreeViewsTest : public ::testing::Test, public testing::EngineFixture {
 protected:
  TreeViewsTest() { Engine().Parse(kProgram); }
};

TEST_F(TreeViewsTest, TemplatesShowTheirSlotsKindsAndDefaults) {
  TTreeView view;
  int changes = 0;
  int updates_seen = -1;
  view.Items().OnChange = [&](TTreeNodes& nodes) {
    ++changes;
    updates_seen = nodes.UpdateCount();
  };
  // Something to empty first, selected.
  view.SetSelected(&view.Items().Add("stale"));
  changes = 0;

  Engine().FactTemplates().FillTreeView(view);
  // One change for the whole filling, raised once the update pair ended.
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(updates_seen, 0);
  EXPECT_EQ(view.Items().UpdateCount(), 0);
  // The engine's internal templates come first, then the program's.
  EXPECT_THAT(TopTexts(view.Items()), ElementsAre("Initial-Fact", "__NOT-OR-TEST-CE*", "person"));
  EXPECT_EQ(view.Selected(), view.Items().GetFirstNode());

  const TTreeNode& person = view.Items().TopLevelItem(2);
  EXPECT_EQ(person.Data(), Engine().FactTemplates().Get("person"));
  // Slots in slot order (by name); multislot kinds said once, in front.
  EXPECT_THAT(Below(person), ElementsAre("age",                       //
                                         "  Type: Integer, Float",    //
                                         "  Default: 0",              //
                                         "name",                      //
                                         "  Type: String",            //
                                         "  Default: \"Ann\"",        //
                                         "tags",                      //
                                         "  Type: (Multislot) Atom",  //
                                         "  Default: a b "));
  for (const TTreeNode& slot : person) {
    EXPECT_EQ(slot.Count(), 2);
    EXPECT_EQ(slot.Data(), nullptr);
  }
  for (const TTreeNode& internal : view.Items()) {
    EXPECT_EQ(internal.Data(), Engine().FactTemplates().Get(internal.Text()));
  }
}

TEST_F(TreeViewsTest, SlotNodesAreReusedAndAnEmptyEngineShowsItsInternals) {
  TTreeView view;
  const IFactTemplate& person = *Engine().FactTemplates().Get("person");
  TTreeNode& top = TFactTemplates::FillTreeViewNode(view, nullptr, person);
  TTreeNode& extra = view.Items().AddChild(&top.Item(1), "extra");
  view.SetSelected(&extra);

  // Filling a slot again replaces its lines in the same node.
  TTreeNode& name = TFactTemplates::FillNodeSlot(view, top, person, "name");
  EXPECT_EQ(&name, &top.Item(1));
  EXPECT_THAT(Below(name), ElementsAre("Type: String", "Default: \"Ann\""));
  EXPECT_EQ(view.Selected(), nullptr);
  EXPECT_EQ(view.Items().Count(), 1 + 3 * 3);

  // Under a parent: a nested node.
  TTreeNode& nested = TFactTemplates::FillTreeViewNode(view, &name, person);
  EXPECT_EQ(nested.Level(), 2);
  EXPECT_EQ(nested.Count(), 3);

  EXPECT_THAT([&] { TFactTemplates::FillNodeSlot(view, top, person, "height"); },
              ThrowsMessage<EIEException>(StrEq("No such slot name: \"height\"")));

  Engine().Clear();
  Engine().FactTemplates().FillTreeView(view);
  EXPECT_THAT(TopTexts(view.Items()), ElementsAre("Initial-Fact", "__NOT-OR-TEST-CE*"));
  EXPECT_EQ(view.Selected(), view.Items().GetFirstNode());

  // A free-standing, empty collection leaves an empty tree with nothing selected.
  TFactTemplates none(nullptr);
  none.FillTreeView(view);
  EXPECT_EQ(view.Items().Count(), 0);
  EXPECT_EQ(view.Selected(), nullptr);
}

TEST_F(TreeViewsTest, RulesShowTheirCommentAndPrintedLines) {
  TTreeView view;
  TTreeNodes& nodes = view.Items();
  nodes.Add("stale");
  int changes = 0;
  nodes.OnChange = [&](TTreeNodes&) { ++changes; };

  Engine().Rules().AssignTo(nodes);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(nodes.UpdateCount(), 0);
  EXPECT_THAT(TopTexts(nodes), ElementsAre("greet  \"says hello\"", "quiet"));
  // Every line of the printed rule after "(defrule name", without its indent.
  EXPECT_THAT(Below(nodes.TopLevelItem(0)), ElementsAre("\"says hello\"",      //
                                                        "(person (name ?n))",  //
                                                        "=>",                  //
                                                        "(printout t \"hi \" ?n crlf))"));
  EXPECT_THAT(Below(nodes.TopLevelItem(1)), ElementsAre("(person (age 0))", "=>", "(halt))"));
  EXPECT_EQ(nodes.TopLevelItem(0).Data(), Engine().Rules().Get("greet"));
  EXPECT_EQ(nodes.TopLevelItem(1).Data(), Engine().Rules().Get("quiet"));

  // A salience adds its declare line; no rules, no nodes.
  Engine().Parse("(defrule eager (declare (salience 10)) (person) => (halt))");
  Engine().Rules().AssignTo(nodes);
  EXPECT_THAT(Below(nodes.TopLevelItem(2)),
              ElementsAreArray({"(declare (salience 10))", "(person)", "=>", "(halt))"}));
  Engine().Rules().Clear();
  Engine().Rules().AssignTo(nodes);
  EXPECT_EQ(nodes.Count(), 0);
}

}  // namespace
}  // namespace zephro

#include "zephro/platform/graph.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;

class TWeightedEdge : public TGraphEdge {
 public:
  TWeightedEdge(TGraphNode& from, TGraphNode& to, int w) : TGraphEdge(from, to), weight(w) {}
  const int weight;
};

// A node that makes weighted edges and records what its hooks hear, as "+n"/"-n"
// with the predecessor count at the time.
class TTracingNode : public TGraphNode {
 public:
  explicit TTracingNode(std::vector<std::string>* trace = nullptr, int* freed = nullptr)
      : trace_(trace), freed_(freed) {}
  ~TTracingNode() override {
    if (freed_ != nullptr) {
      ++*freed_;
    }
  }

 protected:
  std::unique_ptr<TGraphEdge> NewEdge(TGraphNode& to) override {
    return std::make_unique<TWeightedEdge>(*this, to, GetOutDegree() + 1);
  }
  void AddingEdgeFrom(TGraphEdge& /*edge*/) override { Trace('+'); }
  void RemovingEdgeFrom(TGraphEdge& /*edge*/) override { Trace('-'); }

 private:
  void Trace(char sign) {
    if (trace_ != nullptr) {
      trace_->push_back(sign + std::to_string(PredecessorCount()));
    }
  }

  std::vector<std::string>* trace_;
  int* freed_;
};

// A graph of `count` plain nodes.
std::vector<TGraphNode*> AddNodes(TGraph& graph, int count) {
  std::vector<TGraphNode*> nodes;
  for (int i = 0; i < count; ++i) {
    nodes.push_back(&graph.NewNode<TGraphNode>());
  }
  return nodes;
}

TEST(GraphTest, CyclesAreFoundWithAndWithoutDirection) {
  struct Case {
    const char* name;
    int nodes;
    std::vector<std::pair<int, int>> edges;
    bool directed;
    bool acyclic;
  };
  const Case cases[] = {
      {"empty", 0, {}, true, true},
      {"chain", 3, {{0, 1}, {1, 2}}, true, true},
      {"diamond", 4, {{0, 1}, {0, 2}, {1, 3}, {2, 3}}, true, true},
      {"diamond without direction", 4, {{0, 1}, {0, 2}, {1, 3}, {2, 3}}, false, false},
      {"tree without direction", 4, {{0, 1}, {0, 2}, {2, 3}}, false, true},
      {"self-loop", 2, {{0, 1}, {1, 1}}, true, false},
      {"self-loop without direction", 1, {{0, 0}}, false, false},
      {"two nodes pointing at each other", 2, {{0, 1}, {1, 0}}, true, false},
      {"parallel edges", 2, {{0, 1}, {0, 1}}, true, true},
      {"parallel edges without direction", 2, {{0, 1}, {0, 1}}, false, false},
      {"cycle below a root", 5, {{0, 1}, {1, 2}, {2, 3}, {3, 1}, {0, 4}}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGraph graph;
    graph.SetDirected(c.directed);
    const std::vector<TGraphNode*> nodes = AddNodes(graph, c.nodes);
    for (const auto& [from, to] : c.edges) {
      nodes[static_cast<std::size_t>(from)]->AddEdge(*nodes[static_cast<std::size_t>(to)]);
    }
    EXPECT_EQ(graph.IsAcyclic(), c.acyclic);
    if (!c.directed) {
      continue;
    }
    const auto order = graph.TopologicalOrder();
    ASSERT_EQ(order.has_value(), c.acyclic);
    if (order) {
      for (const auto& [from, to] : c.edges) {
        const auto position = [&](int i) {
          return std::find(order->begin(), order->end(), nodes[static_cast<std::size_t>(i)]) -
                 order->begin();
        };
        EXPECT_LT(position(from), position(to)) << from << "->" << to;
      }
    }
  }
}

TEST(GraphTest, TopologicalOrderTakesTheEarliestReadyNode) {
  TGraph graph;
  const std::vector<TGraphNode*> n = AddNodes(graph, 5);
  n[3]->AddEdge(*n[0]);
  n[4]->AddEdge(*n[1]);
  n[0]->AddEdge(*n[1]);
  const auto order = graph.TopologicalOrder();
  ASSERT_TRUE(order.has_value());
  EXPECT_THAT(*order, ElementsAre(n[2], n[3], n[0], n[4], n[1]));
}

TEST(GraphTest, EdgesComeFromTheNodeFactoryAndTellTheirTargets) {
  std::vector<std::string> trace;
  TGraph graph;
  auto& from = graph.NewNode<TTracingNode>();
  auto& to = graph.NewNode<TTracingNode>(&trace);
  TGraphEdge& first = from.AddEdge(to);
  from.AddEdge(to);
  ASSERT_NE(dynamic_cast<TWeightedEdge*>(&first), nullptr);
  EXPECT_EQ(dynamic_cast<TWeightedEdge&>(from.GetEdge(1)).weight, 2);
  EXPECT_EQ(&first.FromNode(), &from);
  EXPECT_EQ(&first.ToNode(), &to);
  EXPECT_EQ(from.GetOutDegree(), 2);
  EXPECT_EQ(to.PredecessorCount(), 2);
  EXPECT_THROW(from.GetEdge(2), EBaseException);

  from.RemoveEdge(first);
  EXPECT_EQ(from.GetOutDegree(), 1);
  EXPECT_EQ(dynamic_cast<TWeightedEdge&>(from.GetEdge(0)).weight, 2);
  EXPECT_THAT(trace, ElementsAre("+1", "+2", "-2"));
}

TEST(GraphTest, RemovingANodeDropsItsEdgesAndTellsOnlyTheOthers) {
  std::vector<std::string> a_trace;
  std::vector<std::string> b_trace;
  std::vector<std::string> c_trace;
  int freed = 0;
  TGraph graph;
  auto& a = graph.NewNode<TTracingNode>(&a_trace, &freed);
  auto& b = graph.NewNode<TTracingNode>(&b_trace, &freed);
  auto& c = graph.NewNode<TTracingNode>(&c_trace, &freed);
  a.AddEdge(b);
  a.AddEdge(c);
  b.AddEdge(c);
  b.AddEdge(b);
  c.AddEdge(a);
  a_trace.clear();
  b_trace.clear();
  c_trace.clear();

  graph.RemoveNode(b);

  EXPECT_EQ(freed, 1);
  EXPECT_EQ(graph.NodeCount(), 2);
  EXPECT_EQ(graph.IndexOf(c), 1);
  EXPECT_EQ(a.GetOutDegree(), 1);
  EXPECT_EQ(&a.GetEdge(0).ToNode(), &c);
  EXPECT_EQ(c.PredecessorCount(), 1);
  EXPECT_THAT(c_trace, ElementsAre("-2"));  // b->c goes; c hears while it still counts
  EXPECT_TRUE(a_trace.empty());             // a loses a successor, not a predecessor
  EXPECT_TRUE(b_trace.empty());

  std::unique_ptr<TGraphNode> extracted = graph.Extract(c);
  EXPECT_EQ(extracted->Graph(), nullptr);
  EXPECT_EQ(extracted->GetOutDegree(), 0);
  EXPECT_EQ(extracted->PredecessorCount(), 0);
  EXPECT_EQ(a.GetOutDegree(), 0);
  EXPECT_EQ(a.PredecessorCount(), 0);
  EXPECT_THAT(a_trace, ElementsAre("-1"));  // c->a went with c
  EXPECT_EQ(freed, 1);

  graph.Clear();
  EXPECT_EQ(freed, 2);
  EXPECT_EQ(graph.NodeCount(), 0);
  EXPECT_THROW(graph.GetNode(0), EBaseException);
}

TEST(GraphTest, ANodeFreedOnItsOwnLeavesNoEdgesBehind) {
  TGraph graph;
  auto& kept = graph.NewNode<TGraphNode>();
  auto& extracted = graph.NewNode<TGraphNode>();
  std::unique_ptr<TGraphNode> loose = graph.Extract(extracted);
  loose->AddEdge(kept);
  kept.AddEdge(*loose);
  loose.reset();
  EXPECT_EQ(kept.GetOutDegree(), 0);
  EXPECT_EQ(kept.PredecessorCount(), 0);
}

}  // namespace
}  // namespace zephro

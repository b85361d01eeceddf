// Cycle tests and ordering. A directed graph is acyclic exactly when Kahn's algorithm
// places every node: repeatedly take a node none of whose predecessors is still
// unplaced. The order it produces is the topological order; taking, at each step, the
// earliest ready node in graph order makes the result deterministic. An undirected
// graph is acyclic when it is a forest: joining the ends of each edge with union-find
// never meets two ends that are already joined.

#include "zephro/platform/graph.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <numeric>
#include <queue>
#include <unordered_map>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TGraphEdge);
ZEPHRO_DEFINE_CLASS(TGraphNode);
ZEPHRO_DEFINE_CLASS(TGraph);

// TGraphNode

TGraphNode::~TGraphNode() {
  for (const auto& edge : out_) {
    std::erase(edge->ToNode().in_, edge.get());
  }
  out_.clear();
  // Incoming edges belong to their sources; each erase frees one.
  for (TGraphEdge* edge : std::exchange(in_, {})) {
    std::erase_if(edge->FromNode().out_, [&](const auto& e) { return e.get() == edge; });
  }
}

std::unique_ptr<TGraphEdge> TGraphNode::NewEdge(TGraphNode& to) {
  return std::make_unique<TGraphEdge>(*this, to);
}

void TGraphNode::AddingEdgeFrom(TGraphEdge& /*edge*/) {}

void TGraphNode::RemovingEdgeFrom(TGraphEdge& /*edge*/) {}

TGraphEdge& TGraphNode::AddEdge(TGraphNode& to) {
  std::unique_ptr<TGraphEdge> made = NewEdge(to);
  assert(&made->FromNode() == this && &made->ToNode() == &to);
  TGraphEdge& edge = *made;
  out_.push_back(std::move(made));
  to.in_.push_back(&edge);
  to.AddingEdgeFrom(edge);
  return edge;
}

void TGraphNode::RemoveEdge(TGraphEdge& edge) {
  assert(&edge.FromNode() == this);
  edge.ToNode().RemovingEdgeFrom(edge);
  Unlink(edge);
}

void TGraphNode::Unlink(TGraphEdge& edge) {
  std::erase(edge.ToNode().in_, &edge);
  std::erase_if(out_, [&](const auto& e) { return e.get() == &edge; });
}

void TGraphNode::DetachEdges() {
  while (!out_.empty()) {
    TGraphEdge& edge = *out_.back();
    if (&edge.ToNode() != this) {
      edge.ToNode().RemovingEdgeFrom(edge);
    }
    Unlink(edge);
  }
  while (!in_.empty()) {
    TGraphEdge& edge = *in_.back();
    edge.FromNode().Unlink(edge);
  }
}

TGraphEdge& TGraphNode::GetEdge(int index) const {
  return *out_[CheckedIndex(index, GetOutDegree())];
}

// TGraph

TGraph::~TGraph() {
  nodes_.clear();
}

TGraphNode& TGraph::AddNode(std::unique_ptr<TGraphNode> node) {
  assert(node != nullptr && node->graph_ == nullptr);
  node->graph_ = this;
  nodes_.push_back(std::move(node));
  return *nodes_.back();
}

std::unique_ptr<TGraphNode> TGraph::Extract(TGraphNode& node) {
  const int index = IndexOf(node);
  assert(index >= 0);
  node.DetachEdges();
  std::unique_ptr<TGraphNode> result = std::move(nodes_[static_cast<std::size_t>(index)]);
  nodes_.erase(nodes_.begin() + index);
  result->graph_ = nullptr;
  return result;
}

void TGraph::RemoveNode(TGraphNode& node) {
  // Not through Extract: a subclass overrides both, and each must run once.
  const int index = IndexOf(node);
  assert(index >= 0);
  node.DetachEdges();
  nodes_.erase(nodes_.begin() + index);
}

void TGraph::Clear() {
  nodes_.clear();
}

TGraphNode& TGraph::GetNode(int index) const {
  return *nodes_[CheckedIndex(index, NodeCount())];
}

int TGraph::IndexOf(const TGraphNode& node) const {
  const auto it =
      std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == &node; });
  return it == nodes_.end() ? -1 : static_cast<int>(it - nodes_.begin());
}

std::optional<std::vector<TGraphNode*>> TGraph::TopologicalOrder() const {
  std::unordered_map<const TGraphNode*, int> index;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    index.emplace(nodes_[i].get(), static_cast<int>(i));
  }
  // Unplaced predecessors of each node, counting only edges inside this graph.
  std::vector<int> waiting(nodes_.size(), 0);
  for (const auto& node : nodes_) {
    for (const auto& edge : node->out_) {
      const auto to = index.find(&edge->ToNode());
      if (to != index.end()) {
        ++waiting[static_cast<std::size_t>(to->second)];
      }
    }
  }
  std::priority_queue<int, std::vector<int>, std::greater<>> ready;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (waiting[i] == 0) {
      ready.push(static_cast<int>(i));
    }
  }
  std::vector<TGraphNode*> order;
  order.reserve(nodes_.size());
  while (!ready.empty()) {
    TGraphNode* node = nodes_[static_cast<std::size_t>(ready.top())].get();
    ready.pop();
    order.push_back(node);
    for (const auto& edge : node->out_) {
      const auto to = index.find(&edge->ToNode());
      if (to != index.end() && --waiting[static_cast<std::size_t>(to->second)] == 0) {
        ready.push(to->second);
      }
    }
  }
  if (order.size() != nodes_.size()) {
    return std::nullopt;
  }
  return order;
}

bool TGraph::IsForest() const {
  std::unordered_map<const TGraphNode*, std::size_t> index;
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    index.emplace(nodes_[i].get(), i);
  }
  std::vector<std::size_t> parent(nodes_.size());
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  const auto root = [&](std::size_t i) {
    while (parent[i] != i) {
      parent[i] = parent[parent[i]];  // path halving
      i = parent[i];
    }
    return i;
  };
  for (const auto& node : nodes_) {
    for (const auto& edge : node->out_) {
      const auto to = index.find(&edge->ToNode());
      if (to == index.end()) {
        continue;
      }
      const std::size_t a = root(index.at(node.get()));
      const std::size_t b = root(to->second);
      if (a == b) {
        return false;
      }
      parent[a] = b;
    }
  }
  return true;
}

bool TGraph::IsAcyclic() const {
  return directed_ ? TopologicalOrder().has_value() : IsForest();
}

}  // namespace zephro

#pragma once

// A graph of nodes joined by edges: TGraph owns TGraphNode objects, each node owns the
// TGraphEdge objects that leave it and knows the ones that arrive. The Rete network is
// a TGraph of its node classes; the printer orders templates and types by a scratch
// graph of their parent links (TopologicalOrder).
//
// Subclasses hook in at three places: a node's NewEdge makes the edge object for each
// AddEdge (so a network can use its own edge class), and the target node of an edge
// hears of the edge being added and removed (AddingEdgeFrom, RemovingEdgeFrom). The
// edge is counted by PredecessorCount() during both hooks. Hooks are not called on a
// node that is itself being removed, extracted or destroyed, nor by Clear; hooks do
// not add or remove edges.
//
// Parallel edges and self-loops are allowed. An undirected graph (SetDirected(false))
// stores its edges the same way; only IsAcyclic reads them without their direction.
//
// Ownership: the graph owns its nodes, a node owns its outgoing edges. References to
// nodes and edges stay valid until they are removed or the graph is cleared.
// Thread safety: none.

#include <memory>
#include <optional>
#include <vector>

#include "zephro/platform/component.h"
#include "zephro/platform/object.h"

namespace zephro {

class TGraph;
class TGraphNode;

class TGraphEdge : public TObject {
  ZEPHRO_DECLARE_CLASS(TGraphEdge, TObject)

  TGraphEdge(TGraphNode& from, TGraphNode& to) : from_(from), to_(to) {}

  TGraphNode& FromNode() const { return from_; }
  TGraphNode& ToNode() const { return to_; }

 private:
  TGraphNode& from_;  // not owned; owns this edge
  TGraphNode& to_;    // not owned
};

class TGraphNode : public TObject {
  ZEPHRO_DECLARE_CLASS(TGraphNode, TObject)

  TGraphNode() = default;
  // Drops every edge that leaves or reaches the node, without hooks.
  ~TGraphNode() override;

  // The graph that owns the node, or nullptr.
  TGraph* Graph() const { return graph_; }

  // Adds an edge from this node to `to` (made by NewEdge), tells `to`
  // AddingEdgeFrom, and returns the edge.
  TGraphEdge& AddEdge(TGraphNode& to);
  // Tells the target RemovingEdgeFrom, then removes and frees `edge`.
  // REQUIRES: `edge` leaves this node.
  void RemoveEdge(TGraphEdge& edge);

  // The outgoing edges in the order they were added. GetEdge raises EBaseException for
  // an index outside 0 .. GetOutDegree() - 1.
  TGraphEdge& GetEdge(int index) const;
  int GetOutDegree() const { return static_cast<int>(out_.size()); }
  // The number of edges arriving at this node.
  int PredecessorCount() const { return static_cast<int>(in_.size()); }

 protected:
  // Makes the edge for AddEdge. An override returns its own edge class, from this node
  // to `to`.
  virtual std::unique_ptr<TGraphEdge> NewEdge(TGraphNode& to);
  // Called on the target after `edge` has been added.
  virtual void AddingEdgeFrom(TGraphEdge& edge);
  // Called on the target before `edge` is removed.
  virtual void RemovingEdgeFrom(TGraphEdge& edge);

 private:
  friend class TGraph;

  // Removes every edge of the node; the targets of outgoing edges hear of it.
  void DetachEdges();
  // Unlinks `edge` (leaving this node) from its target and frees it.
  void Unlink(TGraphEdge& edge);

  TGraph* graph_ = nullptr;                       // not owned
  std::vector<std::unique_ptr<TGraphEdge>> out_;  // owned
  std::vector<TGraphEdge*> in_;                   // owned by their source nodes
};

class TGraph : public TComponent {
  ZEPHRO_DECLARE_CLASS(TGraph, TComponent)

  explicit TGraph(TComponent* owner = nullptr) : TComponent(owner) {}
  // Frees the nodes without hooks. A subclass whose nodes refer back to it clears the
  // graph in its own destructor.
  ~TGraph() override;

  // Makes a node of class N (constructed from `args`), adds it through AddNode and
  // returns it.
  template <std::derived_from<TGraphNode> N, class... Args>
  N& NewNode(Args&&... args) {
    auto node = std::make_unique<N>(std::forward<Args>(args)...);
    N& result = *node;
    AddNode(std::move(node));
    return result;
  }
  // Takes ownership of `node`, which belongs to no graph, and appends it.
  virtual TGraphNode& AddNode(std::unique_ptr<TGraphNode> node);
  // Removes and frees `node` with every edge that leaves or reaches it.
  // REQUIRES: `node` belongs to this graph.
  virtual void RemoveNode(TGraphNode& node);
  // Removes `node` and its edges as RemoveNode does, but hands the node to the caller.
  virtual std::unique_ptr<TGraphNode> Extract(TGraphNode& node);
  // Frees every node and edge.
  virtual void Clear();

  bool Directed() const { return directed_; }
  void SetDirected(bool directed) { directed_ = directed; }

  int NodeCount() const { return static_cast<int>(nodes_.size()); }
  // The node at `index`, in the order the nodes were added. Raises EBaseException for an
  // index outside 0 .. NodeCount() - 1.
  TGraphNode& GetNode(int index) const;
  // The index of `node`, or -1.
  int IndexOf(const TGraphNode& node) const;

  // True when the graph has no cycle: no directed cycle, or for an undirected graph no
  // cycle when direction is ignored. A self-loop is a cycle.
  bool IsAcyclic() const;
  // The nodes in an order where every edge runs from an earlier node to a later one
  // (direction is used even in an undirected graph); nodes without ordering constraints
  // keep their graph order as far as possible. Edges to or from nodes of other graphs
  // are ignored. nullopt when the edges form a cycle.
  std::optional<std::vector<TGraphNode*>> TopologicalOrder() const;

 private:
  bool IsForest() const;

  std::vector<std::unique_ptr<TGraphNode>> nodes_;  // owned
  bool directed_ = true;
};

}  // namespace zephro

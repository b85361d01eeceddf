// The blocks of the matching network's nodes. A large program has tens of
// thousands of nodes of four sizes: each size comes from a recycler of its
// own, without the allocator's header and rounding (a join node, for
// example, takes 256 bytes instead of a 272-byte allocator block).

#include "platform/block_recycler.h"
#include "rules/rete_nodes.h"

namespace zephro {
namespace {

// Calls `f` with the recycler of blocks of `size` bytes, or with none (null)
// for a size no node class has.
template <class F>
decltype(auto) WithRecycler(std::size_t size, F&& f) {
  if (size == sizeof(TJoinNode)) {
    return f(TBlockRecycler<TJoinNode, sizeof(TJoinNode)>{});
  }
  if (size == sizeof(TPatternMatchNode)) {
    return f(TBlockRecycler<TPatternMatchNode, sizeof(TPatternMatchNode)>{});
  }
  if (size == sizeof(TPatternMatchTerminalNode)) {
    return f(TBlockRecycler<TPatternMatchTerminalNode, sizeof(TPatternMatchTerminalNode)>{});
  }
  return f(TBlockRecycler<TTestNode, sizeof(TTestNode)>{});
}

}  // namespace

// A size that matches none of the recyclers goes to the plain operator new
// through the last one (TBlockRecycler passes sizes other than its own on).
void* TReteNode::operator new(std::size_t size) {
  return WithRecycler(size, [size](auto recycler) { return decltype(recycler)::Allocate(size); });
}

void TReteNode::operator delete(void* block, std::size_t size) noexcept {
  WithRecycler(size, [block, size](auto recycler) { decltype(recycler)::Free(block, size); });
}

}  // namespace zephro

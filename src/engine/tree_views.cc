// The engine's constructs as trees a host shows: templates with their slots,
// rules with their printed lines.

#include <string>
#include <string_view>

#include "zephro/engine/collections.h"
#include "zephro/platform/tree_model.h"
#include "zephro/rules/rule.h"
#include "zephro/values/type_set_text.h"

#include "platform/ascii.h"

namespace zephro {
namespace {

// Runs `fill` between BeginUpdate and EndUpdate of `nodes`; the update ends
// also when `fill` raises.
template <class F>
void InUpdate(TTreeNodes& nodes, F&& fill) {
  nodes.BeginUpdate();
  try {
    fill();
  } catch (...) {
    nodes.EndUpdate();
    throw;
  }
  nodes.EndUpdate();
}

std::string TypeLine(const IFactSlot& slot) {
  if (slot.IsMultiSlot()) {
    return "Type: (Multislot) " + SetToString(slot.SlotType() - IEMultiSlotTypes, ", ", false);
  }
  return "Type: " + SetToString(slot.SlotType(), ", ", false);
}

std::string DefaultLine(const IFactSlot& slot) {
  const IIEValue* value = slot.SlotDefault();
  return "Default: " + (value != nullptr ? value->ToString() : std::string());
}

}  // namespace

void TFactTemplates::FillTreeView(TTreeView& view) const {
  InUpdate(view.Items(), [&] {
    view.Items().Clear();
    for (const auto& [name, fact_template] : *this) {
      FillTreeViewNode(view, nullptr, *fact_template);
    }
  });
  if (TTreeNode* first = view.Items().GetFirstNode()) {
    view.SetSelected(first);
  }
}

TTreeNode& TFactTemplates::FillTreeViewNode(TTreeView& view, TTreeNode* parent,
                                            const IFactTemplate& fact_template) {
  TTreeNode& node = view.Items().AddChild(parent, fact_template.TemplateName(), &fact_template);
  for (const std::string& slot_name : fact_template.SlotNames()) {
    FillNodeSlot(view, node, fact_template, slot_name);
  }
  return node;
}

TTreeNode& TFactTemplates::FillNodeSlot(TTreeView& view, TTreeNode& node,
                                        const IFactTemplate& fact_template,
                                        std::string_view slot_name) {
  const IFactSlot& slot = *fact_template.GetSlot(slot_name);
  TTreeNode* slot_node = node.FindChild(slot_name);
  if (slot_node != nullptr) {
    slot_node->DeleteChildren();
  } else {
    slot_node = &view.Items().AddChild(&node, std::string(slot_name));
  }
  view.Items().AddChild(slot_node, TypeLine(slot));
  view.Items().AddChild(slot_node, DefaultLine(slot));
  return *slot_node;
}

void TRules::AssignTo(TTreeNodes& nodes) const {
  InUpdate(nodes, [&] {
    nodes.Clear();
    for (const auto& [name, rule] : *this) {
      std::string text = rule->RuleName();
      if (!rule->Comment().empty()) {
        text += "  \"" + rule->Comment() + '"';
      }
      TTreeNode& node = nodes.Add(std::move(text), rule);
      // The printed text's lines, the first (the rule's header) left out; a
      // final line break ends the last line rather than starting another.
      const std::string printed = rule->ToString();
      std::string_view rest = printed;
      bool first = true;
      while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!first) {
          nodes.AddChild(&node, std::string(TrimBlanks(line)));
        }
        first = false;
      }
    }
  });
}

}  // namespace zephro

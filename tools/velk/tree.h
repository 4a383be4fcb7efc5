// Walking a parsed tree, for the checks and the output of the velk tool.
#ifndef VELK_TOOL_TREE_H
#define VELK_TOOL_TREE_H

#include "Velk/base/velk.h"

namespace velktool {

// Whether an element holds text: a CDATA section or a text that is not white
// space alone. Such content is written as it stands, never indented.
inline bool HoldsText(const TAVARO::VelkNode& element) {
    for (const TAVARO::VelkNode* child = element.FirstChild(); child;
         child = child->NextSibling()) {
        const TAVARO::VelkText* text = child->ToText();
        if (text && (text->CDATA() || !text->Blank())) return true;
    }
    return false;
}

// Visits the nodes under root in document order: enter(node) before the
// node's children, which are visited only when it returns true, and
// leave(node) after them. Iterative, so that a deep document costs no stack.
template <class Enter, class Leave>
void Walk(const TAVARO::VelkNode& root, Enter enter, Leave leave) {
    const TAVARO::VelkNode* node = root.FirstChild();
    while (node) {
        if (enter(*node) && node->FirstChild()) {
            node = node->FirstChild();
            continue;
        }
        leave(*node);
        while (!node->NextSibling()) {
            node = node->Parent();
            if (node == &root) return;
            leave(*node);
        }
        node = node->NextSibling();
    }
}

}  // namespace velktool

#endif  // VELK_TOOL_TREE_H

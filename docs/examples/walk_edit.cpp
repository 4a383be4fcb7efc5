// Walking a tree node by node, then editing it.
#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

const char* KindName(int type) {
    switch (type) {
        case VelkNode::DOCUMENT:
            return "document";
        case VelkNode::ELEMENT:
            return "element";
        case VelkNode::COMMENT:
            return "comment";
        case VelkNode::UNKNOWN:
            return "unknown";
        case VelkNode::TEXT:
            return "text";
        case VelkNode::DECLARATION:
            return "declaration";
    }
    return "?";
}

// Prints every node below node, indented by its depth, with its kind and value.
void Walk(const VelkNode* node, int depth) {
    for (VelkNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        std::printf("%*s%s [%s]\n", depth * 2, "", KindName(child->Type()), child->Value());
        Walk(child, depth + 1);
    }
}

int main() {
    VelkDocument doc;
    doc.Parse("<!DOCTYPE list><list><item>one</item><!-- note --><item>two</item></list>", nullptr);
    Walk(&doc, 0);

    VelkElement* list = doc.FirstChildElement("list");

    // LinkEndChild adopts the node it is given.
    VelkElement* three = new VelkElement("item");
    three->LinkEndChild(new VelkText("three"));
    list->LinkEndChild(three);

    // The insert operations link a copy; the argument stays the caller's.
    VelkElement zero("item");
    zero.LinkEndChild(new VelkText("zero"));
    list->InsertBeforeChild(list->FirstChild(), zero);

    // RemoveChild unlinks and deletes.
    for (VelkNode* child = list->FirstChild(); child; child = child->NextSibling()) {
        if (child->Type() == VelkNode::COMMENT) {
            list->RemoveChild(child);
            break;
        }
    }

    // Elements are renamed through their value.
    VelkElement* one = list->FirstChildElement("item")->NextSiblingElement("item");
    one->SetValue("entry");
    one->SetAttribute("n", 1);

    // ReplaceChild puts a copy in the old child's place and deletes the old child.
    VelkElement gone("gone");
    list->ReplaceChild(one->NextSiblingElement(), gone);

    doc.Print(stdout, 0);
    return 0;
}

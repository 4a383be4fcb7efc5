// Editing: the input is a small document followed by a program of tree
// operations (link, insert before/after, replace, remove, clear, clone, set
// and remove attributes, set values). Each operation is applied to the tree
// and to a plain model of it; after every step the tree's links must hold and
// the tree must equal the model.
#include "fuzz_util.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

using namespace TAVARO;

namespace {

constexpr size_t kMaxNodes = 400;

struct Model {
    int type = VelkNode::DOCUMENT;
    std::string value;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Model> children;
};

Model ModelOf(const VelkNode& node) {
    Model m;
    m.type = node.Type();
    m.value = node.SValue();
    if (const VelkElement* e = const_cast<VelkNode&>(node).ToElement())
        for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
            m.attributes.emplace_back(a->Name(), a->Value());
    for (const VelkNode* c = node.FirstChild(); c; c = c->NextSibling())
        m.children.push_back(ModelOf(*c));
    return m;
}

// What Clone copies: leaf kinds copy their own data but not any children a
// caller may have linked below them.
Model CloneOf(const Model& m) {
    Model copy;
    copy.type = m.type;
    copy.value = m.value;
    copy.attributes = m.attributes;
    if (m.type == VelkNode::DOCUMENT || m.type == VelkNode::ELEMENT)
        for (const Model& c : m.children) copy.children.push_back(CloneOf(c));
    return copy;
}

size_t Size(const Model& m) {
    size_t n = 1;
    for (const Model& c : m.children) n += Size(c);
    return n;
}

std::string Compare(const Model& m, const VelkNode& node) {
    if (m.type != node.Type()) return "kind differs at " + velkcheck::Describe(&node);
    if (m.type != VelkNode::DOCUMENT && m.value != node.SValue())
        return "value differs at " + velkcheck::Describe(&node);
    if (const VelkElement* e = const_cast<VelkNode&>(node).ToElement()) {
        const VelkAttribute* a = e->FirstAttribute();
        for (const auto& pair : m.attributes) {
            if (!a || pair.first != a->Name() || pair.second != a->Value())
                return "attributes differ at " + velkcheck::Describe(&node);
            a = a->Next();
        }
        if (a) return "extra attribute at " + velkcheck::Describe(&node);
    }
    const VelkNode* c = node.FirstChild();
    for (const Model& mc : m.children) {
        if (!c) return "missing child under " + velkcheck::Describe(&node);
        std::string fault = Compare(mc, *c);
        if (!fault.empty()) return fault;
        c = c->NextSibling();
    }
    return c ? "extra child under " + velkcheck::Describe(&node) : "";
}

// The nodes of the tree and of the model in the same pre-order, with the
// model's parent of each.
struct Place {
    VelkNode* node;
    Model* model;
    Model* parent;
    size_t index;
};

void Collect(VelkNode* node, Model* model, Model* parent, size_t index, std::vector<Place>* out) {
    out->push_back({node, model, parent, index});
    size_t i = 0;
    for (VelkNode* c = node->FirstChild(); c; c = c->NextSibling(), ++i)
        Collect(c, &model->children[i], model, i, out);
}

VelkNode* NewNode(int kind, const std::string& value) {
    switch (kind) {
        case 0:
            return new VelkElement(value.c_str());
        case 1:
            return new VelkText(value.c_str());
        case 2: {
            VelkComment* c = new VelkComment;
            c->SetValue(value.c_str());
            return c;
        }
        default: {
            VelkUnknown* u = new VelkUnknown;
            u->SetValue(value.c_str());
            return u;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRandomLengthString(600);
    std::unique_ptr<VelkDocument> doc(new VelkDocument);
    doc->SetUtf8(input.ConsumeBool());
    doc->Parse(text.c_str(), nullptr);
    Model model = ModelOf(*doc);
    if (Size(model) > kMaxNodes) return 0;
    static const bool trace = std::getenv("VELK_FUZZ_TRACE") != nullptr;

    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        std::vector<Place> places;
        Collect(doc.get(), &model, nullptr, 0, &places);
        const int op = input.ConsumeIntegralInRange(0, 10);
        Place& target = places[input.ConsumeIntegralInRange<size_t>(0, places.size() - 1)];
        Place& other = places[input.ConsumeIntegralInRange<size_t>(0, places.size() - 1)];
        const std::string word = input.ConsumeRandomLengthString(12);
        const bool otherIsChild = other.parent == target.model;
        const bool fits = places.size() + Size(*other.model) <= kMaxNodes;
        VelkNode* node = target.node;
        if (trace)
            std::fprintf(stderr, "step %d: op %d on %s with %s\n", step, op,
                         velkcheck::Describe(node).c_str(),
                         velkcheck::Describe(other.node).c_str());
        switch (op) {
            case 0: {
                int kind = input.ConsumeIntegralInRange(0, 3);
                Model added;
                added.type = kind == 0   ? VelkNode::ELEMENT
                             : kind == 1 ? VelkNode::TEXT
                             : kind == 2 ? VelkNode::COMMENT
                                         : VelkNode::UNKNOWN;
                added.value = word.c_str();
                node->LinkEndChild(NewNode(kind, word));
                target.model->children.push_back(added);
                break;
            }
            case 1:
                if (!fits) break;
                {
                    Model copy = CloneOf(*other.model);
                    velkfuzz::Require(node->InsertEndChild(*other.node) != nullptr,
                                      "InsertEndChild");
                    target.model->children.push_back(copy);
                }
                break;
            case 2:
            case 3:
                if (!fits) break;
                {
                    Place& ref = places[input.ConsumeIntegralInRange<size_t>(0, places.size() - 1)];
                    bool isChild = ref.parent == target.model;
                    Model copy = CloneOf(*other.model);
                    VelkNode* result = op == 2 ? node->InsertBeforeChild(ref.node, *other.node)
                                               : node->InsertAfterChild(ref.node, *other.node);
                    velkfuzz::Require((result != nullptr) == isChild,
                                      "insert next to a child only");
                    if (isChild) {
                        auto& kids = target.model->children;
                        kids.insert(kids.begin() + static_cast<long>(ref.index + (op == 3)), copy);
                    }
                }
                break;
            case 4:
                if (!fits) break;
                {
                    Model copy = CloneOf(*other.model);
                    Place& old = places[input.ConsumeIntegralInRange<size_t>(0, places.size() - 1)];
                    bool isChild = old.parent == target.model;
                    size_t at = old.index;
                    VelkNode* result = node->ReplaceChild(old.node, *other.node);
                    velkfuzz::Require((result != nullptr) == isChild, "replace a child only");
                    if (isChild) target.model->children[at] = copy;
                }
                break;
            case 5:
                if (otherIsChild) {
                    size_t at = other.index;
                    velkfuzz::Require(node->RemoveChild(other.node), "RemoveChild");
                    target.model->children.erase(target.model->children.begin() +
                                                 static_cast<long>(at));
                }
                break;
            case 6:
                node->Clear();
                target.model->children.clear();
                break;
            case 7:
            case 8:
                if (VelkElement* e = node->ToElement()) {
                    const std::string name(
                        1, static_cast<char>('a' + input.ConsumeIntegralInRange(0, 4)));
                    auto& attrs = target.model->attributes;
                    auto found = attrs.begin();
                    while (found != attrs.end() && found->first != name) ++found;
                    if (op == 7) {
                        e->SetAttribute(name.c_str(), word.c_str());
                        if (found != attrs.end())
                            found->second = word.c_str();
                        else
                            attrs.emplace_back(name, word.c_str());
                    } else {
                        e->RemoveAttribute(name.c_str());
                        if (found != attrs.end()) attrs.erase(found);
                    }
                }
                break;
            case 9: {
                std::unique_ptr<VelkNode> clone(node->Clone());
                velkfuzz::Require(clone != nullptr, "Clone");
                velkfuzz::Require(Compare(CloneOf(*target.model), *clone),
                                  "clone equals its source");
                velkfuzz::Require(velkcheck::CheckLinks(*clone), "links of a clone");
                if (node == doc.get()) {
                    doc.reset(clone.release()->ToDocument());
                    model = CloneOf(model);
                }
                break;
            }
            default:
                if (node != doc.get()) {
                    node->SetValue(word.c_str());
                    target.model->value = word.c_str();
                }
                break;
        }
        velkfuzz::Require(velkcheck::CheckLinks(*doc), "links after an edit");
        velkfuzz::Require(Compare(model, *doc), "tree equals the model after an edit");
    }
    return 0;
}

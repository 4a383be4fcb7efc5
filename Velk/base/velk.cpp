// The object model (nodes, attributes, elements, leaves, the document, the
// handle) and the output side (escaping, pretty printing, compact streaming,
// file load and save).
//
// Nothing here recurses once per nesting level: subtrees are deleted, cloned,
// printed and streamed by walking the parent/next links.
#include "velk.h"
#include "velkintern.h"
#include "velkmemory.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <typeinfo>

namespace {
constexpr const char kVelkUnit[] = "Velk/base/velk";
}  // namespace

namespace TAVARO {

bool VelkBase::condenseWhiteSpace = true;

// ---------------------------------------------------------------------------
// Node tree
// ---------------------------------------------------------------------------

VelkNode::VelkNode(NodeType nodeType)
    : parent(nullptr),
      firstChild(nullptr),
      lastChild(nullptr),
      prev(nullptr),
      next(nullptr),
      clientData(nullptr),
      type(nodeType),
      inSlab(false) {}

VelkNode::~VelkNode() {
    Clear();
}

namespace {

// Gives the slot of a string's text, if it has one, up to freed.
void FreeText(VelkString& text, SlotBatch& freed) {
    if (void* slot = VelkAccess::TakeSlot(text)) freed.Add(slot);
}

// Deletes a chain of attributes from first on. Those a parse placed are of
// the library's own class: their destructor runs here and their slots go to
// freed, with their texts'. Others are deleted as their class deletes them.
void DeleteAttributes(VelkAttribute* first, SlotBatch& freed) {
    while (first) {
        VelkAttribute* next = first->Next();
        if (VelkAccess::InSlab(*first)) {
            FreeText(VelkAccess::Name(*first), freed);
            FreeText(VelkAccess::Value(*first), freed);
            first->~VelkAttribute();
            freed.Add(first);
        } else {
            delete first;
        }
        first = next;
    }
}

// Whether node is of one of the library's own classes, not of a subclass.
bool OfLibraryClass(const VelkNode& node) {
    const std::type_info& type = typeid(node);
    switch (node.Type()) {
        case VelkNode::DOCUMENT:
            return type == typeid(VelkDocument);
        case VelkNode::ELEMENT:
            return type == typeid(VelkElement);
        case VelkNode::COMMENT:
            return type == typeid(VelkComment);
        case VelkNode::UNKNOWN:
            return type == typeid(VelkUnknown);
        case VelkNode::TEXT:
            return type == typeid(VelkText);
        default:
            return type == typeid(VelkDeclaration);
    }
}

}  // namespace

// Deletes every child and its subtree without recursion: the children of a
// node of the library's own classes are spliced onto the front of the pending
// chain before the node is deleted, which no destructor of those classes can
// tell from deleting them inside it. A subclass node is deleted whole with
// delete, so that its destructor sees what it would under delete; its own
// subtree is cleared inside it. Nodes go in document order, the order a parse
// placed them in, so their slots are given up a run per slab.
void VelkNode::Clear() {
    SlotBatch freed;
    VelkNode* pending = firstChild;
    firstChild = nullptr;
    lastChild = nullptr;
    while (pending) {
        VelkNode* node = pending;
        pending = node->next;
        const bool whole = !node->inSlab && !OfLibraryClass(*node);
        if (node->firstChild && !whole) {
            node->lastChild->next = pending;
            pending = node->firstChild;
            node->firstChild = nullptr;
            node->lastChild = nullptr;
        }
#if defined(__GNUC__)
        // The next node is read while this one is taken apart.
        __builtin_prefetch(pending);
#endif
        if (!node->inSlab) {
            delete node;
            continue;
        }
        // A parse placed only nodes of the library's own classes, whose
        // operator delete gives up the slot; their slots, their texts' and an
        // element's attributes' (before the element) go in one batch.
        if (node->type == ELEMENT) {
            DeleteAttributes(VelkAccess::TakeAll(VelkAccess::Attributes(*node->ToElement())),
                             freed);
        }
        FreeText(node->value, freed);
        node->~VelkNode();
        freed.Add(node);
    }
}

VelkNode* VelkNode::FirstChild(const char* name) const {
    for (VelkNode* node = firstChild; node; node = node->next) {
        if (std::strcmp(node->value.c_str(), name) == 0) return node;
    }
    return nullptr;
}

VelkNode* VelkNode::LastChild(const char* name) const {
    for (VelkNode* node = lastChild; node; node = node->prev) {
        if (std::strcmp(node->value.c_str(), name) == 0) return node;
    }
    return nullptr;
}

namespace {

// The first node from node on, following next (or prev when backwards), whose
// value is the name's bytes.
VelkNode* Seek(VelkNode* node, bool backwards, VelkStringRef name) {
    while (node) {
        const VelkString& value = VelkAccess::Value(*node);
        if (value.size() == name.size() &&
            std::memcmp(value.c_str(), name.data(), name.size()) == 0)
            return node;
        node = backwards ? node->PreviousSibling() : node->NextSibling();
    }
    return nullptr;
}

// The first element among node and the siblings after it named name.
VelkElement* SeekElement(VelkNode* node, VelkStringRef name) {
    for (node = Seek(node, false, name); node; node = Seek(node->NextSibling(), false, name)) {
        if (VelkElement* element = node->ToElement()) return element;
    }
    return nullptr;
}

}  // namespace

VelkNode* VelkNode::FirstChild(VelkStringRef name) const {
    return Seek(firstChild, false, name);
}

VelkNode* VelkNode::LastChild(VelkStringRef name) const {
    return Seek(lastChild, true, name);
}

VelkNode* VelkNode::PreviousSibling(VelkStringRef name) const {
    return Seek(prev, true, name);
}

VelkNode* VelkNode::NextSibling(VelkStringRef name) const {
    return Seek(next, false, name);
}

VelkElement* VelkNode::FirstChildElement(VelkStringRef name) const {
    return SeekElement(firstChild, name);
}

VelkElement* VelkNode::NextSiblingElement(VelkStringRef name) const {
    return SeekElement(next, name);
}

VelkNode* VelkNode::IterateChildren(VelkNode* previous) const {
    if (!previous) return FirstChild();
    VELK_ASSERT(previous->parent == this);
    return previous->NextSibling();
}

VelkNode* VelkNode::IterateChildren(const char* name, VelkNode* previous) const {
    if (!previous) return FirstChild(name);
    VELK_ASSERT(previous->parent == this);
    return previous->NextSibling(name);
}

VelkNode* VelkNode::IterateChildren(VelkStringRef name, VelkNode* previous) const {
    if (!previous) return FirstChild(name);
    VELK_ASSERT(previous->parent == this);
    return previous->NextSibling(name);
}

namespace {

// Stops a debug build at the link of a node that no tree can own: one on the
// caller's stack would be deleted by its parent.
void CheckOwnable(const VelkNode& node, bool inSlab, const char* function) {
#ifndef NDEBUG
    if (!inSlab && OnCallersStack(&node)) {
        AssertionFailed(kVelkUnit, __LINE__, function,
                        "node on the stack: a tree deletes the nodes linked into it, so "
                        "link only nodes made with new");
    }
#else
    (void)node;
    (void)inSlab;
    (void)function;
#endif
}

}  // namespace

VelkNode* VelkNode::LinkEndChild(VelkNode* node) {
    if (!node) return nullptr;
    CheckOwnable(*node, node->inSlab, __func__);
    node->parent = this;
    node->prev = lastChild;
    node->next = nullptr;
    if (lastChild) {
        lastChild->next = node;
    } else {
        firstChild = node;
    }
    lastChild = node;
    return node;
}

VelkNode* VelkNode::InsertEndChild(const VelkNode& source) {
    return LinkEndChild(source.Clone());
}

VelkNode* VelkNode::LinkBefore(VelkNode* beforeThis, VelkNode* node) {
    if (!node || !beforeThis || beforeThis->parent != this) return nullptr;
    CheckOwnable(*node, node->inSlab, __func__);
    node->parent = this;
    node->next = beforeThis;
    node->prev = beforeThis->prev;
    if (beforeThis->prev) {
        beforeThis->prev->next = node;
    } else {
        VELK_ASSERT(firstChild == beforeThis);
        firstChild = node;
    }
    beforeThis->prev = node;
    return node;
}

VelkNode* VelkNode::LinkAfter(VelkNode* afterThis, VelkNode* node) {
    if (!node || !afterThis || afterThis->parent != this) return nullptr;
    CheckOwnable(*node, node->inSlab, __func__);
    node->parent = this;
    node->prev = afterThis;
    node->next = afterThis->next;
    if (afterThis->next) {
        afterThis->next->prev = node;
    } else {
        VELK_ASSERT(lastChild == afterThis);
        lastChild = node;
    }
    afterThis->next = node;
    return node;
}

VelkNode* VelkNode::LinkInPlaceOf(VelkNode* oldChild, VelkNode* node) {
    if (!node || !oldChild || oldChild->parent != this || node == oldChild) return nullptr;
    CheckOwnable(*node, node->inSlab, __func__);
    node->next = oldChild->next;
    node->prev = oldChild->prev;
    if (oldChild->next) {
        oldChild->next->prev = node;
    } else {
        lastChild = node;
    }
    if (oldChild->prev) {
        oldChild->prev->next = node;
    } else {
        firstChild = node;
    }
    delete oldChild;
    node->parent = this;
    return node;
}

// The place is checked before the clone is made; the link then fails only
// when the clone could not be made.
VelkNode* VelkNode::InsertBeforeChild(VelkNode* beforeThis, const VelkNode& source) {
    if (!beforeThis || beforeThis->parent != this) return nullptr;
    return LinkBefore(beforeThis, source.Clone());
}

VelkNode* VelkNode::InsertAfterChild(VelkNode* afterThis, const VelkNode& source) {
    if (!afterThis || afterThis->parent != this) return nullptr;
    return LinkAfter(afterThis, source.Clone());
}

VelkNode* VelkNode::ReplaceChild(VelkNode* oldChild, const VelkNode& source) {
    if (!oldChild || oldChild->parent != this) return nullptr;
    // Cloned before anything is unlinked: source may live inside oldChild.
    return LinkInPlaceOf(oldChild, source.Clone());
}

bool VelkNode::RemoveChild(VelkNode* child) {
    if (!child || child->parent != this) {
        VELK_ASSERT(0);
        return false;
    }
    VelkAccess::Unlink(child, firstChild, lastChild);
    delete child;
    return true;
}

VelkNode* VelkNode::PreviousSibling(const char* name) const {
    for (VelkNode* node = prev; node; node = node->prev) {
        if (std::strcmp(node->value.c_str(), name) == 0) return node;
    }
    return nullptr;
}

VelkNode* VelkNode::NextSibling(const char* name) const {
    for (VelkNode* node = next; node; node = node->next) {
        if (std::strcmp(node->value.c_str(), name) == 0) return node;
    }
    return nullptr;
}

VelkElement* VelkNode::NextSiblingElement() const {
    for (VelkNode* node = next; node; node = node->next) {
        if (node->type == ELEMENT) return node->ToElement();
    }
    return nullptr;
}

VelkElement* VelkNode::NextSiblingElement(const char* name) const {
    for (VelkNode* node = NextSibling(name); node; node = node->NextSibling(name)) {
        if (node->type == ELEMENT) return node->ToElement();
    }
    return nullptr;
}

VelkElement* VelkNode::FirstChildElement() const {
    for (VelkNode* node = firstChild; node; node = node->next) {
        if (node->type == ELEMENT) return node->ToElement();
    }
    return nullptr;
}

VelkElement* VelkNode::FirstChildElement(const char* name) const {
    for (VelkNode* node = FirstChild(name); node; node = node->NextSibling(name)) {
        if (node->type == ELEMENT) return node->ToElement();
    }
    return nullptr;
}

VelkDocument* VelkNode::GetDocument() const {
    for (const VelkNode* node = this; node; node = node->parent) {
        if (VelkDocument* document = node->ToDocument()) return document;
    }
    return nullptr;
}

// The casts go by the stored kind alone; const is cast away because navigation
// hands out modifiable pointers into the tree.
VelkDocument* VelkNode::ToDocument() const {
    return type == DOCUMENT ? static_cast<VelkDocument*>(const_cast<VelkNode*>(this)) : nullptr;
}

VelkElement* VelkNode::ToElement() const {
    return type == ELEMENT ? static_cast<VelkElement*>(const_cast<VelkNode*>(this)) : nullptr;
}

VelkText* VelkNode::ToText() const {
    return type == TEXT ? static_cast<VelkText*>(const_cast<VelkNode*>(this)) : nullptr;
}

void VelkNode::CopyToClone(VelkNode* target) const {
    target->value = value;
    target->clientData = clientData;
}

// ---------------------------------------------------------------------------
// Attributes and the attribute set
// ---------------------------------------------------------------------------

VelkAttribute::VelkAttribute() : prev(nullptr), next(nullptr), utf8(false), inSlab(false) {}

VelkAttribute::VelkAttribute(const char* name, const char* value)
    : prev(nullptr), next(nullptr), utf8(false), inSlab(false) {
    this->name.Assign(name, std::strlen(name));
    SetValue(value);
}

VelkAttribute::VelkAttribute(VelkStringRef name, VelkStringRef value)
    : prev(nullptr), next(nullptr), utf8(false), inSlab(false) {
    this->name.Assign(name.data(), name.size());
    SetValue(value);
}

VelkAttribute::~VelkAttribute() {}

void VelkAttribute::SetDocument(const VelkDocument* doc) {
    utf8 = doc && doc->Utf8();
}

int VelkAttribute::IntValue() const {
    return std::atoi(value.c_str());
}

double VelkAttribute::DoubleValue() const {
    return std::atof(value.c_str());
}

int VelkAttribute::QueryIntValue(int* out) const {
    return std::sscanf(value.c_str(), "%d", out) == 1 ? VELK_ATTR_OK : VELK_ATTR_NOT_NUMERIC;
}

int VelkAttribute::QueryDoubleValue(double* out) const {
    return std::sscanf(value.c_str(), "%lf", out) == 1 ? VELK_ATTR_OK : VELK_ATTR_NOT_NUMERIC;
}

namespace {

// "%d" of any int fits in 12 bytes.
struct IntText {
    explicit IntText(int v) { std::snprintf(text, sizeof text, "%d", v); }
    char text[16];
};

}  // namespace

void VelkAttribute::SetIntValue(int v) {
    SetValue(IntText(v).text);
}

void VelkAttribute::SetDoubleValue(double v) {
    // "%lf" has no exponent: large magnitudes give hundreds of digits, so the
    // text is measured first and stored whole.
    char small[64];
    int length = std::snprintf(small, sizeof small, "%lf", v);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        value.Assign(small, static_cast<size_t>(length));
        return;
    }
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(&text[0], text.size() + 1, "%lf", v);
    value.Assign(text.data(), text.size());
}

VelkAttributeSet::VelkAttributeSet() : first(nullptr), last(nullptr) {}

VelkAttributeSet::~VelkAttributeSet() {
    VELK_ASSERT(!first && !last);
}

void VelkAttributeSet::Add(VelkAttribute* addMe) {
    // The failure message quotes the expression as written here, spaces included.
    // clang-format off
    VELK_ASSERT(!Find( addMe->Name() ));
    // clang-format on
    VelkAccess::Append(*this, addMe);
}

// Only an attribute found in the set is unlinked: the links of any other say
// nothing about this set.
void VelkAttributeSet::Remove(VelkAttribute* removeMe) {
    for (VelkAttribute* node = first; node; node = node->next) {
        if (node == removeMe) {
            VelkAccess::Unlink(node, first, last);
            node->next = nullptr;
            node->prev = nullptr;
            return;
        }
    }
    VELK_ASSERT(0);
}

VelkAttribute* VelkAttributeSet::First() const {
    return first;
}

VelkAttribute* VelkAttributeSet::Last() const {
    return last;
}

VelkAttribute* VelkAttributeSet::Find(const char* name) const {
    for (VelkAttribute* node = first; node; node = node->next) {
        if (std::strcmp(node->name.c_str(), name) == 0) return node;
    }
    return nullptr;
}

VelkAttribute* VelkAttributeSet::Find(VelkStringRef name) const {
    for (VelkAttribute* node = first; node; node = node->next) {
        const VelkString& own = node->name;
        if (own.size() == name.size() && std::memcmp(own.c_str(), name.data(), name.size()) == 0)
            return node;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Element
// ---------------------------------------------------------------------------

VelkElement::VelkElement(const char* value) : VelkNode(ELEMENT) {
    if (*value) SetValue(value);  // a new value is empty already
}

VelkElement::VelkElement(VelkStringRef value) : VelkNode(ELEMENT) {
    SetValue(value);
}

VelkElement::~VelkElement() {
    SlotBatch freed;
    DeleteAttributes(VelkAccess::TakeAll(attributeSet), freed);
}

// The C-string forms take the same path as the others.
const char* VelkElement::Attribute(const char* name) const {
    return Attribute(VelkStringRef(name));
}

const char* VelkElement::Attribute(const char* name, int* i) const {
    return Attribute(VelkStringRef(name), i);
}

const char* VelkElement::Attribute(const char* name, double* d) const {
    return Attribute(VelkStringRef(name), d);
}

int VelkElement::QueryIntAttribute(const char* name, int* value) const {
    return QueryIntAttribute(VelkStringRef(name), value);
}

int VelkElement::QueryDoubleAttribute(const char* name, double* value) const {
    return QueryDoubleAttribute(VelkStringRef(name), value);
}

void VelkElement::SetAttribute(const char* name, const char* value) {
    SetAttribute(VelkStringRef(name), VelkStringRef(value));
}

void VelkElement::SetAttribute(const char* name, int value) {
    SetAttribute(name, IntText(value).text);
}

void VelkElement::RemoveAttribute(const char* name) {
    RemoveAttribute(VelkStringRef(name));
}

void VelkElement::RemoveAttribute(VelkStringRef name) {
    VelkAttribute* attribute = attributeSet.Find(name);
    if (!attribute) return;
    attributeSet.Remove(attribute);
    delete attribute;
}

const char* VelkElement::Attribute(VelkStringRef name) const {
    const VelkAttribute* attribute = attributeSet.Find(name);
    return attribute ? attribute->Value() : nullptr;
}

const char* VelkElement::Attribute(VelkStringRef name, int* i) const {
    const char* s = Attribute(name);
    if (i) *i = s ? std::atoi(s) : 0;
    return s;
}

const char* VelkElement::Attribute(VelkStringRef name, double* d) const {
    const char* s = Attribute(name);
    if (d) *d = s ? std::atof(s) : 0.0;
    return s;
}

int VelkElement::QueryIntAttribute(VelkStringRef name, int* value) const {
    const VelkAttribute* attribute = attributeSet.Find(name);
    return attribute ? attribute->QueryIntValue(value) : VELK_ATTR_MISSING;
}

int VelkElement::QueryDoubleAttribute(VelkStringRef name, double* value) const {
    const VelkAttribute* attribute = attributeSet.Find(name);
    return attribute ? attribute->QueryDoubleValue(value) : VELK_ATTR_MISSING;
}

void VelkElement::SetAttribute(VelkStringRef name, VelkStringRef value) {
    if (VelkAttribute* existing = attributeSet.Find(name)) {
        existing->SetValue(value);
        return;
    }
    VelkAttribute* attribute = new (std::nothrow) VelkAttribute(name, value);
    if (!attribute) {
        if (VelkDocument* document = GetDocument()) {
            document->SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
        }
        return;
    }
    VelkAccess::Append(attributeSet, attribute);
}

namespace {

// The typed readers take the value whole, white space around it aside, and
// without regard to the locale; anything else, or a number out of the type's
// range, is not a value of the type.
std::string_view Trimmed(const char* text) {
    const char* end = text + std::strlen(text);
    while (Is(*text, kSpace)) ++text;
    while (end > text && Is(end[-1], kSpace)) --end;
    return std::string_view(text, static_cast<size_t>(end - text));
}

template <class Number>
bool ReadNumber(const char* text, Number* out) {
    std::string_view s = Trimmed(text);
    // A sign of its own is refused, as from_chars refuses "+"; "+-1" stays refused.
    if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
    Number n{};
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (error != std::errc() || end != s.data() + s.size() || s.empty()) return false;
    *out = n;
    return true;
}

bool ReadBool(const char* text, bool* out) {
    const std::string_view s = Trimmed(text);
    if (s == "true" || s == "1") {
        *out = true;
    } else if (s == "false" || s == "0") {
        *out = false;
    } else {
        return false;
    }
    return true;
}

// The value of the named attribute of element read by read, or fallback.
template <class Value, class Reader>
Value TypedAttribute(const VelkElement& element, VelkStringRef name, Value fallback, Reader read) {
    const VelkAttribute* attribute = VelkAccess::Attributes(element).Find(name);
    Value value{};
    return attribute && read(attribute->Value(), &value) ? value : fallback;
}

// Sets the attribute to the number as to_chars writes it: integers in decimal,
// floating-point numbers in the shortest form that reads back the same (at
// most 24 bytes for a double).
template <class Number>
void SetNumberAttribute(VelkElement& element, VelkStringRef name, Number value) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    const size_t length = error == std::errc() ? static_cast<size_t>(end - buffer) : 0;
    element.SetAttribute(name, VelkStringRef(buffer, length));
}

}  // namespace

int VelkElement::IntAttribute(VelkStringRef name, int defaultValue) const {
    return TypedAttribute(*this, name, defaultValue, ReadNumber<int>);
}

std::int64_t VelkElement::Int64Attribute(VelkStringRef name, std::int64_t defaultValue) const {
    return TypedAttribute(*this, name, defaultValue, ReadNumber<std::int64_t>);
}

std::uint64_t VelkElement::Uint64Attribute(VelkStringRef name, std::uint64_t defaultValue) const {
    return TypedAttribute(*this, name, defaultValue, ReadNumber<std::uint64_t>);
}

double VelkElement::DoubleAttribute(VelkStringRef name, double defaultValue) const {
    return TypedAttribute(*this, name, defaultValue, ReadNumber<double>);
}

bool VelkElement::BoolAttribute(VelkStringRef name, bool defaultValue) const {
    return TypedAttribute(*this, name, defaultValue, ReadBool);
}

void VelkElement::SetNumber(VelkStringRef name, long long value) {
    SetNumberAttribute(*this, name, value);
}

void VelkElement::SetNumber(VelkStringRef name, unsigned long long value) {
    SetNumberAttribute(*this, name, value);
}

void VelkElement::SetNumber(VelkStringRef name, double value) {
    SetNumberAttribute(*this, name, value);
}

void VelkElement::SetNumber(VelkStringRef name, float value) {
    SetNumberAttribute(*this, name, value);
}

void VelkElement::SetNumber(VelkStringRef name, bool value) {
    SetAttribute(name, value ? VelkStringRef("true", 4) : VelkStringRef("false", 5));
}

const char* VelkElement::Text() const {
    for (const VelkNode* node = FirstChild(); node; node = node->NextSibling()) {
        if (node->ToText()) return node->Value();
    }
    return nullptr;
}

namespace {

// A new element with source's value, client data and attributes, but no
// children; null when any part of it cannot be allocated.
VelkElement* CloneElementAlone(const VelkElement& source) {
    VelkElement* copy = new (std::nothrow) VelkElement("");
    if (!copy) return nullptr;
    source.CopyToClone(copy);
    // The source's names are unique, so each copy is appended without a lookup.
    VelkAttributeSet& attributes = VelkAccess::Attributes(*copy);
    for (const VelkAttribute* a = source.FirstAttribute(); a; a = a->Next()) {
        VelkAttribute* attribute = new (std::nothrow) VelkAttribute(a->Name(), a->Value());
        if (!attribute) {
            delete copy;
            return nullptr;
        }
        attributes.Add(attribute);
    }
    return copy;
}

}  // namespace

VelkNode* VelkElement::Clone() const {
    VelkElement* root = CloneElementAlone(*this);
    if (!root) return nullptr;
    // Walk the source subtree; `source` is the element whose children are being
    // copied into `target`.
    const VelkNode* source = this;
    VelkNode* target = root;
    const VelkNode* child = FirstChild();
    for (;;) {
        if (!child) {
            if (source == this) return root;
            child = source->NextSibling();
            source = source->Parent();
            target = target->Parent();
            continue;
        }
        const VelkElement* element = child->ToElement();
        VelkNode* copy = element ? CloneElementAlone(*element) : child->Clone();
        if (!copy) {
            delete root;
            return nullptr;
        }
        target->LinkEndChild(copy);
        if (element && element->FirstChild()) {
            source = element;
            target = copy;
            child = element->FirstChild();
        } else {
            child = child->NextSibling();
        }
    }
}

// ---------------------------------------------------------------------------
// Leaf node kinds
// ---------------------------------------------------------------------------

VelkDeclaration::VelkDeclaration(const char* version, const char* encoding, const char* standalone)
    : VelkNode(DECLARATION), version(version), encoding(encoding), standalone(standalone) {}

VelkDeclaration::VelkDeclaration(VelkStringRef version, VelkStringRef encoding,
                                 VelkStringRef standalone)
    : VelkNode(DECLARATION),
      version(version.data(), version.size()),
      encoding(encoding.data(), encoding.size()),
      standalone(standalone.data(), standalone.size()) {}

namespace {

template <class Leaf>
VelkNode* CloneLeaf(const Leaf& source, Leaf* copy) {
    if (!copy) return nullptr;
    source.CopyToClone(copy);
    return copy;
}

}  // namespace

VelkNode* VelkComment::Clone() const {
    return CloneLeaf(*this, new (std::nothrow) VelkComment());
}

VelkNode* VelkText::Clone() const {
    VelkText* copy = new (std::nothrow) VelkText("");
    if (copy) {
        copy->cdata = cdata;
        copy->reference = reference;
    }
    return CloneLeaf(*this, copy);
}

VelkNode* VelkUnknown::Clone() const {
    return CloneLeaf(*this, new (std::nothrow) VelkUnknown());
}

VelkNode* VelkDeclaration::Clone() const {
    VelkDeclaration* copy = new (std::nothrow) VelkDeclaration();
    if (!copy) return nullptr;
    CopyToClone(copy);
    copy->version = version;
    copy->encoding = encoding;
    copy->standalone = standalone;
    return copy;
}

bool VelkText::Blank() const {
    for (const char* p = Value(); *p; ++p) {
        if (!Is(*p, kSpace)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Document and error state
// ---------------------------------------------------------------------------

VelkDocument::VelkDocument()
    : VelkNode(DOCUMENT), tabSize(4), utf8(false), strict(false), condense(-1), arena() {
    ClearError();
}

VelkDocument::VelkDocument(const char* documentName) : VelkDocument() {
    SetValue(documentName);
}

VelkDocument::VelkDocument(VelkStringRef documentName) : VelkDocument() {
    SetValue(documentName);
}

// The nodes go with the base destructor; each slab they fill outlives the
// document until its last object is deleted.
VelkDocument::~VelkDocument() {
    Seal(*this);
}

VelkDocument::VelkDocument(VelkDocument&& other) noexcept
    : VelkNode(DOCUMENT), tabSize(4), utf8(false), strict(false), condense(-1), arena() {
    ClearError();
    TakeFrom(other);
}

VelkDocument& VelkDocument::operator=(VelkDocument&& other) noexcept {
    if (this != &other) {
        Clear();
        Seal(*this);
        TakeFrom(other);
    }
    return *this;
}

// The slabs hold nothing that points at the document, so the one being
// filled changes hands with the nodes; the top-level nodes are the only ones
// that point at it.
void VelkDocument::TakeFrom(VelkDocument& other) {
    VELK_ASSERT(!other.Parent() && !Parent());
    VelkAccess::MoveChildren(*this, other);
    VelkAccess::Value(*this).swap(VelkAccess::Value(other));
    VelkAccess::Value(other).Assign("", 0);
    location = other.location;
    VelkAccess::ClientData(*this) = other.ClientData();
    other.SetClientData(nullptr);
    hasError = other.hasError;
    errorCode = other.errorCode;
    errorMessage.swap(other.errorMessage);
    errorCursor = other.errorCursor;
    tabSize = other.tabSize;
    utf8 = other.utf8;
    strict = other.strict;
    condense = other.condense;
    arena = other.arena;
    other.arena = Arena{};
    other.ClearError();
}

void VelkDocument::ClearError() {
    hasError = false;
    errorCode = 0;
    errorMessage.clear();
    errorCursor.row = 0;
    errorCursor.col = 0;
}

VelkNode* VelkDocument::Clone() const {
    VelkDocument* copy = new (std::nothrow) VelkDocument();
    if (!copy) return nullptr;
    CopyToClone(copy);
    copy->hasError = hasError;
    copy->errorMessage = errorMessage;
    copy->utf8 = utf8;
    copy->strict = strict;
    copy->condense = condense;
    for (const VelkNode* node = FirstChild(); node; node = node->NextSibling()) {
        VelkNode* child = node->Clone();
        if (!child) {
            delete copy;
            return nullptr;
        }
        copy->LinkEndChild(child);
    }
    return copy;
}

// ---------------------------------------------------------------------------
// Handle
// ---------------------------------------------------------------------------

VelkElement* VelkHandle::ToElement() const {
    return node ? node->ToElement() : nullptr;
}

VelkText* VelkHandle::ToText() const {
    return node ? node->ToText() : nullptr;
}

VelkHandle VelkHandle::FirstChild() const {
    return node ? node->FirstChild() : nullptr;
}

VelkHandle VelkHandle::FirstChild(const char* name) const {
    return node ? node->FirstChild(name) : nullptr;
}

VelkHandle VelkHandle::FirstChild(VelkStringRef name) const {
    return node ? node->FirstChild(name) : nullptr;
}

VelkHandle VelkHandle::FirstChildElement(VelkStringRef name) const {
    return node ? node->FirstChildElement(name) : nullptr;
}

VelkHandle VelkHandle::FirstChildElement() const {
    return node ? node->FirstChildElement() : nullptr;
}

VelkHandle VelkHandle::FirstChildElement(const char* name) const {
    return node ? node->FirstChildElement(name) : nullptr;
}

// Each indexed step counts candidates from the first one that its `first`
// yields, moving on with `nextOf`; an index of 0 or below gives the first.
namespace {

template <class First, class NextOf>
VelkNode* NthCandidate(VelkNode* node, int index, First first, NextOf nextOf) {
    if (!node) return nullptr;
    VelkNode* candidate = first(node);
    for (int i = 0; candidate && i < index; ++i) candidate = nextOf(candidate);
    return candidate;
}

}  // namespace

VelkHandle VelkHandle::Child(int index) const {
    return NthCandidate(
        node, index, [](VelkNode* n) { return n->FirstChild(); },
        [](VelkNode* n) { return n->NextSibling(); });
}

VelkHandle VelkHandle::Child(const char* name, int index) const {
    return NthCandidate(
        node, index, [name](VelkNode* n) { return n->FirstChild(name); },
        [name](VelkNode* n) { return n->NextSibling(name); });
}

VelkHandle VelkHandle::Child(VelkStringRef name, int index) const {
    return NthCandidate(
        node, index, [name](VelkNode* n) { return n->FirstChild(name); },
        [name](VelkNode* n) { return n->NextSibling(name); });
}

VelkHandle VelkHandle::ChildElement(int index) const {
    return NthCandidate(
        node, index, [](VelkNode* n) -> VelkNode* { return n->FirstChildElement(); },
        [](VelkNode* n) -> VelkNode* { return n->NextSiblingElement(); });
}

VelkHandle VelkHandle::ChildElement(const char* name, int index) const {
    return NthCandidate(
        node, index, [name](VelkNode* n) -> VelkNode* { return n->FirstChildElement(name); },
        [name](VelkNode* n) -> VelkNode* { return n->NextSiblingElement(name); });
}

VelkHandle VelkHandle::ChildElement(VelkStringRef name, int index) const {
    return NthCandidate(
        node, index, [name](VelkNode* n) -> VelkNode* { return n->FirstChildElement(name); },
        [name](VelkNode* n) -> VelkNode* { return n->NextSiblingElement(name); });
}

// ---------------------------------------------------------------------------
// Output: sinks and the escaper
// ---------------------------------------------------------------------------

namespace {

void Emit(FILE* file, const char* p, size_t n) {
    std::fwrite(p, 1, n, file);
}

void Emit(std::ostream* out, const char* p, size_t n) {
    out->write(p, static_cast<std::streamsize>(n));
}

void Emit(std::string* out, const char* p, size_t n) {
    out->append(p, n);
}

// Where output goes. Small pieces (tags, quotes, entities) are gathered in a
// buffer and handed to the FILE, stream or string in one call; long runs go straight
// through.
template <class Target>
class BufferedSink {
public:
    explicit BufferedSink(Target target) : target(target) {}
    ~BufferedSink() { Flush(); }
    BufferedSink(const BufferedSink&) = delete;
    BufferedSink& operator=(const BufferedSink&) = delete;

    void Write(const char* p, size_t n) {
        if (n > sizeof buffer - used) {
            Flush();
            if (n >= sizeof buffer) {
                Emit(target, p, n);
                return;
            }
        }
        std::memcpy(buffer + used, p, n);
        used += n;
    }
    void Put(char c) {
        if (used == sizeof buffer) Flush();
        buffer[used++] = c;
    }

private:
    void Flush() {
        if (used) Emit(target, buffer, used);
        used = 0;
    }

    Target target;
    size_t used = 0;
    char buffer[1024];
};

using FileSink = BufferedSink<FILE*>;
using StreamSink = BufferedSink<std::ostream*>;
using StringSink = BufferedSink<std::string*>;

std::string_view View(const VelkString& s) {
    return std::string_view(s.c_str(), s.size());
}

template <class Sink>
void WriteString(Sink& sink, std::string_view s) {
    sink.Write(s.data(), s.size());
}

template <class Sink>
void WriteString(Sink& sink, const VelkString& s) {
    sink.Write(s.c_str(), s.size());
}

template <class Sink, size_t N>
void WriteLiteral(Sink& sink, const char (&text)[N]) {
    sink.Write(text, N - 1);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The length of the character reference "&#x" hex-digits ";" at p, or 0 when
// none stands there. Such a reference is written out as it is stored.
size_t HexReferenceLength(const char* p, const char* end) {
    if (end - p < 5 || p[1] != '#' || p[2] != 'x' || !IsHexDigit(p[3])) return 0;
    const char* q = p + 4;
    while (q < end && IsHexDigit(*q)) ++q;
    return (q < end && *q == ';') ? static_cast<size_t>(q + 1 - p) : 0;
}

// How text is escaped. The byte model writes every byte outside printable
// ASCII as "&#xHH;" and passes a stored "&#x...;" through; the UTF-8 model
// writes those bytes as they are, escapes only what XML needs (control bytes
// but tab and line feed as references; in attribute values tab and line feed
// too, which a reader would turn into spaces) and always writes '&' as "&amp;".
enum class Escaping { kBytes, kUtf8Text, kUtf8Attribute };

unsigned EscapeClass(Escaping how) {
    switch (how) {
        case Escaping::kBytes:
            return kEscape;
        case Escaping::kUtf8Text:
            return kEscapeTextUtf8;
        default:
            return kEscapeAttrUtf8;
    }
}

Escaping TextEscaping(bool utf8) {
    return utf8 ? Escaping::kUtf8Text : Escaping::kBytes;
}

// The first byte at or after p of the escape class cls, or end.
const char* CleanRunEnd(const char* p, const char* end, unsigned cls) {
    while (end - p >= 4) {
        if (Is(p[0], cls)) return p;
        if (Is(p[1], cls)) return p + 1;
        if (Is(p[2], cls)) return p + 2;
        if (Is(p[3], cls)) return p + 3;
        p += 4;
    }
    while (p < end && !Is(*p, cls)) ++p;
    return p;
}

// The row of the entity table for a markup character, or -1.
int EntityRow(char c) {
    switch (c) {
        case '&':
            return 0;
        case '<':
            return 1;
        case '>':
            return 2;
        case '"':
            return 3;
        case '\'':
            return 4;
        default:
            return -1;
    }
}

// Writes [p, end) escaped: the five markup characters as entities, the other
// bytes of the escape class as "&#xHH;". Runs needing no escape go out in one
// call.
template <class Sink>
void Escape(Sink& sink, const char* p, const char* const end, Escaping how) {
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned cls = EscapeClass(how);
    for (;;) {
        const char* run = p;
        p = CleanRunEnd(p, end, cls);
        if (p != run) sink.Write(run, static_cast<size_t>(p - run));
        if (p == end) return;
        if (*p == '&' && how == Escaping::kBytes) {
            if (size_t reference = HexReferenceLength(p, end)) {
                sink.Write(p, reference);
                p += reference;
                continue;
            }
        }
        const int row = EntityRow(*p);
        if (row >= 0) {
            sink.Write(VelkBase::entity[row].str, VelkBase::entity[row].strLength);
        } else {
            unsigned char byte = static_cast<unsigned char>(*p);
            const char reference[6] = {'&', '#', 'x', kHex[byte >> 4], kHex[byte & 15], ';'};
            sink.Write(reference, sizeof reference);
        }
        ++p;
    }
}

template <class Sink>
void Escape(Sink& sink, std::string_view s, Escaping how) {
    Escape(sink, s.data(), s.data() + s.size(), how);
}

template <class Sink>
void Escape(Sink& sink, const VelkString& s, Escaping how) {
    Escape(sink, View(s), how);
}

// name="value" with both parts escaped; the same in both output forms. The
// value goes between apostrophes when it holds a double quote; a double quote
// needs escaping, so only a value with something to escape is searched for one.
template <class Sink>
void WriteAttribute(Sink& sink, const VelkAttribute& attribute, bool utf8) {
    Escape(sink, VelkAccess::Name(attribute), TextEscaping(utf8));
    const Escaping how = utf8 ? Escaping::kUtf8Attribute : Escaping::kBytes;
    const VelkString& value = VelkAccess::Value(attribute);
    const char* p = value.c_str();
    const char* const end = p + value.size();
    const char* clean = CleanRunEnd(p, end, EscapeClass(how));
    bool hasDoubleQuote = clean != end && std::memchr(clean, '"', static_cast<size_t>(end - clean));
    const char quote = hasDoubleQuote ? '\'' : '"';
    const char opening[2] = {'=', quote};
    sink.Write(opening, 2);
    sink.Write(p, static_cast<size_t>(clean - p));
    Escape(sink, clean, end, how);
    sink.Put(quote);
}

template <class Sink>
void WriteAttributes(Sink& sink, const VelkElement& element, bool utf8) {
    for (const VelkAttribute* a = element.FirstAttribute(); a; a = a->Next()) {
        sink.Put(' ');
        WriteAttribute(sink, *a, utf8);
    }
}

// A CDATA section. Content holding "]]>" is split after its "]]" into two
// sections, the one way to write those bytes in CDATA.
template <class Sink>
void WriteCData(Sink& sink, std::string_view content) {
    WriteLiteral(sink, "<![CDATA[");
    size_t from = 0;
    for (size_t at; (at = content.find("]]>", from)) != std::string_view::npos; from = at + 2) {
        sink.Write(content.data() + from, at + 2 - from);
        WriteLiteral(sink, "]]><![CDATA[");
    }
    sink.Write(content.data() + from, content.size() - from);
    WriteLiteral(sink, "]]>");
}

template <class Sink>
void WriteText(Sink& sink, const VelkText& text, bool utf8) {
    if (text.CDATA()) {
        WriteCData(sink, View(VelkAccess::Value(text)));
    } else if (text.EntityReference()) {
        sink.Put('&');
        WriteString(sink, VelkAccess::Value(text));
        sink.Put(';');
    } else {
        Escape(sink, VelkAccess::Value(text), TextEscaping(utf8));
    }
}

// "<!--", the body, "-->". The pretty form writes the body as stored, and so
// does the compact form of a UTF-8 document; the compact form of the byte
// model escapes it.
template <class Sink>
void WriteComment(Sink& sink, const VelkNode& comment, bool escape) {
    WriteLiteral(sink, "<!--");
    if (escape) {
        Escape(sink, VelkAccess::Value(comment), Escaping::kBytes);
    } else {
        WriteString(sink, VelkAccess::Value(comment));
    }
    WriteLiteral(sink, "-->");
}

template <class Sink>
void WriteUnknown(Sink& sink, const VelkNode& unknown) {
    sink.Put('<');
    WriteString(sink, VelkAccess::Value(unknown));
    sink.Put('>');
}

// keyword="value" followed by a blank, for each string that is not empty.
// Markup characters and control bytes are written as references in both
// forms, so that every value reads back as it is; the compact form writes
// other bytes outside printable ASCII as references too.
template <class Sink>
void WriteDeclarationItem(Sink& sink, const char* keyword, size_t keywordLength,
                          const std::string& value, bool escape) {
    if (value.empty()) return;
    sink.Write(keyword, keywordLength);
    sink.Put('"');
    // The pretty form keeps other bytes as they are; both forms read back the same.
    Escape(sink, value, escape ? Escaping::kBytes : Escaping::kUtf8Attribute);
    sink.Put('"');
    sink.Put(' ');
}

template <class Sink>
void WriteDeclaration(Sink& sink, const VelkDeclaration& d, bool escape) {
    WriteLiteral(sink, "<?xml ");
    WriteDeclarationItem(sink, "version=", 8, VelkAccess::Version(d), escape);
    WriteDeclarationItem(sink, "encoding=", 9, VelkAccess::Encoding(d), escape);
    WriteDeclarationItem(sink, "standalone=", 11, VelkAccess::Standalone(d), escape);
    WriteLiteral(sink, "?>");
}

// Whether the node belongs to a document in the UTF-8 model. Looked up once
// per output call: the writers below pass it down.
bool Utf8Model(const VelkNode& node) {
    const VelkDocument* doc = node.GetDocument();
    return doc && doc->Utf8();
}

// ---------------------------------------------------------------------------
// Pretty printing
// ---------------------------------------------------------------------------

// The pretty form goes to any sink: a FILE, a stream or a string get the same bytes.

// Four spaces per level of depth; nothing for a depth of zero or less.
template <class Sink>
void Indent(Sink& sink, int depth) {
    static const char kSpaces[] =
        "                                                                "
        "                                                                ";
    constexpr size_t kSpaceCount = sizeof kSpaces - 1;
    if (depth <= 0) return;
    size_t count = static_cast<size_t>(depth) * 4;
    while (count > kSpaceCount) {
        sink.Write(kSpaces, kSpaceCount);
        count -= kSpaceCount;
    }
    sink.Write(kSpaces, count);
}

template <class Sink>
void PrettyDocument(Sink& sink, const VelkDocument& document, int depth);

// A node that is not an element, at depth: comments and unknown markup are
// indented, text and declarations are not.
template <class Sink>
void PrettyLeaf(Sink& sink, const VelkNode& node, int depth, bool utf8) {
    switch (node.Type()) {
        case VelkNode::COMMENT:
            Indent(sink, depth);
            WriteComment(sink, node, false);
            break;
        case VelkNode::UNKNOWN:
            Indent(sink, depth);
            WriteUnknown(sink, node);
            break;
        case VelkNode::TEXT:
            WriteText(sink, *node.ToText(), utf8);
            break;
        case VelkNode::DECLARATION:
            WriteDeclaration(sink, static_cast<const VelkDeclaration&>(node), false);
            break;
        default:
            PrettyDocument(sink, *node.ToDocument(), depth);
            break;
    }
}

// Writes the start of an element at depth. Returns true when its children
// follow on lines of their own; otherwise the element is written completely.
template <class Sink>
bool OpenPretty(Sink& sink, const VelkElement& element, int depth, bool utf8) {
    Indent(sink, depth);
    sink.Put('<');
    WriteString(sink, VelkAccess::Value(element));
    WriteAttributes(sink, element, utf8);
    const VelkNode* first = element.FirstChild();
    if (!first) {
        WriteLiteral(sink, " />");
        return false;
    }
    sink.Put('>');
    if (first == element.LastChild() && first->ToText()) {
        WriteText(sink, *first->ToText(), utf8);
        WriteLiteral(sink, "</");
        WriteString(sink, VelkAccess::Value(element));
        sink.Put('>');
        return false;
    }
    return true;
}

template <class Sink>
void ClosePretty(Sink& sink, const VelkNode& element, int depth) {
    sink.Put('\n');
    Indent(sink, depth);
    WriteLiteral(sink, "</");
    WriteString(sink, VelkAccess::Value(element));
    sink.Put('>');
}

template <class Sink>
void PrettyElement(Sink& sink, const VelkElement& top, int depth, bool utf8) {
    if (!OpenPretty(sink, top, depth, utf8)) return;
    // `parent` is the element whose children are being written, at `level`.
    const VelkNode* parent = &top;
    int level = depth;
    const VelkNode* child = top.FirstChild();
    for (;;) {
        if (!child) {
            ClosePretty(sink, *parent, level);
            if (parent == &top) return;
            child = parent->NextSibling();
            parent = parent->Parent();
            --level;
            continue;
        }
        if (!child->ToText()) sink.Put('\n');
        if (const VelkElement* element = child->ToElement()) {
            if (OpenPretty(sink, *element, level + 1, utf8)) {
                parent = element;
                child = element->FirstChild();
                ++level;
                continue;
            }
        } else {
            PrettyLeaf(sink, *child, level + 1, utf8);
        }
        child = child->NextSibling();
    }
}

// Every top-level node, each followed by a line feed.
template <class Sink>
void PrettyDocument(Sink& sink, const VelkDocument& document, int depth) {
    const bool utf8 = document.Utf8();
    for (const VelkNode* node = document.FirstChild(); node; node = node->NextSibling()) {
        if (const VelkElement* element = node->ToElement()) {
            PrettyElement(sink, *element, depth, utf8);
        } else {
            PrettyLeaf(sink, *node, depth, utf8);
        }
        sink.Put('\n');
    }
}

// Any node, as its Print writes it.
template <class Sink>
void PrettyNode(Sink& sink, const VelkNode& node, int depth) {
    if (const VelkElement* element = node.ToElement()) {
        PrettyElement(sink, *element, depth, Utf8Model(node));
    } else {
        PrettyLeaf(sink, node, depth, Utf8Model(node));
    }
}

}  // namespace

void VelkNode::Print(std::string* out, int depth) const {
    StringSink sink{out};
    PrettyNode(sink, *this, depth);
}

void VelkNode::Print(std::ostream& out, int depth) const {
    StreamSink sink{&out};
    PrettyNode(sink, *this, depth);
}

void VelkAttribute::Print(std::string* out, int /*depth*/) const {
    StringSink sink{out};
    WriteAttribute(sink, *this, utf8);
}

void VelkAttribute::Print(std::ostream& out, int /*depth*/) const {
    StreamSink sink{&out};
    WriteAttribute(sink, *this, utf8);
}

void VelkElement::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyElement(sink, *this, depth, Utf8Model(*this));
}

void VelkAttribute::Print(FILE* file, int /*depth*/) const {
    FileSink sink{file};
    WriteAttribute(sink, *this, utf8);
}

void VelkComment::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyLeaf(sink, *this, depth, false);
}

void VelkText::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyLeaf(sink, *this, depth, Utf8Model(*this));
}

void VelkDeclaration::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyLeaf(sink, *this, depth, false);
}

void VelkUnknown::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyLeaf(sink, *this, depth, false);
}

void VelkDocument::Print(FILE* file, int depth) const {
    FileSink sink{file};
    PrettyDocument(sink, *this, depth);
}

// ---------------------------------------------------------------------------
// Compact streaming
// ---------------------------------------------------------------------------

namespace {

// Writes the start of an element; true when its children and end tag follow,
// false when the element was written whole.
template <class Sink>
bool OpenCompact(Sink& sink, const VelkElement& element, bool utf8) {
    sink.Put('<');
    WriteString(sink, VelkAccess::Value(element));
    WriteAttributes(sink, element, utf8);
    if (!element.FirstChild()) {
        WriteLiteral(sink, " />");
        return false;
    }
    sink.Put('>');
    return true;
}

template <class Sink>
void CloseCompact(Sink& sink, const VelkNode& element) {
    WriteLiteral(sink, "</");
    WriteString(sink, VelkAccess::Value(element));
    sink.Put('>');
}

template <class Sink>
void CompactNode(Sink& sink, const VelkNode& node, bool utf8);

// The element and its subtree, walked over the parent/next links.
template <class Sink>
void CompactElement(Sink& sink, const VelkElement& top, bool utf8) {
    if (!OpenCompact(sink, top, utf8)) return;
    const VelkNode* parent = &top;
    const VelkNode* child = top.FirstChild();
    for (;;) {
        if (!child) {
            CloseCompact(sink, *parent);
            if (parent == &top) return;
            child = parent->NextSibling();
            parent = parent->Parent();
            continue;
        }
        if (const VelkElement* element = child->ToElement()) {
            if (OpenCompact(sink, *element, utf8)) {
                parent = element;
                child = element->FirstChild();
                continue;
            }
        } else {
            CompactNode(sink, *child, utf8);
        }
        child = child->NextSibling();
    }
}

// The top-level nodes up to and including the first element.
template <class Sink>
void CompactDocument(Sink& sink, const VelkDocument& document) {
    for (const VelkNode* node = document.FirstChild(); node; node = node->NextSibling()) {
        CompactNode(sink, *node, document.Utf8());
        if (node->ToElement()) return;
    }
}

// The compact form of any node, to a stream or a string alike.
template <class Sink>
void CompactNode(Sink& sink, const VelkNode& node, bool utf8) {
    switch (node.Type()) {
        case VelkNode::DOCUMENT:
            CompactDocument(sink, *node.ToDocument());
            break;
        case VelkNode::ELEMENT:
            CompactElement(sink, *node.ToElement(), utf8);
            break;
        case VelkNode::COMMENT:
            WriteComment(sink, node, !utf8);
            break;
        case VelkNode::UNKNOWN:
            WriteUnknown(sink, node);
            break;
        case VelkNode::TEXT:
            WriteText(sink, *node.ToText(), utf8);
            break;
        case VelkNode::DECLARATION:
            WriteDeclaration(sink, static_cast<const VelkDeclaration&>(node), true);
            break;
    }
}

void StreamCompact(std::ostream* out, const VelkNode& node) {
    StreamSink sink{out};
    CompactNode(sink, node, Utf8Model(node));
}

}  // namespace

void VelkAttribute::StreamOut(std::ostream* out) const {
    StreamSink sink{out};
    WriteAttribute(sink, *this, utf8);
}

void VelkElement::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

void VelkComment::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

void VelkText::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

void VelkDeclaration::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

void VelkUnknown::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

void VelkDocument::StreamOut(std::ostream* out) const {
    StreamCompact(out, *this);
}

std::ostream& operator<<(std::ostream& out, const VelkNode& base) {
    base.StreamOut(&out);
    return out;
}

std::string& operator<<(std::string& out, const VelkNode& base) {
    StringSink sink{&out};
    CompactNode(sink, base, Utf8Model(base));
    return out;
}

// ---------------------------------------------------------------------------
// Escaping for callers, and owned buffers
// ---------------------------------------------------------------------------

void VelkBase::PutString(const std::string& input, std::string* out) {
    StringSink sink{out};
    Escape(sink, input, Escaping::kBytes);
}

void VelkBase::PutString(const std::string& input, std::ostream* stream) {
    StreamSink sink{stream};
    Escape(sink, input, Escaping::kBytes);
}

VelkBase::StringToBuffer::StringToBuffer(const std::string& input)
    : buffer(new (std::nothrow) char[input.length() + 1]) {
    if (buffer) std::strcpy(buffer, input.c_str());
}

VelkBase::StringToBuffer::~StringToBuffer() {
    delete[] buffer;
}

// ---------------------------------------------------------------------------
// File load and save
// ---------------------------------------------------------------------------

namespace {

// The length that ftell reports, or 0 when it reports nothing usable; the file
// is left at its start. Only ever used to size a reservation.
size_t ReportedLength(FILE* file) {
    constexpr long kMaxReservation = 1L << 30;
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    return (length > 0 && length <= kMaxReservation) ? static_cast<size_t>(length) : 0;
}

// A file's bytes in a buffer of their own, NUL-terminated.
struct FileText {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
    size_t capacity = 0;  // bytes, the terminating NUL included

    // Room for at least size bytes, the NUL included; false when memory runs out.
    bool Reserve(size_t size) {
        if (size <= capacity) return true;
        std::unique_ptr<char[]> larger(new (std::nothrow) char[size]);
        if (!larger) return false;
        if (length) std::memcpy(larger.get(), bytes.get(), length);
        bytes = std::move(larger);
        capacity = size;
        return true;
    }
};

enum class FileRead { kRead, kFailed, kNoMemory };

// Reads the file to its end into text, straight into one buffer of the length
// that ftell reports (growing it for a file longer than reported). kFailed
// when reading fails, as it does for a directory, whatever length ftell claimed.
FileRead ReadWholeFile(FILE* file, FileText* text) {
    constexpr size_t kFirstRoom = 32768;
    // One byte more than reported, so that a file of just that length ends
    // with a short read instead of a growth.
    if (!text->Reserve(std::max(ReportedLength(file) + 1, kFirstRoom) + 1))
        return FileRead::kNoMemory;
    for (;;) {
        const size_t room = text->capacity - 1 - text->length;
        const size_t got = std::fread(text->bytes.get() + text->length, 1, room, file);
        if (std::ferror(file)) return FileRead::kFailed;
        text->length += got;
        if (got < room) break;
        if (!text->Reserve(2 * text->capacity)) return FileRead::kNoMemory;
    }
    text->bytes[text->length] = 0;
    return FileRead::kRead;
}

}  // namespace

bool VelkDocument::LoadFile(const char* fileName) {
    Clear();
    location.Clear();
    // A name that cannot be kept is memory running out, not a file missing.
    if (!VelkAccess::Value(*this).Assign(fileName, std::strlen(fileName))) {
        SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
        return false;
    }
    FILE* file = std::fopen(Value(), "rb");
    if (!file) {
        SetError(VELK_ERROR_OPEN_FILE, nullptr, nullptr);
        return false;
    }
    FileText text;
    const FileRead read = ReadWholeFile(file, &text);
    std::fclose(file);
    if (read != FileRead::kRead) {
        SetError(read == FileRead::kNoMemory ? VELK_ERROR_ALLOCATION : VELK_ERROR_OPEN_FILE,
                 nullptr, nullptr);
        return false;
    }
    if (strict) {
        ParseStrict(this, text.bytes.get(), text.bytes.get() + text.length, nullptr);
        return !Error();
    }
    // The whole file is read: a NUL byte in it is an error at its position.
    ParseBytes(text.bytes.get(), text.length, true, nullptr);
    return !Error();
}

bool VelkDocument::LoadFile(VelkStringRef fileName) {
    SetValue(fileName);
    return LoadFile(Value());
}

bool VelkDocument::LoadFile() {
    StringToBuffer name(SValue());
    return name.buffer && LoadFile(name.buffer);
}

bool VelkDocument::SaveFile(const char* fileName) const {
    const VelkBase* fault = nullptr;
    if (const int code = CheckWritable(&fault)) {
        const_cast<VelkDocument*>(this)->SetError(code, nullptr, nullptr);
        errorCursor = fault ? fault->Location() : VelkCursor();
        return false;
    }
    FILE* file = std::fopen(fileName, "w");
    if (!file) return false;
    Print(file, 0);
    std::fclose(file);
    return true;
}

bool VelkDocument::SaveFile(VelkStringRef fileName) const {
    return SaveFile(std::string(fileName.data(), fileName.size()).c_str());
}

bool VelkDocument::SaveFile() const {
    StringToBuffer name(SValue());
    return name.buffer && SaveFile(name.buffer);
}

}  // namespace TAVARO

#include "fidelity.h"

#include <algorithm>
#include <cstring>

#include "encoding.h"
#include "tree.h"

using TAVARO::VelkAttribute;
using TAVARO::VelkBase;
using TAVARO::VelkDeclaration;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;
using TAVARO::VelkText;

namespace velktool {

namespace {

constexpr size_t npos = std::string::npos;

bool At(const std::string& text, size_t p, const char* s) {
    return text.compare(p, std::strlen(s), s) == 0;
}

// The position after the first close at or after p, or the end of text.
size_t After(const std::string& text, size_t p, const char* close) {
    const size_t found = text.find(close, p);
    return found == npos ? text.size() : found + std::strlen(close);
}

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The length of the reference at p that the library reads as XML readers
// do: one of the five predefined entities or a character reference to a
// character XML allows; 0 when there is none.
size_t ReferenceLength(const std::string& text, size_t p) {
    for (const VelkBase::Entity& entity : VelkBase::entity) {
        if (At(text, p, entity.str)) return entity.strLength;
    }
    if (!At(text, p, "&#")) return 0;
    size_t q = p + 2;
    const bool hex = q < text.size() && text[q] == 'x';
    if (hex) ++q;
    const size_t digits = q;
    unsigned long c = 0;
    for (int digit; q < text.size() && (digit = DigitValue(text[q], hex)) >= 0; ++q) {
        c = c * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (c > 0x10FFFF) return 0;
    }
    if (q == digits || q == text.size() || text[q] != ';' || !IsXmlCharacter(c)) return 0;
    return q + 1 - p;
}

// The reference at p as written, for messages: up to its ';', or '&' alone.
std::string ReferenceAt(const std::string& text, size_t p) {
    const size_t end = text.find_first_of(";&<> \t\r\n\"'", p + 1);
    if (end != npos && text[end] == ';' && end - p <= 32) return text.substr(p, end + 1 - p);
    return "&";
}

bool IsNameByte(char c, bool first) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool letter = (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
    if (letter || b == '_' || b == ':' || b >= 0x80) return true;
    return !first && ((b >= '0' && b <= '9') || b == '-' || b == '.');
}

// Whether reference is "&" name ";", an entity that a DOCTYPE may declare.
bool IsEntityReference(const std::string& reference) {
    if (reference.size() < 3 || reference.back() != ';') return false;
    for (size_t i = 1; i + 1 < reference.size(); ++i) {
        if (!IsNameByte(reference[i], i == 1)) return false;
    }
    return true;
}

class ReferenceScanner {
public:
    ReferenceScanner(const std::string& text, bool entities, UnreadReference* found)
        : text(text), entities(entities), found(found) {}

    bool Scan() {
        size_t p = 0;
        while ((p = text.find_first_of("<&", p)) != npos) {
            if (text[p] == '&') {
                if (Unread(p)) return true;
                ++p;
            } else if (At(text, p, "<!--")) {
                p = After(text, p + 4, "-->");
            } else if (At(text, p, "<![CDATA[")) {
                p = After(text, p + 9, "]]>");
            } else if (At(text, p, "<?")) {
                p = After(text, p + 2, "?>");
            } else if (At(text, p, "<!")) {
                p = AfterDeclaration(p);
            } else if (ScanTag(&p)) {
                return true;
            }
        }
        return false;
    }

private:
    // Whether the '&' at p starts no reference that the library reads (and,
    // unless entities are sought, no entity reference); if so, records it.
    bool Unread(size_t p) {
        if (ReferenceLength(text, p) != 0) return false;
        std::string reference = ReferenceAt(text, p);
        const bool entity = IsEntityReference(reference);
        if (entity && !entities) return false;
        found->at = p;
        found->reference = std::move(reference);
        found->entity = entity;
        return true;
    }

    // Checks the references in the quoted attribute values of the tag at *p,
    // where a '<' or '>' is no markup; moves *p past the tag.
    bool ScanTag(size_t* p) {
        size_t q = *p + 1;
        while (q < text.size() && text[q] != '>') {
            if (text[q] != '"' && text[q] != '\'') {
                ++q;
                continue;
            }
            const size_t close = std::min(text.find(text[q], q + 1), text.size());
            for (size_t amp = text.find('&', q); amp < close; amp = text.find('&', amp + 1)) {
                if (Unread(amp)) return true;
            }
            q = close + 1;
        }
        *p = q;
        return false;
    }

    // The position after the "<!" declaration (a DOCTYPE) at p: after its '>'
    // outside quoted strings, comments, processing instructions and the
    // brackets of an internal subset.
    size_t AfterDeclaration(size_t p) const {
        int depth = 0;
        for (p += 2; p < text.size(); ++p) {
            const char c = text[p];
            if (At(text, p, "<!--")) {
                p = After(text, p + 4, "-->") - 1;
            } else if (At(text, p, "<?")) {
                p = After(text, p + 2, "?>") - 1;
            } else if (c == '"' || c == '\'') {
                p = std::min(text.find(c, p + 1), text.size());
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                --depth;
            } else if (c == '>' && depth <= 0) {
                return p + 1;
            }
        }
        return text.size();
    }

    const std::string& text;
    const bool entities;
    UnreadReference* const found;
};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Text with each run of white space turned into one space, and none at either end.
std::string Collapse(const std::string& text) {
    std::string collapsed;
    bool space = false;
    for (const char c : text) {
        if (IsXmlSpace(c)) {
            space = !collapsed.empty();
            continue;
        }
        if (space) collapsed += ' ';
        collapsed += c;
        space = false;
    }
    return collapsed;
}

class ViewBuilder {
public:
    explicit ViewBuilder(bool exactText) : exactText(exactText) {}

    bool Enter(const VelkNode& node) {
        if (const VelkText* text = node.ToText()) {
            if (!inRun) runWhere = node.Location();
            inRun = true;
            run += text->Value();
            return false;
        }
        EndRun();
        if (const VelkElement* element = node.ToElement()) {
            Add("element <" + element->SValue() + '>', node);
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                Add(std::string("attribute ") + a->Name() + "=\"" + a->Value() + '"', node);
            holdsText.push_back(HoldsText(node));
            return true;
        }
        if (node.Type() == VelkNode::DECLARATION) {
            const auto& declaration = static_cast<const VelkDeclaration&>(node);
            Add(std::string("declaration version=\"") + declaration.Version() + "\" encoding=\"" +
                    declaration.Encoding() + "\" standalone=\"" + declaration.Standalone() + '"',
                node);
        } else if (node.Type() == VelkNode::COMMENT) {
            Add("comment \"" + node.SValue() + '"', node);
        } else {
            Add("markup <" + node.SValue() + '>', node);
        }
        return false;
    }

    void Leave(const VelkNode& node) {
        if (!node.ToElement()) return;
        EndRun();
        holdsText.pop_back();
        Add("end of <" + node.SValue() + '>', node);
        if (node.Parent() && node.Parent()->ToDocument() && firstElementEnd == 0)
            firstElementEnd = items.size();
    }

    std::vector<ViewItem> Finish(bool firstElementOnly) {
        EndRun();
        if (firstElementOnly && firstElementEnd != 0) items.resize(firstElementEnd);
        return std::move(items);
    }

private:
    void Add(std::string what, const VelkNode& node) {
        items.push_back(ViewItem{std::move(what), node.Location()});
    }

    // Ends the run of text that the walk is in, if any.
    void EndRun() {
        if (!inRun) return;
        inRun = false;
        std::string text = exactText ? std::move(run) : Collapse(run);
        run.clear();
        const bool seen = exactText ? holdsText.back() : !text.empty();
        if (seen) items.push_back(ViewItem{"text \"" + text + '"', runWhere});
    }

    const bool exactText;
    std::vector<ViewItem> items;
    size_t firstElementEnd = 0;
    // Whether each element the walk is in holds text; the document holds none.
    std::vector<bool> holdsText{false};
    bool inRun = false;
    std::string run;
    TAVARO::VelkCursor runWhere;
};

}  // namespace

bool FindUnreadReference(const std::string& text, bool entities, UnreadReference* found) {
    return ReferenceScanner(text, entities, found).Scan();
}

std::vector<ViewItem> ReaderView(const VelkDocument& doc, bool exactText, bool firstElementOnly) {
    ViewBuilder builder(exactText);
    Walk(
        doc, [&builder](const VelkNode& node) { return builder.Enter(node); },
        [&builder](const VelkNode& node) { builder.Leave(node); });
    return builder.Finish(firstElementOnly);
}

size_t FirstDifference(const std::vector<ViewItem>& a, const std::vector<ViewItem>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i].what == b[i].what) ++i;
    return i == a.size() && i == b.size() ? npos : i;
}

}  // namespace velktool

#include "fidelity.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

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
    const size_t length = std::strlen(s);
    return p <= text.size() && text.size() - p >= length && std::memcmp(&text[p], s, length) == 0;
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
    const char second = p + 1 < text.size() ? text[p + 1] : '\0';
    if (second != '#') {
        for (const VelkBase::Entity& entity : VelkBase::entity) {
            if (entity.str[1] == second && At(text, p, entity.str)) return entity.strLength;
        }
        return 0;
    }
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

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether reference is "&" name ";", an entity that a DOCTYPE may declare.
bool IsEntityReference(const std::string& reference) {
    if (reference.size() < 3 || reference.back() != ';') return false;
    for (size_t i = 1; i + 1 < reference.size(); ++i) {
        if (!IsNameByte(reference[i], i == 1)) return false;
    }
    return true;
}

// The general entities that the internal subset of a DOCTYPE declares: for
// each name, whether it has replacement text (internal) rather than a SYSTEM
// or PUBLIC identifier (external). The first declaration of a name binds.
class DeclaredEntities {
public:
    void Declare(std::string name, bool internal) { entities.emplace(std::move(name), internal); }

    // Whether name is declared, and if so whether internal.
    bool Find(const std::string& name, bool* internal) const {
        const auto found = entities.find(name);
        if (found == entities.end()) return false;
        *internal = found->second;
        return true;
    }

private:
    std::unordered_map<std::string, bool> entities;
};

class ReferenceScanner {
public:
    ReferenceScanner(const std::string& text, bool entities, bool declaredExpanded,
                     UnreadReference* found)
        : text(text), entities(entities), declaredExpanded(declaredExpanded), found(found) {}

    bool Scan() {
        size_t p = 0;
        while ((p = NextMarkupOrReference(p)) != npos) {
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
    // The next '<' or '&' at or after p, or npos.
    size_t NextMarkupOrReference(size_t p) const {
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const char* lt = static_cast<const char*>(std::memchr(begin + p, '<', text.size() - p));
        const char* stop = lt ? lt : end;
        const void* amp = std::memchr(begin + p, '&', static_cast<size_t>(stop - (begin + p)));
        if (amp) return static_cast<size_t>(static_cast<const char*>(amp) - begin);
        return lt ? static_cast<size_t>(lt - begin) : npos;
    }

    // Whether the '&' at p starts a reference that the library does not read
    // as XML readers do (see FindUnreadReference); if so, records it.
    bool Unread(size_t p) {
        if (ReferenceLength(text, p) != 0) return false;
        std::string reference = ReferenceAt(text, p);
        UnreadReference::Kind kind = UnreadReference::kNotAllowed;
        if (IsEntityReference(reference)) {
            bool internal = false;
            const bool declared =
                declared_.Find(reference.substr(1, reference.size() - 2), &internal);
            if (!entities || (declared && internal && declaredExpanded)) return false;
            kind = !declared  ? UnreadReference::kUndeclared
                   : internal ? UnreadReference::kUnexpanded
                              : UnreadReference::kExternal;
        }
        found->at = p;
        found->reference = std::move(reference);
        found->kind = kind;
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

    // Records the general entity that the declaration "<!ENTITY" at p declares.
    void DeclareEntity(size_t p) {
        p = SkipSpace(p + 8);
        if (p >= text.size() || text[p] == '%') return;  // a parameter entity
        const size_t name = p;
        while (p < text.size() && IsNameByte(text[p], p == name)) ++p;
        if (p == name) return;
        const size_t value = SkipSpace(p);
        const bool internal = value < text.size() && (text[value] == '"' || text[value] == '\'');
        declared_.Declare(text.substr(name, p - name), internal);
    }

    size_t SkipSpace(size_t p) const {
        while (p < text.size() && IsXmlSpace(text[p])) ++p;
        return p;
    }

    // The position after the "<!" declaration (a DOCTYPE) at p: after its '>'
    // outside quoted strings, comments, processing instructions and the
    // brackets of an internal subset. Records the entities the subset declares.
    size_t AfterDeclaration(size_t p) {
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
            } else if (depth > 0 && At(text, p, "<!ENTITY")) {
                DeclareEntity(p);
            }
        }
        return text.size();
    }

    const std::string& text;
    const bool entities;
    const bool declaredExpanded;
    UnreadReference* const found;
    DeclaredEntities declared_;
};

// A piece of a view item: a literal, a C string of the tree or a string.
struct Piece {
    Piece(const char* s) : data(s), size(std::strlen(s)) {}          // NOLINT: implicit by design
    Piece(const std::string& s) : data(s.data()), size(s.size()) {}  // NOLINT
    const char* data;
    size_t size;
};

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

// Where the view goes: a list of items, or a digest of them.
class ViewList {
public:
    // Adds the item made of pieces, in order.
    void Add(std::initializer_list<Piece> pieces, const TAVARO::VelkCursor& where) {
        std::string what;
        for (const Piece& piece : pieces) what.append(piece.data, piece.size);
        items.push_back(ViewItem{std::move(what), where});
    }
    std::vector<ViewItem> Take() { return std::move(items); }

private:
    std::vector<ViewItem> items;
};

// Two independent 64-bit multiplicative hashes over the pieces of the items,
// each piece led by its length and each item closed by a mark.
class ViewHasher {
public:
    void Add(std::initializer_list<Piece> pieces, const TAVARO::VelkCursor&) {
        for (const Piece& piece : pieces) Bytes(piece.data, piece.size);
        Word(~uint64_t{0});
    }
    ViewDigest Digest() const { return ViewDigest{a, b}; }

private:
    void Bytes(const char* p, size_t n) {
        Word(n);
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            Word(w);
        }
        uint64_t w = 0;
        std::memcpy(&w, p, n);
        Word(w);
    }
    void Word(uint64_t w) {
        a = (a ^ w) * 0x9E3779B97F4A7C15u;
        a ^= a >> 29;
        b = (b + w) * 0xC2B2AE3D27D4EB4Fu;
        b = (b << 31) | (b >> 33);
    }

    uint64_t a = 0x243F6A8885A308D3u, b = 0x13198A2E03707344u;
};

template <class Sink>
class ViewBuilder {
public:
    ViewBuilder(bool exactText, bool firstElementOnly, Sink* sink)
        : exactText(exactText), firstElementOnly(firstElementOnly), sink(*sink) {}

    bool Enter(const VelkNode& node) {
        if (done) return false;
        if (const VelkText* text = node.ToText()) {
            if (!inRun) runWhere = node.Location();
            inRun = true;
            run += text->Value();
            return false;
        }
        EndRun();
        if (const VelkElement* element = node.ToElement()) {
            sink.Add({"element <", element->Value(), ">"}, node.Location());
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                sink.Add({"attribute ", a->Name(), "=\"", a->Value(), "\""}, node.Location());
            holdsText.push_back(HoldsText(node));
            return true;
        }
        if (node.Type() == VelkNode::DECLARATION) {
            const auto& declaration = static_cast<const VelkDeclaration&>(node);
            sink.Add({"declaration version=\"", declaration.Version(), "\" encoding=\"",
                      declaration.Encoding(), "\" standalone=\"", declaration.Standalone(), "\""},
                     node.Location());
        } else if (node.Type() == VelkNode::COMMENT) {
            sink.Add({"comment \"", node.Value(), "\""}, node.Location());
        } else {
            sink.Add({"markup <", node.Value(), ">"}, node.Location());
        }
        return false;
    }

    void Leave(const VelkNode& node) {
        if (done || !node.ToElement()) return;
        EndRun();
        holdsText.pop_back();
        sink.Add({"end of <", node.Value(), ">"}, node.Location());
        done = firstElementOnly && node.Parent() && node.Parent()->ToDocument();
    }

    void Finish() { EndRun(); }

private:
    // Ends the run of text that the walk is in, if any.
    void EndRun() {
        if (!inRun) return;
        inRun = false;
        const std::string text = exactText ? run : Collapse(run);
        run.clear();
        const bool seen = exactText ? holdsText.back() : !text.empty();
        if (seen) sink.Add({"text \"", text, "\""}, runWhere);
    }

    const bool exactText;
    const bool firstElementOnly;
    Sink& sink;
    bool done = false;  // the first element has ended and only it is viewed
    // Whether each element the walk is in holds text; the document holds none.
    std::vector<bool> holdsText{false};
    bool inRun = false;
    std::string run;
    TAVARO::VelkCursor runWhere;
};

template <class Sink>
void BuildView(const VelkDocument& doc, bool exactText, bool firstElementOnly, Sink* sink) {
    ViewBuilder<Sink> builder(exactText, firstElementOnly, sink);
    Walk(
        doc, [&builder](const VelkNode& node) { return builder.Enter(node); },
        [&builder](const VelkNode& node) { builder.Leave(node); });
    builder.Finish();
}

}  // namespace

bool FindUnreadReference(const std::string& text, bool entities, bool declaredExpanded,
                         UnreadReference* found) {
    // Nearly every '&' starts a reference that the library reads, wherever it
    // stands: only an '&' that does not calls for the scan that knows where
    // references are read and which entities the DOCTYPE declares.
    const char* const begin = text.data();
    for (const char* amp = begin; (amp = static_cast<const char*>(std::memchr(
                                       amp, '&', text.size() - static_cast<size_t>(amp - begin))));
         ++amp) {
        if (ReferenceLength(text, static_cast<size_t>(amp - begin)) == 0)
            return ReferenceScanner(text, entities, declaredExpanded, found).Scan();
    }
    return false;
}

std::vector<ViewItem> ReaderView(const VelkDocument& doc, bool exactText, bool firstElementOnly) {
    ViewList list;
    BuildView(doc, exactText, firstElementOnly, &list);
    return list.Take();
}

ViewDigest DigestOfView(const VelkDocument& doc, bool exactText, bool firstElementOnly) {
    ViewHasher hasher;
    BuildView(doc, exactText, firstElementOnly, &hasher);
    return hasher.Digest();
}

size_t FirstDifference(const std::vector<ViewItem>& a, const std::vector<ViewItem>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i].what == b[i].what) ++i;
    return i == a.size() && i == b.size() ? npos : i;
}

}  // namespace velktool

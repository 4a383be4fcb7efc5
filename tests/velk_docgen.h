// A seeded generator of documents inside the grammar the parser accepts, and a
// shrinker that reduces a failing document to a small one that still fails.
// In well-formed mode the documents are also well-formed XML (unique
// attributes, matching end tags, ASCII names, quoted values, valid
// characters), so that another XML parser can give a second opinion.
#ifndef VELK_TESTS_VELK_DOCGEN_H
#define VELK_TESTS_VELK_DOCGEN_H

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace velkgen {

// One piece of source text; the shrinker drops pieces one at a time.
using Pieces = std::vector<std::string>;

struct GenAttribute {
    std::string name;
    std::string before;  // white space before the name
    std::string equals;  // "=" with optional white space around it
    char quote;          // '\'', '"' or 0 for an unquoted value
    Pieces value;
};

struct GenNode {
    enum Kind { kElement, kText, kComment, kMarkup, kSpace };
    explicit GenNode(Kind k) : kind(k) {}

    Kind kind;
    std::string name;     // element name
    std::string endName;  // the name written in the end tag
    std::string tagEnd;   // white space before "/>" or ">"
    bool empty = false;   // written as an empty-element tag
    std::vector<GenAttribute> attributes;
    std::vector<GenNode> children;
    Pieces text;  // text, comment body, or the whole markup / white space
};

struct GenDocument {
    std::vector<GenNode> top;
};

inline void Append(const Pieces& pieces, std::string* out) {
    for (const std::string& p : pieces) *out += p;
}

inline void Write(const GenNode& node, std::string* out) {
    switch (node.kind) {
        case GenNode::kText:
        case GenNode::kMarkup:
        case GenNode::kSpace:
            Append(node.text, out);
            break;
        case GenNode::kComment:
            *out += "<!--";
            Append(node.text, out);
            *out += "-->";
            break;
        case GenNode::kElement:
            *out += "<" + node.name;
            char previousQuote = 0;
            for (const GenAttribute& a : node.attributes) {
                // No white space is needed only after a quoted value.
                *out += a.before.empty() && !previousQuote ? " " : a.before;
                *out += a.name + a.equals;
                previousQuote = a.quote;
                if (a.quote) *out += a.quote;
                Append(a.value, out);
                if (a.quote) *out += a.quote;
            }
            *out += node.tagEnd;
            if (node.empty) {
                *out += "/>";
                break;
            }
            *out += ">";
            for (const GenNode& c : node.children) Write(c, out);
            *out += "</" + node.endName + ">";
            break;
    }
}

inline std::string Write(const GenDocument& doc) {
    std::string out;
    for (const GenNode& n : doc.top) Write(n, &out);
    return out;
}

class Generator {
public:
    Generator(uint32_t seed, bool wellFormed) : rng_(seed), wellFormed_(wellFormed) {}

    GenDocument Document() {
        GenDocument doc;
        // A well-formed document allows nothing before its declaration.
        const bool declaration = Chance(40);
        if (Chance(50) && !(wellFormed_ && declaration)) doc.top.push_back(Space());
        if (declaration) doc.top.push_back(Markup(Declaration()));
        if (Chance(30)) doc.top.push_back(Space());
        for (int i = Below(3); i > 0; --i) {
            doc.top.push_back(Chance(60)
                                  ? Comment()
                                  : Markup(wellFormed_ ? ProcessingInstruction() : TopMarkup()));
            if (Chance(50)) doc.top.push_back(Space());
        }
        doc.top.push_back(Element(0));
        for (int i = Below(3); i > 0; --i) {
            if (Chance(50)) doc.top.push_back(Space());
            doc.top.push_back(Chance(60)
                                  ? Comment()
                                  : Markup(wellFormed_ ? ProcessingInstruction() : TopMarkup()));
        }
        if (Chance(50)) doc.top.push_back(Space());
        return doc;
    }

private:
    int Below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <size_t N>
    const char* Pick(const char* const (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }

    std::string WhiteSpace(bool allowEmpty) {
        static const char* const runs[] = {" ", "  ", "\n", "\t", "\r\n", " \n\t ", "\n\r", "\r"};
        std::string s;
        if (!allowEmpty || Chance(60)) s = Pick(runs);
        return s;
    }

    GenNode Space() {
        GenNode n(GenNode::kSpace);
        n.text.push_back(WhiteSpace(false));
        return n;
    }

    GenNode Markup(const std::string& text) {
        GenNode n(GenNode::kMarkup);
        n.text.push_back(text);
        return n;
    }

    std::string Declaration() {
        if (wellFormed_) return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
        static const char* const decls[] = {
            "<?xml version='1.0'?>",
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes' ?>",
            "<?xml standalone='no' version='1.1'?>",
            "<?xml foo='bar' version=1.0?>",
            "<?xml encoding='a&amp;b\xE9'?>",
            "<?xml-stylesheet href='a.css'?>"};
        return Pick(decls);
    }

    std::string ProcessingInstruction() {
        static const char* const pis[] = {"<?pi data?>", "<?target?>", "<?go a b c?>"};
        return Pick(pis);
    }

    std::string TopMarkup() {
        static const char* const markup[] = {"<!DOCTYPE note SYSTEM 'n.dtd'>",
                                             "<?pi data?>",
                                             "<!x>",
                                             "<![CDATA[text]]>",
                                             "<?XML v?>",
                                             "<>"};
        return Pick(markup);
    }

    std::string InnerMarkup() {
        if (wellFormed_) return ProcessingInstruction();
        static const char* const markup[] = {
            "<?pi data?>", "<!x y>", "<![CDATA[abc]]>", "<?xml version='2'?>", "< a>",
            "<1>",         "<!->"};
        return Pick(markup);
    }

    std::string Name() {
        static const char first[] = "abcxyzABCXYZ_";
        static const char rest[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
        std::string s(1, first[Below(sizeof first - 1)]);
        for (int i = Below(6); i > 0; --i) s += rest[Below(sizeof rest - 1)];
        if (!wellFormed_ && Chance(10)) s += ":n";
        if (wellFormed_ && (s[0] == 'x' || s[0] == 'X')) s[0] = 'y';  // "xml..." names are reserved
        return s;
    }

    // A character reference, a named entity, or one raw character from the
    // given alphabet; bytes 0x80..0xFF are raw characters too.
    std::string Character(const std::string& alphabet, bool allowWhiteSpaceReference) {
        static const char* const entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
        int roll = Below(100);
        if (roll < 8) return Pick(entities);
        if (roll < 14) {
            static const char* const refs[] = {"&#x41;", "&#x7a;", "&#xE9;", "&#xff;",
                                               "&#x3C;", "&#x26;", "&#x9;",  "&#xA;",
                                               "&#x20;", "&#xD;",  "&#x3e;"};
            std::string r = Pick(refs);
            bool space = r == "&#x9;" || r == "&#xA;" || r == "&#x20;" || r == "&#xD;";
            if (space && !allowWhiteSpaceReference) r = "&#x42;";
            return r;
        }
        if (roll < 20) return std::string(1, static_cast<char>(0x80 + Below(128)));
        return std::string(1, alphabet[Below(static_cast<int>(alphabet.size()))]);
    }

    Pieces TextPieces(int maximum) {
        std::string alphabet = "abcdefgh xyz XYZ 0123 .,;:!?()=/'\">-";
        if (!wellFormed_)
            alphabet += "\t\n\r]";
        else
            alphabet += "\t\n";
        Pieces p;
        p.push_back(std::string(1, "abcdefg"[Below(7)]));
        for (int i = Below(maximum); i > 0; --i) p.push_back(Character(alphabet, !wellFormed_));
        return p;
    }

    GenNode Text() {
        GenNode n(GenNode::kText);
        n.text = TextPieces(12);
        return n;
    }

    GenNode Comment() {
        GenNode n(GenNode::kComment);
        std::string alphabet = wellFormed_ ? "abc xyz 123 <>/'\"\t\n" : "abc xyz -- <>/'\"\t\n-";
        for (int i = Below(10); i > 0; --i) {
            if (wellFormed_) {
                n.text.push_back(
                    std::string(1, alphabet[Below(static_cast<int>(alphabet.size()))]));
            } else {
                n.text.push_back(Character(alphabet, true));
            }
        }
        // Keep the body from closing early and from ending in '-'.
        std::string body;
        Append(n.text, &body);
        if (body.find("-->") != std::string::npos || (!body.empty() && body.back() == '-'))
            n.text.assign(1, "c");
        return n;
    }

    GenAttribute Attribute(const std::string& name) {
        GenAttribute a;
        a.name = name;
        a.before = WhiteSpace(false);
        a.equals = Chance(80) ? "=" : WhiteSpace(true) + "=" + WhiteSpace(true);
        int style = Below(wellFormed_ ? 2 : 3);
        if (style == 2) {
            a.quote = 0;
            static const char* const plain[] = {"plain",  "x&amp;y", "1.5",
                                                "&#x41;", "a'b",     "\xE9t\xE9"};
            a.value.push_back(Pick(plain));
            return a;
        }
        a.quote = style == 0 ? '\'' : '"';
        std::string alphabet = "abc XYZ 019 .:;-_=/>";
        alphabet += a.quote == '\'' ? '"' : '\'';
        if (!wellFormed_) alphabet += "\t\n\r";
        for (int i = Below(8); i > 0; --i) a.value.push_back(Character(alphabet, true));
        return a;
    }

    GenNode Element(int depth) {
        GenNode n(GenNode::kElement);
        n.name = Name();
        n.endName = n.name;
        if (!wellFormed_ && Chance(10)) {
            for (char& c : n.endName)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        std::vector<std::string> used;
        for (int i = Below(5); i > 0; --i) {
            std::string name = Name();
            bool repeated = false;
            for (const std::string& u : used) repeated = repeated || u == name;
            if (repeated) continue;
            used.push_back(name);
            n.attributes.push_back(Attribute(name));
            // Written without white space where a quoted value comes before.
            if (!wellFormed_ && Chance(20)) n.attributes.back().before.clear();
        }
        n.tagEnd = WhiteSpace(true);
        if (depth >= 6 || Chance(20)) {
            n.empty = true;
            return n;
        }
        bool lastWasText = false;
        for (int i = Below(6); i > 0; --i) {
            int roll = Below(100);
            if (roll < 30 && !lastWasText) {
                n.children.push_back(Text());
                lastWasText = true;
                continue;
            }
            lastWasText = false;
            if (roll < 65)
                n.children.push_back(Element(depth + 1));
            else if (roll < 75)
                n.children.push_back(Comment());
            else if (roll < 85)
                n.children.push_back(Markup(InnerMarkup()));
            else
                n.children.push_back(Space());
        }
        return n;
    }

    std::mt19937 rng_;
    bool wellFormed_;
};

// Removes the n-th removable part (a node, an attribute or a piece of text) in
// document order; false when there are fewer than n + 1 parts.
inline bool RemovePart(std::vector<GenNode>* nodes, int* n);

inline bool RemovePart(GenNode* node, int* n) {
    for (size_t i = 0; i < node->attributes.size(); ++i) {
        if ((*n)-- == 0) {
            node->attributes.erase(node->attributes.begin() + static_cast<long>(i));
            return true;
        }
        Pieces& value = node->attributes[i].value;
        for (size_t j = 0; j < value.size(); ++j) {
            if ((*n)-- == 0) {
                value.erase(value.begin() + static_cast<long>(j));
                return true;
            }
        }
    }
    if (node->kind == GenNode::kText || node->kind == GenNode::kComment) {
        for (size_t j = 0; j < node->text.size(); ++j) {
            if ((*n)-- == 0) {
                node->text.erase(node->text.begin() + static_cast<long>(j));
                return true;
            }
        }
    }
    return RemovePart(&node->children, n);
}

inline bool RemovePart(std::vector<GenNode>* nodes, int* n) {
    for (size_t i = 0; i < nodes->size(); ++i) {
        if ((*n)-- == 0) {
            nodes->erase(nodes->begin() + static_cast<long>(i));
            return true;
        }
        if (RemovePart(&(*nodes)[i], n)) return true;
    }
    return false;
}

// Drops parts of doc one at a time for as long as fails() stays true of the
// written text; returns the smallest failing text found.
inline std::string Shrink(GenDocument doc, const std::function<bool(const std::string&)>& fails) {
    bool progress = true;
    while (progress) {
        progress = false;
        for (int part = 0;; ++part) {
            GenDocument trial = doc;
            int n = part;
            if (!RemovePart(&trial.top, &n)) break;
            if (fails(Write(trial))) {
                doc = trial;
                progress = true;
                --part;
            }
        }
    }
    return Write(doc);
}

}  // namespace velkgen

#endif  // VELK_TESTS_VELK_DOCGEN_H

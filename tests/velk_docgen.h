// A seeded generator of documents inside the grammar the parser accepts, and a
// shrinker that reduces a failing document to a small one that still fails.
// In well-formed mode the documents are also well-formed XML (unique
// attributes, matching end tags, ASCII names, quoted values, valid
// characters), so that another XML parser can give a second opinion.
#ifndef VELK_TESTS_VELK_DOCGEN_H
#define VELK_TESTS_VELK_DOCGEN_H

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace velkgen {

// A part the shrinker may drop: the pieces from begin to end except those from
// keep to keepEnd (an element's content, when only its tags are dropped).
struct Part {
    size_t begin, end, keep, keepEnd;
};

// A document's text as pieces, and its parts: nodes, attributes, characters.
struct Document {
    std::vector<std::string> pieces;
    std::vector<Part> parts;
};

inline std::string Text(const std::vector<std::string>& pieces) {
    std::string out;
    for (const std::string& p : pieces) out += p;
    return out;
}

// Drops parts one at a time for as long as fails() stays true of the text;
// returns the smallest failing text found.
inline std::string Shrink(const Document& doc,
                          const std::function<bool(const std::string&)>& fails) {
    std::vector<std::string> pieces = doc.pieces;
    for (bool progress = true; progress;) {
        progress = false;
        for (const Part& part : doc.parts) {
            std::vector<std::string> trial = pieces;
            for (size_t i = part.begin; i < part.end; ++i)
                if (i < part.keep || i >= part.keepEnd) trial[i].clear();
            if (trial != pieces && fails(Text(trial))) {
                pieces = trial;
                progress = true;
            }
        }
    }
    return Text(pieces);
}

class Generator {
public:
    Generator(uint32_t seed, bool wellFormed) : rng_(seed), wellFormed_(wellFormed) {}

    Document Make() {
        // A well-formed document allows nothing before its declaration.
        const bool declaration = Chance(40);
        if (Chance(50) && !(wellFormed_ && declaration)) Space();
        if (declaration)
            Part(wellFormed_ ? "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                             : Pick("<?xml version='1.0'?>|<?xml standalone='no' version='1.1'?>|"
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes' ?>|"
                                    "<?xml foo='bar' version=1.0?>|<?xml encoding='a&amp;b\xE9'?>|"
                                    "<?xml-stylesheet href='a.css'?>"));
        Misc();
        Element(0);
        Misc();
        return doc_;
    }

private:
    int Below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    char PickChar(const std::string& alphabet) {
        return alphabet[static_cast<size_t>(Below(static_cast<int>(alphabet.size())))];
    }
    // One of the choices, which are separated by '|'.
    std::string Pick(const std::string& choices) {
        std::vector<std::string> items(1);
        for (char c : choices) {
            if (c == '|')
                items.emplace_back();
            else
                items.back() += c;
        }
        return items[static_cast<size_t>(Below(static_cast<int>(items.size())))];
    }

    size_t Begin() const { return doc_.pieces.size(); }
    void End(size_t begin) { doc_.parts.push_back({begin, Begin(), 0, 0}); }
    void Add(const std::string& piece) { doc_.pieces.push_back(piece); }
    void Part(const std::string& piece) {
        Add(piece);
        End(Begin() - 1);
    }

    std::string WhiteSpace(bool allowEmpty) {
        return !allowEmpty || Chance(60) ? Pick(" |  |\n|\t|\r\n| \n\t |\n\r|\r") : "";
    }
    void Space() { Part(WhiteSpace(false)); }

    // Unknown markup: processing instructions only, when well-formed.
    std::string Markup(bool top) {
        if (wellFormed_) return Pick("<?pi data?>|<?target?>|<?go a b c?>");
        if (top)
            return Pick(
                "<!DOCTYPE note SYSTEM 'n.dtd'>|<?pi data?>|<!x>|<![CDATA[text]]>|<?XML v?>|<>");
        return Pick("<?pi data?>|<!x y>|<![CDATA[abc]]>|<?xml version='2'?>|< a>|<1>|<!->");
    }

    // Comments and markup around the root element, with white space.
    void Misc() {
        for (int i = Below(3); i > 0; --i) {
            if (Chance(50)) Space();
            if (Chance(60))
                Comment();
            else
                Part(Markup(true));
        }
        if (Chance(40)) Space();
    }

    std::string Name() {
        static const char first[] = "abcxyzABCXYZ_";
        static const char rest[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
        std::string s(1, PickChar(first));
        for (int i = Below(6); i > 0; --i) s += PickChar(rest);
        if (!wellFormed_ && Chance(10)) s += ":n";
        if (wellFormed_ && (s[0] == 'x' || s[0] == 'X')) s[0] = 'y';  // "xml..." names are reserved
        return s;
    }

    // A character reference, a named entity, or one raw character from the
    // given alphabet; bytes 0x80..0xFF are raw characters too.
    std::string Character(const std::string& alphabet, bool allowWhiteSpaceReference) {
        const int roll = Below(100);
        if (roll < 8) return Pick("&amp;|&lt;|&gt;|&quot;|&apos;");
        if (roll < 14)
            return Pick(std::string("&#x41;|&#x7a;|&#xE9;|&#xff;|&#x3C;|&#x26;|&#x3e;") +
                        (allowWhiteSpaceReference ? "|&#x9;|&#xA;|&#x20;|&#xD;" : ""));
        if (roll < 20) return std::string(1, static_cast<char>(0x80 + Below(128)));
        return std::string(1, PickChar(alphabet));
    }

    void Text() {
        const size_t begin = Begin();
        const std::string alphabet =
            std::string("abcdefgh xyz XYZ 0123 .,;:!?()=/'\">-\t\n") + (wellFormed_ ? "" : "\r]");
        Part(std::string(1, PickChar("abcdefg")));
        for (int i = Below(12); i > 0; --i) Part(Character(alphabet, !wellFormed_));
        End(begin);
    }

    void Comment() {
        const std::string alphabet =
            wellFormed_ ? "abc xyz 123 <>/'\"\t\n" : "abc xyz -- <>/'\"\t\n-";
        std::vector<std::string> body;
        std::string joined;
        for (int i = Below(10); i > 0; --i) {
            body.push_back(wellFormed_ ? std::string(1, PickChar(alphabet))
                                       : Character(alphabet, true));
            joined += body.back();
        }
        // Keep the body from closing early and from ending in '-'.
        if (joined.find("-->") != std::string::npos || (!joined.empty() && joined.back() == '-'))
            body.assign(1, "c");
        const size_t begin = Begin();
        Add("<!--");
        for (const std::string& piece : body) Part(piece);
        Add("-->");
        End(begin);
    }

    // Writes one attribute; true when its value is quoted.
    bool Attribute(const std::string& name, bool afterQuotedValue) {
        const size_t begin = Begin();
        // No white space is needed after a quoted value.
        Add(!wellFormed_ && afterQuotedValue && Chance(20) ? "" : WhiteSpace(false));
        Add(name + (Chance(80) ? "=" : WhiteSpace(true) + "=" + WhiteSpace(true)));
        const int style = Below(wellFormed_ ? 2 : 3);
        if (style == 2) {
            Add(Pick("plain|x&amp;y|1.5|&#x41;|a'b|\xE9t\xE9"));
        } else {
            const std::string quote = style == 0 ? "'" : "\"";
            const std::string alphabet = std::string("abc XYZ 019 .:;-_=/>") +
                                         (style == 0 ? "\"" : "'") + (wellFormed_ ? "" : "\t\n\r");
            Add(quote);
            for (int i = Below(8); i > 0; --i) Part(Character(alphabet, true));
            Add(quote);
        }
        End(begin);
        return style != 2;
    }

    void Element(int depth) {
        const size_t begin = Begin();
        const std::string name = Name();
        std::string endName = name;
        if (!wellFormed_ && Chance(10))
            std::transform(endName.begin(), endName.end(), endName.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
        Add("<" + name);
        std::vector<std::string> used;
        bool quoted = false;
        for (int i = Below(5); i > 0; --i) {
            const std::string attribute = Name();
            if (std::find(used.begin(), used.end(), attribute) != used.end()) continue;
            used.push_back(attribute);
            quoted = Attribute(attribute, quoted);
        }
        Add(WhiteSpace(true));
        if (depth >= 6 || Chance(20)) {
            Add("/>");
            End(begin);
            return;
        }
        Add(">");
        const size_t content = Begin();
        bool lastWasText = false;
        for (int i = Below(6); i > 0; --i) {
            const int roll = Below(100);
            const bool text = roll < 30 && !lastWasText;
            if (text)
                Text();
            else if (roll < 65)
                Element(depth + 1);
            else if (roll < 75)
                Comment();
            else if (roll < 85)
                Part(Markup(false));
            else
                Space();
            lastWasText = text;
        }
        doc_.parts.push_back({begin, Begin() + 1, content, Begin()});
        Add("</" + endName + ">");
        End(begin);
    }

    std::mt19937 rng_;
    bool wellFormed_;
    Document doc_;
};

}  // namespace velkgen

#endif  // VELK_TESTS_VELK_DOCGEN_H

// Second opinion on generated documents: seeded well-formed documents in
// ISO-8859-1 (the byte model's characters) are read by this library and by
// libxml2, and both must give the same outline.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <set>
#include <string>

#include "outline.h"

using namespace velkoracle;
using velkcheck::Printable;

namespace {

// Elements up to six deep with unique attributes; text with entity and
// character references and bytes 0x80..0xFF; comments, processing
// instructions and white space around them.
class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    std::string Document() {
        // Nothing may come before a declaration.
        std::string out =
            Chance(40) ? "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" : Space(50);
        out += Misc();
        out += Element(0);
        return out + Misc();
    }

private:
    int Below(size_t n) { return static_cast<int>(rng_() % n); }
    bool Chance(int percent) { return Below(100) < percent; }
    char From(const std::string& alphabet) { return alphabet[Below(alphabet.size())]; }
    std::string Pick(std::initializer_list<const char*> choices) {
        return choices.begin()[Below(choices.size())];
    }
    std::string Space(int percent) {
        return Chance(percent) ? Pick({" ", "  ", "\n", "\t", "\r\n", " \n\t ", "\n\r", "\r"}) : "";
    }
    std::string Instruction() { return Pick({"<?pi data?>", "<?target?>", "<?go a b c?>"}); }

    std::string Comment() {
        std::string body;
        for (int i = Below(10); i > 0; --i) body += From("abc xyz 123 <>/'\"\t\n");
        return "<!--" + body + "-->";
    }

    std::string Misc() {
        std::string out;
        for (int i = Below(3); i > 0; --i) {
            out += Space(50);
            out += Chance(60) ? Comment() : Instruction();
        }
        return out + Space(40);
    }

    // Names starting with "xml" are reserved.
    std::string Name() {
        std::string name(1, From("abcyzABCYZ_"));
        for (int i = Below(6); i > 0; --i)
            name += From("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.");
        return name;
    }

    std::string Character(const std::string& alphabet, bool spaceReferences) {
        const int roll = Below(100);
        if (roll < 8) return Pick({"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"});
        if (roll < 14 && spaceReferences && Chance(30))
            return Pick({"&#x9;", "&#xA;", "&#x20;", "&#xD;"});
        if (roll < 14)
            return Pick({"&#x41;", "&#x7a;", "&#xE9;", "&#xff;", "&#x3C;", "&#x26;", "&#x3e;"});
        if (roll < 20) return std::string(1, static_cast<char>(0x80 + Below(128)));
        return std::string(1, From(alphabet));
    }

    std::string Attribute(const std::string& name) {
        const bool single = Chance(50);
        std::string out = Space(100) + name + (Chance(80) ? "=" : Space(60) + "=" + Space(60));
        out += single ? '\'' : '"';
        for (int i = Below(8); i > 0; --i)
            out += Character(std::string("abc XYZ 019 .:;-_=/>") + (single ? '"' : '\''), true);
        return out + (single ? '\'' : '"');
    }

    std::string Text() {
        std::string text(1, From("abcdefg"));
        for (int i = Below(12); i > 0; --i)
            text += Character("abcdefgh xyz XYZ 0123 .,;:!?()=/'\">-\t\n", false);
        return text;
    }

    std::string Element(int depth) {
        const std::string name = Name();
        std::string out = "<" + name;
        std::set<std::string> used;
        for (int i = Below(5); i > 0; --i) {
            const std::string attribute = Name();
            if (used.insert(attribute).second) out += Attribute(attribute);
        }
        out += Space(60);
        if (depth >= 6 || Chance(20)) return out + "/>";
        out += ">";
        bool lastWasText = false;
        for (int i = Below(6); i > 0; --i) {
            const int roll = Below(100);
            const bool text = roll < 30 && !lastWasText;
            out += text        ? Text()
                   : roll < 65 ? Element(depth + 1)
                   : roll < 75 ? Comment()
                   : roll < 85 ? Instruction()
                               : Space(100);
            lastWasText = text;
        }
        return out + "</" + name + ">";
    }

    std::mt19937 rng_;
};

// libxml2 gives UTF-8; this library's byte model gives the file's bytes.
Outline Latin1OutlineOf(const VelkDocument& doc) {
    Outline out = OutlineOf(doc);
    for (std::string& line : out) EXPECT_TRUE(ToUtf8(std::string(line), "ISO-8859-1", &line));
    return out;
}

TEST(Oracle, GeneratedDocumentsReadAsLibxml2ReadsThem) {
    for (uint32_t seed = 1; seed <= 3000; ++seed) {
        const std::string text = Generator(seed).Document();
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + Printable(text));
        XmlDoc theirs = ReadWithLibxml(text, "ISO-8859-1");
        ASSERT_TRUE(theirs) << "the generated document is not well-formed";
        VelkDocument doc;
        doc.Parse(text.c_str(), nullptr);
        ASSERT_FALSE(doc.Error()) << doc.ErrorMessage();
        ASSERT_EQ(FirstDifference(Latin1OutlineOf(doc), OutlineOf(*theirs)).detail, "");
    }
}

std::string Joined(const Outline& outline) {
    std::string out;
    for (const std::string& line : outline) out += line + "|";
    return out;
}

// The outline holds what the comparisons need, in both character models, so
// that agreement means something.
TEST(Oracle, OutlinesOfAKnownDocument) {
    const std::string utf8 =
        "<?xml version=\"1.0\"?>\n<!-- c --><r a='1 &amp; 2' xmlns:p=\"urn:p\" xmlns='urn:d'>\n"
        "  caf&#233; \n <p:e p:b=\"v\"/><?pi  data?>y<!-- c -->z<![CDATA[ a<b ]]>\n</r>";
    const std::string expected =
        "comment c|element r|attribute xmlns:p=urn:p|attribute xmlns=urn:d|attribute a=1 & 2|"
        "text caf\xC3\xA9|element p:e|attribute p:b=v|end|pi pi data|text y|comment c|text z|"
        "text a<b|end|";
    XmlDoc theirs = ReadWithLibxml(utf8, nullptr);
    ASSERT_TRUE(theirs);
    EXPECT_EQ(Joined(OutlineOf(*theirs)), expected);
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(utf8.c_str(), nullptr);
    EXPECT_EQ(Joined(OutlineOf(doc)), expected);

    VelkDocument bytes;
    bytes.Parse("<r b=\"&#xE9;\">x &lt; \xE9</r>", nullptr);
    EXPECT_EQ(Joined(Latin1OutlineOf(bytes)),
              "element r|attribute b=\xC3\xA9|text x < \xC3\xA9|end|");
}

}  // namespace

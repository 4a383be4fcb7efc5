// Second opinions from libxml2 (a test-only dependency), which must read what
// this library reads: seeded well-formed documents in ISO-8859-1 in the byte
// model, and every XML file on this machine in the UTF-8 model, whose printed
// form must also read the same.
#include <gtest/gtest.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"

using namespace TAVARO;
using velkcheck::Printable;
namespace fs = std::filesystem;

namespace {

// One line per element start ("element name"), attribute ("attribute
// name=value"; namespace declarations first, as libxml2 keeps them apart),
// non-blank text or CDATA node ("text"), comment, processing instruction
// ("pi target data") and element end ("end"). Text, comments and instructions
// are compared with white space collapsed, each node alone: this library
// condenses every text node alone. The declaration and the DOCTYPE leave no
// line.
using Outline = std::vector<std::string>;

std::string Collapsed(const std::string& text) {
    std::istringstream words(text);
    std::string word, out;
    while (words >> word) out += (out.empty() ? "" : " ") + word;
    return out;
}

void AddLine(const char* kind, const std::string& text, Outline* out) {
    const std::string collapsed = Collapsed(text);
    if (!collapsed.empty()) out->push_back(kind + collapsed);
}

std::string Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : "";
}

std::string QualifiedName(const xmlNs* ns, const xmlChar* name) {
    return (ns && ns->prefix ? Str(ns->prefix) + ":" : "") + Str(name);
}

void AddLibxml(const xmlNode* first, Outline* out) {
    for (const xmlNode* n = first; n; n = n->next) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
            AddLine("text ", Str(n->content), out);
        if (n->type == XML_COMMENT_NODE) AddLine("comment ", Str(n->content), out);
        if (n->type == XML_PI_NODE) AddLine("pi ", Str(n->name) + " " + Str(n->content), out);
        if (n->type != XML_ELEMENT_NODE) continue;
        out->push_back("element " + QualifiedName(n->ns, n->name));
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            out->push_back("attribute xmlns" + (ns->prefix ? ":" + Str(ns->prefix) : "") + "=" +
                           Str(ns->href));
        for (const xmlAttr* a = n->properties; a; a = a->next) {
            xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
            out->push_back("attribute " + QualifiedName(a->ns, a->name) + "=" + Str(value));
            xmlFree(value);
        }
        AddLibxml(n->children, out);
        out->push_back("end");
    }
}

bool IsNamespaceDeclaration(const std::string& name) {
    return name == "xmlns" || name.compare(0, 6, "xmlns:") == 0;
}

void AddVelk(const VelkNode* first, Outline* out) {
    for (const VelkNode* n = first; n; n = n->NextSibling()) {
        const std::string value = n->SValue();
        if (n->ToText()) AddLine("text ", value, out);
        if (n->Type() == VelkNode::COMMENT) AddLine("comment ", value, out);
        // Unknown markup: only an instruction ("?target data?") is a node for libxml2.
        if (n->Type() == VelkNode::UNKNOWN && value.size() > 1 && value[0] == '?')
            AddLine("pi ", value.substr(1, value.size() - 2), out);
        const VelkElement* element = n->ToElement();
        if (!element) continue;
        out->push_back("element " + value);
        for (bool declarations : {true, false})
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                if (IsNamespaceDeclaration(a->Name()) == declarations)
                    out->push_back(std::string("attribute ") + a->Name() + "=" + a->Value());
        AddVelk(n->FirstChild(), out);
        out->push_back("end");
    }
}

using XmlDoc = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// No network, no DTD loading, no entity substitution. encoding, when given,
// overrides the document's declaration.
XmlDoc ReadWithLibxml(const std::string& text, const char* encoding) {
    const int options = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR |
                        (encoding ? XML_PARSE_IGNORE_ENC : 0);
    return XmlDoc(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "file.xml", encoding, options),
        xmlFreeDoc);
}

Outline OutlineOf(const xmlDoc& doc) {
    Outline out;
    AddLibxml(doc.children, &out);
    return out;
}

Outline OutlineOf(const VelkDocument& doc) {
    Outline out;
    AddVelk(doc.FirstChild(), &out);
    return out;
}

// The text as UTF-8; false when iconv does not know the encoding or the bytes
// are invalid in it.
bool ToUtf8(const std::string& text, const char* encoding, std::string* out) {
    iconv_t cd = iconv_open("UTF-8", encoding);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->assign(4 * text.size() + 4, '\0');  // no character grows beyond four bytes
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = &(*out)[0];
    size_t toLeft = out->size();
    const bool ok = iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - toLeft);
    return ok;
}

// Where two outlines first differ: the kinds of line there ("element",
// "text"...) as the cause, both lines as the detail; empty when they agree.
struct Difference {
    std::string cause, detail;
};

Difference FirstDifference(const Outline& got, const Outline& expected) {
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
    if (i == got.size() && i == expected.size()) return {};
    const auto kind = [i](const Outline& o) {
        return i < o.size() ? o[i].substr(0, o[i].find(' ')) : "nothing";
    };
    const auto line = [i](const Outline& o) {
        return i < o.size() ? "\"" + Printable(o[i].substr(0, 100)) + "\"" : "nothing";
    };
    return {kind(got) == kind(expected) ? kind(got) + " differs"
                                        : kind(got) + " where libxml2 has " + kind(expected),
            "outline line " + std::to_string(i + 1) + ": " + line(got) + " instead of " +
                line(expected)};
}

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

    std::string Character(const std::string& alphabet) {
        const int roll = Below(100);
        if (roll < 14)
            return Pick({"&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#x41;", "&#x7a;", "&#xE9;",
                         "&#xff;", "&#x3C;", "&#x26;", "&#x3e;", "&#x9;", "&#xA;", "&#x20;",
                         "&#xD;"});
        if (roll < 20) return std::string(1, static_cast<char>(0x80 + Below(128)));
        return std::string(1, From(alphabet));
    }

    std::string Attribute(const std::string& name) {
        const bool single = Chance(50);
        std::string out = Space(100) + name + (Chance(80) ? "=" : Space(60) + "=" + Space(60));
        out += single ? '\'' : '"';
        for (int i = Below(8); i > 0; --i)
            out += Character(std::string("abc XYZ 019 .:;-_=/>") + (single ? '"' : '\''));
        return out + (single ? '\'' : '"');
    }

    std::string Text() {
        std::string text(1, From("abcdefg"));
        for (int i = Below(12); i > 0; --i)
            text += Character("abcdefgh xyz XYZ 0123 .,;:!?()=/'\">-\t\n");
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
        for (int i = Below(6); i > 0; --i) {
            const int roll = Below(100);
            out += roll < 30   ? Text()
                   : roll < 65 ? Element(depth + 1)
                   : roll < 75 ? Comment()
                   : roll < 85 ? Instruction()
                               : Space(100);
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

// Real files: every XML file on this machine (under /usr/share and /etc) that
// libxml2 accepts is read by this library in the UTF-8 model and must give the
// outline libxml2 reads; then the library's pretty output must be well-formed
// for libxml2 and read the same again. A file that declares another encoding
// is converted to UTF-8 with iconv first.
//
// A file is tried when it is a regular file (symbolic links are not followed:
// no loops, no file twice) of at most 20 MB whose first byte after an optional
// UTF-8 byte-order mark and white space is '<': the content decides, not the
// name, so .xml, .svg, .policy and the like are all found and INI files or
// scripts named .xml are not.

constexpr size_t kExamplesPerCause = 4;

// The first limit bytes of the file.
std::string ReadFile(const fs::path& path, std::uintmax_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(&text[0], static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

bool StartsWithMarkup(const fs::path& path) {
    std::string head = ReadFile(path, 512);
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) head.erase(0, 3);
    const size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string::npos && head[first] == '<';
}

// The files tried, sorted so that every run walks them in the same order.
std::vector<std::string> XmlFiles() {
    std::vector<std::string> files;
    for (const char* root : {"/usr/share", "/etc"}) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (it->symlink_status(ignored).type() != fs::file_type::regular) continue;
            const std::uintmax_t size = it->file_size(ignored);
            if (ignored || size == 0 || size > (20u << 20)) continue;
            if (StartsWithMarkup(it->path())) files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Whether the tree holds a reference to an entity other than the five
// predefined ones (declared in the DOCTYPE or in a DTD that is not loaded):
// libxml2 keeps it as a reference node and this library does not expand it.
bool UsesDeclaredEntities(const xmlNode* first) {
    for (const xmlNode* n = first; n; n = n->next) {
        if (n->type == XML_ENTITY_REF_NODE) return true;
        if (n->type != XML_ELEMENT_NODE) continue;
        for (const xmlAttr* a = n->properties; a; a = a->next)
            if (UsesDeclaredEntities(a->children)) return true;
        if (UsesDeclaredEntities(n->children)) return true;
    }
    return false;
}

// The tally of the whole run and the files behind every difference, by cause.
struct Tally {
    size_t tried = 0, accepted = 0, entities = 0, converted = 0, compared = 0, readSame = 0,
           kept = 0, illFormed = 0, linesSame = 0;
    std::map<std::string, std::vector<std::string>> causes;

    void Note(const std::string& stage, const std::string& path, const Difference& d) {
        std::vector<std::string>& files = causes[stage + ": " + d.cause];
        const bool shown = files.size() < kExamplesPerCause && !d.detail.empty();
        files.push_back(shown ? path + "\n          " + d.detail : path);
    }
};

void Check(const std::string& path, Tally* tally) {
    ++tally->tried;
    const std::string bytes = ReadFile(path, fs::file_size(path));
    XmlDoc theirs = ReadWithLibxml(bytes, nullptr);
    if (!theirs) return;
    ++tally->accepted;
    if (UsesDeclaredEntities(theirs->children)) {
        ++tally->entities;
        return tally->Note("not compared", path, {"uses entities declared in a DOCTYPE", ""});
    }
    ++tally->compared;
    std::string text = bytes;
    const std::string encoding = Str(theirs->encoding);
    if (!encoding.empty() && strcasecmp(encoding.c_str(), "UTF-8") != 0) {
        ++tally->converted;
        if (!ToUtf8(bytes, encoding.c_str(), &text))
            return tally->Note("read", path, {"iconv cannot convert from " + encoding, ""});
    }
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error())
        return tally->Note("read", path,
                           {std::string("library error \"") + doc.ErrorMessage() + "\"",
                            "at row " + std::to_string(doc.ErrorCursor().row + 1) + ", column " +
                                std::to_string(doc.ErrorCursor().col + 1)});
    const Outline expected = OutlineOf(*theirs);
    Difference d = FirstDifference(OutlineOf(doc), expected);
    if (!d.cause.empty()) return tally->Note("read", path, d);
    ++tally->readSame;
    tally->linesSame += expected.size();
    XmlDoc back = ReadWithLibxml(velkcheck::PrettyText(doc), "UTF-8");
    if (!back) ++tally->illFormed;
    d = back ? FirstDifference(OutlineOf(*back), expected) : Difference{"output ill-formed", ""};
    if (!d.cause.empty()) return tally->Note("print", path, d);
    ++tally->kept;
}

std::string Percent(size_t part, size_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
}

TEST(RealFiles, ReadAndPrintedAsLibxml2ReadsThem) {
    const std::vector<std::string> files = XmlFiles();
    if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share or /etc on this machine";
    Tally t;
    for (const std::string& path : files) Check(path, &t);
    std::cout << "Files tried: " << t.tried << "\nAccepted by libxml2: " << t.accepted
              << ", of which " << t.entities
              << " use entities declared in a DOCTYPE (not compared) and " << t.converted
              << " declare an encoding other than UTF-8 (converted with iconv)\nRead the same: "
              << t.readSame << " of " << t.compared << " (" << Percent(t.readSame, t.compared)
              << "; " << t.linesSame
              << " outline lines alike)\nRound trips keeping content: " << t.kept << " of "
              << t.compared << " (" << Percent(t.kept, t.compared)
              << "); printed output ill-formed: " << t.illFormed << "\n";
    for (const auto& [cause, paths] : t.causes) {
        std::cout << "  " << cause << " (" << paths.size() << " files)\n";
        for (size_t i = 0; i < paths.size() && i < kExamplesPerCause; ++i)
            std::cout << "      " << paths[i] << "\n";
    }
    if (t.compared == 0) GTEST_SKIP() << "no file under /usr/share or /etc is well-formed XML";
    EXPECT_GE(t.readSame, t.compared * 0.995) << "fewer than 99.5% read the same";
    EXPECT_GE(t.kept, t.compared * 0.99) << "fewer than 99% keep their content";
    EXPECT_EQ(t.illFormed, 0u) << "printed output that libxml2 rejects";
}

// Strict reading against libxml2 on the same files and on the fuzz targets'
// seed inputs: both must agree on whether each document is well-formed, and
// where both accept it they must read the same tree, every character of
// character data included (condensing off). Not compared: documents with an
// external subset or external entities, which libxml2 does not load either,
// and documents in an encoding strict reading does not read (these must be
// refused with VELK_ERROR_ENCODING). Documents with an internal subset are
// compared with libxml2 substituting entities and adding declared attributes,
// as strict reading does.

void AddExactLibxml(const xmlNode* first, Outline* out) {
    for (const xmlNode* n = first; n; n = n->next) {
        const std::string content = Str(n->content);
        if ((n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && !content.empty())
            out->push_back("text " + content);
        if (n->type == XML_COMMENT_NODE) out->push_back("comment " + content);
        if (n->type == XML_PI_NODE) out->push_back("pi " + Str(n->name) + " " + content);
        if (n->type == XML_ENTITY_REF_NODE) out->push_back("entity " + Str(n->name));
        if (n->type != XML_ELEMENT_NODE) continue;
        out->push_back("element " + QualifiedName(n->ns, n->name));
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            out->push_back("attribute xmlns" + (ns->prefix ? ":" + Str(ns->prefix) : "") + "=" +
                           Str(ns->href));
        for (const xmlAttr* a = n->properties; a; a = a->next) {
            xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
            out->push_back("attribute " + QualifiedName(a->ns, a->name) + "=" + Str(value));
            xmlFree(value);
        }
        AddExactLibxml(n->children, out);
        out->push_back("end");
    }
}

// A processing instruction kept as "?target data?": target and data apart,
// the white space after the target dropped, as libxml2 keeps them.
std::string Instruction(const std::string& value) {
    const std::string body = value.substr(1, value.size() - 2);
    const size_t space = body.find_first_of(" \t\r\n");
    if (space == std::string::npos) return body + " ";
    const size_t data = body.find_first_not_of(" \t\r\n", space);
    return body.substr(0, space) + " " + (data == std::string::npos ? "" : body.substr(data));
}

void AddExactVelk(const VelkNode* first, Outline* out) {
    for (const VelkNode* n = first; n; n = n->NextSibling()) {
        const std::string value = n->SValue();
        const VelkText* text = n->ToText();
        if (text && text->EntityReference()) out->push_back("entity " + value);
        if (text && !text->EntityReference() && !value.empty()) out->push_back("text " + value);
        if (n->Type() == VelkNode::COMMENT) out->push_back("comment " + value);
        if (n->Type() == VelkNode::UNKNOWN && value.size() > 1 && value[0] == '?')
            out->push_back("pi " + Instruction(value));
        const VelkElement* element = n->ToElement();
        if (!element) continue;
        out->push_back("element " + value);
        for (bool declarations : {true, false})
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                if (IsNamespaceDeclaration(a->Name()) == declarations)
                    out->push_back(std::string("attribute ") + a->Name() + "=" + a->Value());
        AddExactVelk(n->FirstChild(), out);
        out->push_back("end");
    }
}

// Adjacent character data is one text, however either reader splits it into
// nodes (CDATA sections, the edges of an entity's expansion).
Outline JoinedTexts(const Outline& in) {
    Outline out;
    for (const std::string& line : in) {
        const bool text = line.compare(0, 5, "text ") == 0;
        if (text && !out.empty() && out.back().compare(0, 5, "text ") == 0) {
            out.back() += line.substr(5);
        } else {
            out.push_back(line);
        }
    }
    return out;
}

// The DOCTYPE's text up to the end of its internal subset or its '>'; empty
// when there is none.
std::string DoctypeOf(const std::string& text) {
    const size_t at = text.find("<!DOCTYPE");
    if (at == std::string::npos) return "";
    size_t end = text.find("]>", at);
    if (end == std::string::npos || text.find('[', at) > text.find('>', at))
        end = text.find('>', at);
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool NamesExternalEntities(const std::string& doctype) {
    return doctype.find("SYSTEM") != std::string::npos ||
           doctype.find("PUBLIC") != std::string::npos;
}

// Whether the text starts (after a UTF-8 byte-order mark) with an XML
// declaration naming an encoding other than UTF-8 or ASCII, or with a
// UTF-16 byte-order mark.
bool InOtherEncoding(const std::string& text) {
    if (text.compare(0, 2, "\xFE\xFF") == 0 || text.compare(0, 2, "\xFF\xFE") == 0) return true;
    const size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (text.compare(start, 5, "<?xml") != 0) return false;
    const std::string declaration = text.substr(start, text.find("?>", start) - start);
    const size_t at = declaration.find("encoding");
    if (at == std::string::npos) return false;
    const size_t quote = declaration.find_first_of("'\"", at);
    if (quote == std::string::npos) return false;
    std::string name =
        declaration.substr(quote + 1, declaration.find(declaration[quote], quote + 1) - quote - 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name != "utf-8" && name != "us-ascii" && name != "ascii";
}

// libxml2 as a reader of the internal subset: entities substituted, declared
// attributes added, nothing loaded from outside.
constexpr int kStrictOptions =
    XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR | XML_PARSE_NOENT | XML_PARSE_DTDATTR;

struct StrictTally {
    size_t tried = 0, external = 0, otherEncoding = 0, bothAccept = 0, bothReject = 0, sameTree = 0,
           subsetCompared = 0, disagreements = 0;
    std::map<std::string, std::vector<std::string>> causes;

    void Note(const std::string& cause, const std::string& path, bool disagreement = true) {
        disagreements += disagreement;
        std::vector<std::string>& files = causes[cause];
        files.push_back(path);
    }
};

std::string LibxmlError() {
    const xmlError* error = xmlGetLastError();
    return error && error->message ? Collapsed(error->message) : "no message";
}

void CheckStrict(const std::string& path, const std::string& text, StrictTally* t) {
    ++t->tried;
    const std::string doctype = DoctypeOf(text);
    if (NamesExternalEntities(doctype)) {
        ++t->external;
        return;
    }
    VelkDocument doc;
    doc.SetStrict(true);
    doc.Parse(text.c_str(), nullptr);
    if (InOtherEncoding(text)) {
        ++t->otherEncoding;
        if (doc.ErrorCode() != VELK_ERROR_ENCODING)
            t->Note(std::string("other encoding not refused: ") + doc.ErrorMessage(), path);
        return;
    }
    xmlResetLastError();
    XmlDoc theirs(xmlReadMemory(text.data(), static_cast<int>(text.size()), "file.xml", nullptr,
                                kStrictOptions),
                  xmlFreeDoc);
    // A NUL ends the text that Parse reads; libxml2 reads on.
    const bool embeddedNul = text.find('\0') != std::string::npos;
    if (!theirs && (doc.Error() || embeddedNul)) {
        ++t->bothReject;
        return t->Note(std::string("both reject; strict reading: ") + doc.ErrorMessage(), path,
                       false);
    }
    if (!theirs) return t->Note("libxml2 rejects, strict reading accepts: " + LibxmlError(), path);
    if (doc.Error())
        return t->Note(
            std::string("libxml2 accepts, strict reading rejects: ") + doc.ErrorMessage(),
            path + " at row " + std::to_string(doc.ErrorCursor().row + 1) + ", column " +
                std::to_string(doc.ErrorCursor().col + 1));
    ++t->bothAccept;
    t->subsetCompared += doctype.find('[') != std::string::npos;
    Outline expected, got;
    AddExactLibxml(theirs->children, &expected);
    AddExactVelk(doc.FirstChild(), &got);
    const Difference d = FirstDifference(JoinedTexts(got), JoinedTexts(expected));
    if (d.cause.empty()) {
        ++t->sameTree;
    } else {
        t->Note("tree " + d.cause, path + "\n          " + d.detail);
    }
}

// The documents of the fuzz targets' seed corpora; the first byte of an input
// chooses a mode in all but the file-loading target.
std::vector<std::pair<std::string, std::string>> FuzzInputs() {
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const char* target : {"parse", "roundtrip", "stream", "loadfile"}) {
        const fs::path dir = fs::path(VELK_FUZZ_CORPUS) / target;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            std::string bytes = ReadFile(entry.path(), entry.file_size());
            if (std::string(target) != "loadfile" && !bytes.empty()) bytes.erase(0, 1);
            inputs.emplace_back(entry.path().string(), bytes);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

TEST(RealFiles, StrictReadingAgreesWithLibxml2) {
    velkcheck::Condensing exact(false);
    StrictTally t;
    for (const std::string& path : XmlFiles())
        CheckStrict(path, ReadFile(path, fs::file_size(path)), &t);
    const size_t files = t.tried;
    for (const auto& [path, bytes] : FuzzInputs()) CheckStrict(path, bytes, &t);
    std::cout << "Strict reading: " << files << " files and " << t.tried - files
              << " fuzz inputs tried; not compared: " << t.external
              << " with an external subset or external entities, " << t.otherEncoding
              << " in another encoding\nBoth accept: " << t.bothAccept
              << " (same tree: " << t.sameTree << "; with an internal subset: " << t.subsetCompared
              << "); both reject: " << t.bothReject << "; disagreements: " << t.disagreements
              << "\n";
    for (const auto& [cause, paths] : t.causes) {
        std::cout << "  " << cause << " (" << paths.size() << ")\n";
        for (size_t i = 0; i < paths.size() && i < kExamplesPerCause; ++i)
            std::cout << "      " << paths[i] << "\n";
    }
    EXPECT_GT(t.bothAccept, 0u);
    EXPECT_EQ(t.disagreements, 0u);
}

// What libxml2 takes and the grammar does not, as strict reading reports it:
// a version number other than "1." and digits (with a warning), no white
// space after "<!DOCTYPE" or between the items of the XML declaration, and
// encodings that strict reading does not read (an edited name may still be
// one that libxml2 knows or ignores).
bool LibxmlTakes(const std::string& text, int code) {
    const auto has = [&text](const char* s) { return text.find(s) != std::string::npos; };
    switch (code) {
        case VELK_ERROR_ENCODING:
            return true;
        case VELK_ERROR_DOCTYPE:
            return has("<!DOCTYPE") && !has("<!DOCTYPE ") && !has("<!DOCTYPE\t") &&
                   !has("<!DOCTYPE\n") && !has("<!DOCTYPE\r");
        case VELK_ERROR_XML_DECLARATION:
            return LibxmlError().find("Unsupported version") != std::string::npos ||
                   has("'encoding") || has("\"encoding") || has("'standalone") ||
                   has("\"standalone");
        default:
            return false;
    }
}

// Generated documents, made UTF-8 and then broken by a few random edits with
// bytes that matter to the grammar: strict reading and libxml2 must agree on
// each whether it is well-formed.
TEST(Oracle, StrictReadingOfEditedDocumentsAgreesWithLibxml2) {
    static const char kBytes[] = "<>&;#x-]?!/='\" \t\r\n:.0aXml\x01\x0C\xC3\xA9\xEF\xBF\xBE";
    velkcheck::Condensing exact(false);
    std::mt19937 rng(13);
    size_t rejected = 0, lenient = 0;
    // Documents with what the generator does not make, edited as often.
    static const char* const kMore[] = {
        "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n<!DOCTYPE r>\n<r a='&#60;&#x3E;'>"
        "<![CDATA[x]]]]>&#233;<?p d?><!-- c --></r>",
        "<!DOCTYPE r><r>\xC3\xA9&#x10000;<s:t xmlns:s='u'/>\xF0\x90\x80\x80\xE2\x80\x8C</r>",
        "<r>&amp;&lt;&gt;&quot;&apos;<a b=\"&apos;\" c='&quot;'/><!----></r>\r\n"};
    for (uint32_t seed = 1; seed <= 20000; ++seed) {
        std::string text;
        if (seed % 2) {
            text = kMore[seed / 2 % (sizeof kMore / sizeof kMore[0])];
        } else {
            ASSERT_TRUE(ToUtf8(Generator(seed).Document(), "ISO-8859-1", &text));
        }
        const size_t declared = text.find("ISO-8859-1");
        if (declared != std::string::npos) text.replace(declared, 10, "UTF-8");
        for (int edits = 1 + static_cast<int>(rng() % 3); edits > 0 && !text.empty(); --edits) {
            const size_t at = rng() % text.size();
            const char byte = kBytes[rng() % (sizeof kBytes - 1)];
            switch (rng() % 3) {
                case 0:
                    text.insert(at, 1, byte);
                    break;
                case 1:
                    text.erase(at, 1);
                    break;
                default:
                    text[at] = byte;
            }
        }
        // Only what is read without loading anything from outside.
        if (text.find('\0') != std::string::npos || NamesExternalEntities(DoctypeOf(text)))
            continue;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + Printable(text));
        xmlResetLastError();
        XmlDoc theirs(xmlReadMemory(text.data(), static_cast<int>(text.size()), "e.xml", nullptr,
                                    kStrictOptions),
                      xmlFreeDoc);
        VelkDocument doc;
        doc.SetStrict(true);
        doc.Parse(text.c_str(), nullptr);
        rejected += doc.Error();
        if (theirs && LibxmlTakes(text, doc.ErrorCode())) {
            ++lenient;
            continue;
        }
        EXPECT_EQ(!doc.Error(), theirs != nullptr)
            << "strict reading: " << doc.ErrorMessage() << " at " << doc.ErrorCursor().row << ":"
            << doc.ErrorCursor().col << "; libxml2: " << LibxmlError();
    }
    std::cout << "Edited documents rejected by strict reading: " << rejected << " of 20000, "
              << lenient << " of them in a form that only libxml2 takes\n";
}

// Whether a DOCTYPE holds "%name;" with no "<!ENTITY % name" in it.
bool ReferencesUndeclaredParameter(const std::string& doctype) {
    for (size_t at = doctype.find('%'); at != std::string::npos; at = doctype.find('%', at + 1)) {
        const size_t end = doctype.find_first_of(" \t\r\n'\"%;<>", at + 1);
        if (end == std::string::npos || doctype[end] != ';' || end == at + 1) continue;
        const std::string name = doctype.substr(at + 1, end - at - 1);
        if (doctype.find("<!ENTITY % " + name + " ") == std::string::npos) return true;
    }
    return false;
}

// Where libxml2 and the Recommendation part on a document, the cause; empty
// elsewhere. libxml2 refuses a reference to an undeclared parameter entity,
// which the Recommendation makes a matter of validity (a processor that does
// not read it cannot tell whether the entities used later are declared); and
// it reads a bracketed subset that follows a DOCTYPE's '>', where it is text
// outside the document element.
std::string KnownDifference(const std::string& text, bool libxmlAccepts, int code) {
    if (!libxmlAccepts && code == VELK_NO_ERROR && ReferencesUndeclaredParameter(DoctypeOf(text)))
        return "an undeclared parameter entity, which libxml2 refuses";
    const size_t doctype = text.find("<!DOCTYPE");
    const size_t close = text.find('>', doctype);
    if (libxmlAccepts && code == VELK_ERROR_TEXT_OUTSIDE_ELEMENT && doctype != std::string::npos &&
        close != std::string::npos && text.find('[', doctype) == close + 1)
        return "a subset after the DOCTYPE's '>', which libxml2 reads";
    return "";
}

// Documents with an internal subset, whole and broken by a few random edits
// with bytes that matter to the declaration grammar: strict reading and
// libxml2 (entities substituted, declared attributes added) must agree on
// each whether it is well-formed, and where both accept it, on its tree.
TEST(Oracle, StrictReadingOfInternalSubsetsAgreesWithLibxml2) {
    static const char* const kDocuments[] = {
        "<!DOCTYPE d [<!ENTITY e 'world'>]><d>hello &e;!</d>",
        "<!DOCTYPE d [<!ENTITY a 'x&b;y'><!ENTITY b 'B'>]><d a='&a;'>&a;&a;</d>",
        "<!DOCTYPE d [<!ENTITY m '<b>bold</b> text'>]><d>a &m; z</d>",
        "<!DOCTYPE d [<!ENTITY m '<!--c--><?p q?><![CDATA[<x>]]>'>]><d>&m;</d>",
        "<!DOCTYPE d [<!ENTITY m '<i>&n;</i>'><!ENTITY n '<j/>&#38;lt;'>]><d>&m;</d>",
        "<!DOCTYPE d [<!ENTITY e '&#60;b/>'><!ENTITY f '&#38;#60;'>]><d>&e;&f;</d>",
        "<!DOCTYPE d [<!ENTITY % p '<!ENTITY e \"from a parameter entity\">'> %p;]><d>&e;</d>",
        "<!DOCTYPE d [<!ELEMENT d (#PCDATA|a)*><!ELEMENT a EMPTY>"
        "<!ATTLIST d t NMTOKENS '  x   y ' c CDATA #FIXED ' c '>]><d><a/></d>",
        "<!DOCTYPE d [<!ATTLIST a t NMTOKENS #IMPLIED e (x|y) 'x'>]><d><a t=' p  q '/><a/></d>",
        "<!DOCTYPE d [<!ELEMENT d ((a,b)?,c*)><!NOTATION n PUBLIC 'p'>"
        "<!ATTLIST d n NOTATION (n) #IMPLIED>]><d/>",
        "<!DOCTYPE d [<!-- c --><?pi data?>]><d/>",
        "<!DOCTYPE d [<!ENTITY e 'a\r\nb&#9;c'>]><d x='&e;'>&e;</d>",
        "<?xml version='1.0' standalone='yes'?><!DOCTYPE d [<!ENTITY e '<a x=\"1\"/>'>]><d>&e;</d>",
        "<!DOCTYPE d [<!ATTLIST d t NMTOKENS #IMPLIED c CDATA #IMPLIED>]>"
        "<d t='&#32;a&#32;&#32;b&#9;c ' c='&#32;x&#10;y '/>",
        "<!DOCTYPE d [<!ENTITY v 'a&#38;#60;b'><!ATTLIST e k CDATA '&v;&amp;'>"
        "<!ENTITY m '<e>&v;</e><e k=\"&v;\"/>'>]><d>&m;</d>",
        "<!DOCTYPE d [<!ENTITY % a '<!ATTLIST d z CDATA \"p\">'>%a;<!ATTLIST d y ID 'q'>]><d/>",
        "<!DOCTYPE d [<!ENTITY e '\n  <a>\n  </a>\n'>]>\n<d>\n  &e;\n</d>\n",
    };
    static const char kBytes[] = "<>&;%#'\"[]!-()|,?*+ \t:aeEp/=\x01\xC3\xA9";
    velkcheck::Condensing exact(false);
    std::mt19937 rng(17);
    size_t accepted = 0, same = 0, lenient = 0;
    std::map<std::string, size_t> known;
    const size_t count = sizeof kDocuments / sizeof kDocuments[0];
    for (uint32_t round = 0; round < 20000; ++round) {
        std::string text = kDocuments[round % count];
        for (int edits = round < count ? 0 : 1 + static_cast<int>(rng() % 2); edits > 0; --edits) {
            const size_t at = rng() % text.size();
            const char byte = kBytes[rng() % (sizeof kBytes - 1)];
            switch (rng() % 3) {
                case 0:
                    text.insert(at, 1, byte);
                    break;
                case 1:
                    text.erase(at, 1);
                    break;
                default:
                    text[at] = byte;
            }
        }
        if (NamesExternalEntities(DoctypeOf(text))) continue;
        SCOPED_TRACE("round " + std::to_string(round) + ": " + Printable(text));
        xmlResetLastError();
        XmlDoc theirs(xmlReadMemory(text.data(), static_cast<int>(text.size()), "s.xml", nullptr,
                                    kStrictOptions),
                      xmlFreeDoc);
        VelkDocument doc;
        doc.SetStrict(true);
        doc.Parse(text.c_str(), nullptr);
        if (round < count) {
            EXPECT_FALSE(doc.Error()) << doc.ErrorMessage();
        }
        if (theirs && LibxmlTakes(text, doc.ErrorCode())) {
            ++lenient;
            continue;
        }
        const std::string cause = KnownDifference(text, theirs != nullptr, doc.ErrorCode());
        if (!cause.empty()) {
            ++known[cause];
            continue;
        }
        EXPECT_EQ(!doc.Error(), theirs != nullptr)
            << "strict reading: " << doc.ErrorMessage() << " at " << doc.ErrorCursor().row << ":"
            << doc.ErrorCursor().col << "; libxml2: " << LibxmlError();
        if (!theirs || doc.Error()) continue;
        ++accepted;
        Outline expected, got;
        AddExactLibxml(theirs->children, &expected);
        AddExactVelk(doc.FirstChild(), &got);
        const Difference d = FirstDifference(JoinedTexts(got), JoinedTexts(expected));
        same += d.cause.empty();
        EXPECT_EQ(d.cause, "") << d.detail;
    }
    std::cout << "Documents with an internal subset accepted by both: " << accepted
              << " of 20000 (same tree: " << same << "), " << lenient
              << " in a form that only libxml2 takes\n";
    for (const auto& [cause, n] : known)
        std::cout << "  known difference: " << cause << " (" << n << ")\n";
}

}  // namespace

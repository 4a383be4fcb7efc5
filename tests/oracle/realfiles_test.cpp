// Real files: every XML file on this machine (under /usr/share and /etc) that
// libxml2 accepts is read by this library in the UTF-8 model and must give the
// elements, attributes and text that libxml2 reads; then the library's pretty
// output must be well-formed for libxml2 and read the same again. A file that
// declares another encoding is converted to UTF-8 with iconv first.
//
// A file is tried when it is a regular file (symbolic links are not followed:
// no loops, no file twice) of at most 20 MB whose first byte after an optional
// UTF-8 byte-order mark and white space is '<': the content decides, not the
// name, so .xml, .svg, .policy, .pom and the like are all found and INI files
// or scripts named .xml are not.
#include <gtest/gtest.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Velk/base/velk.h"

using namespace TAVARO;
namespace fs = std::filesystem;

namespace {

const char* const kRoots[] = {"/usr/share", "/etc"};
constexpr std::uintmax_t kMaxFileSize = 20u << 20;
constexpr size_t kExamplesPerCause = 4;

bool StartsWithMarkup(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char head[512];
    in.read(head, sizeof head);
    std::string text(head, static_cast<size_t>(in.gcount()));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    const size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '<';
}

// The files tried, sorted so that every run walks them in the same order.
std::vector<std::string> XmlFiles() {
    std::vector<std::string> files;
    for (const char* root : kRoots) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (it->symlink_status(ignored).type() != fs::file_type::regular) continue;
            const std::uintmax_t size = it->file_size(ignored);
            if (ignored || size == 0 || size > kMaxFileSize) continue;
            if (StartsWithMarkup(it->path())) files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

// Leading and trailing white space dropped, inner runs made one space.
std::string Collapsed(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            out += c;
            space = false;
        }
    }
    return out;
}

// Both readings are reduced to an outline: one line per element start ("<name"),
// namespace declaration and attribute (" name=value"), non-blank text or CDATA
// node ("text" and its collapsed content) and element end (">"). Comments,
// processing instructions, the declaration and the DOCTYPE leave no line.
// Namespace declarations come before the other attributes, because libxml2
// keeps them apart; each group keeps its order. Each text node is a line of its
// own: this library condenses every text node alone, so the white space at the
// edges of a node is not compared.
using Outline = std::vector<std::string>;

void AddText(const std::string& text, Outline* out) {
    const std::string collapsed = Collapsed(text);
    if (!collapsed.empty()) out->push_back("text " + collapsed);
}

std::string Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : "";
}

std::string QualifiedName(const xmlNs* ns, const xmlChar* name) {
    return (ns && ns->prefix ? Str(ns->prefix) + ":" : "") + Str(name);
}

void OutlineOfLibxml(const xmlNode* first, Outline* out) {
    for (const xmlNode* n = first; n; n = n->next) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
            AddText(Str(n->content), out);
        if (n->type != XML_ELEMENT_NODE) continue;
        out->push_back("<" + QualifiedName(n->ns, n->name));
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            out->push_back(" xmlns" + (ns->prefix ? ":" + Str(ns->prefix) : "") + "=" +
                           Str(ns->href));
        for (const xmlAttr* a = n->properties; a; a = a->next) {
            xmlChar* value = xmlNodeListGetString(n->doc, a->children, 1);
            out->push_back(" " + QualifiedName(a->ns, a->name) + "=" + Str(value));
            xmlFree(value);
        }
        OutlineOfLibxml(n->children, out);
        out->push_back(">");
    }
}

bool IsNamespaceDeclaration(const VelkAttribute* a) {
    const std::string name = a->Name();
    return name == "xmlns" || name.compare(0, 6, "xmlns:") == 0;
}

void OutlineOfVelk(const VelkNode* first, Outline* out) {
    for (const VelkNode* n = first; n; n = n->NextSibling()) {
        if (n->ToText()) AddText(n->SValue(), out);
        const VelkElement* element = n->ToElement();
        if (!element) continue;
        out->push_back("<" + n->SValue());
        for (bool declarations : {true, false})
            for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next())
                if (IsNamespaceDeclaration(a) == declarations)
                    out->push_back(std::string(" ") + a->Name() + "=" + a->Value());
        OutlineOfVelk(n->FirstChild(), out);
        out->push_back(">");
    }
}

Outline OutlineOf(const xmlDoc& doc) {
    Outline out;
    OutlineOfLibxml(doc.children, &out);
    return out;
}

Outline OutlineOf(const VelkDocument& doc) {
    Outline out;
    OutlineOfVelk(doc.FirstChild(), &out);
    return out;
}

bool HasNonAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

std::string KindOf(const Outline& lines, size_t i) {
    if (i >= lines.size()) return "nothing";
    switch (lines[i][0]) {
        case '<':
            return "an element";
        case '>':
            return "an element end";
        case ' ':
            return "an attribute";
        default:
            return "text";
    }
}

// Up to 100 bytes, control characters escaped, for a line of the report.
std::string Shown(const std::string& line) {
    std::string out;
    for (unsigned char c : line.substr(0, 100)) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\x%02X" : "%c", c);
        out += escaped;
    }
    return "\"" + out + (line.size() > 100 ? "...\"" : "\"");
}

// The cause of a disagreement, from the first line where two outlines differ.
struct Difference {
    std::string cause;
    std::string detail;
};

Difference Compare(const Outline& got, const Outline& expected) {
    size_t i = 0;
    while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
    if (i == got.size() && i == expected.size()) return {};
    const std::string a = i < got.size() ? got[i] : "", b = i < expected.size() ? expected[i] : "";
    std::string cause = KindOf(got, i) + " where the file has " + KindOf(expected, i);
    if (KindOf(got, i) == KindOf(expected, i)) {
        cause = KindOf(got, i) + " differs";
        if (Collapsed(a) == Collapsed(b))
            cause += " in white space";
        else if (HasNonAscii(a) || HasNonAscii(b))
            cause += ", non-ASCII characters";
        else if (a.find("&#") != std::string::npos)
            cause += ", a character reference";
    }
    return {cause,
            "outline line " + std::to_string(i + 1) + ": " + Shown(a) + " instead of " + Shown(b)};
}

std::string Printed(const VelkDocument& doc) {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);
    if (!file) return "";
    doc.Print(file, 0);
    std::fclose(file);
    std::string out(data, size);
    std::free(data);
    return out;
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

Difference ReadDifference(const VelkDocument& doc, const Outline& expected) {
    if (!doc.Error()) return Compare(OutlineOf(doc), expected);
    return {std::string("library error \"") + doc.ErrorMessage() + "\"",
            "at row " + std::to_string(doc.ErrorCursor().row + 1) + ", column " +
                std::to_string(doc.ErrorCursor().col + 1)};
}

Difference PrintDifference(const VelkDocument& doc, const Outline& expected, Tally* tally) {
    XmlDoc back = ReadWithLibxml(Printed(doc), "UTF-8");
    if (back) return Compare(OutlineOf(*back), expected);
    ++tally->illFormed;
    const xmlError* error = xmlGetLastError();
    std::string message = error && error->message ? error->message : "";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return {"output ill-formed",
            "libxml2: " + message + " at line " + std::to_string(error ? error->line : 0)};
}

void Check(const std::string& path, Tally* tally) {
    ++tally->tried;
    const std::string bytes = ReadFile(path);
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
    const Outline expected = OutlineOf(*theirs);
    Difference d = ReadDifference(doc, expected);
    if (!d.cause.empty()) return tally->Note("read", path, d);
    ++tally->readSame;
    tally->linesSame += expected.size();
    d = PrintDifference(doc, expected, tally);
    if (!d.cause.empty()) return tally->Note("print", path, d);
    ++tally->kept;
}

std::string Percent(size_t part, size_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
}

void Report(const Tally& t) {
    std::ostringstream out;
    out << "Files tried: " << t.tried << "\n"
        << "Accepted by libxml2: " << t.accepted << ", of which " << t.entities
        << " use entities declared in a DOCTYPE (not compared) and " << t.converted
        << " declare an encoding other than UTF-8 (converted with iconv)\n"
        << "Read the same: " << t.readSame << " of " << t.compared << " ("
        << Percent(t.readSame, t.compared) << "; " << t.linesSame << " outline lines alike)\n"
        << "Round trips keeping content: " << t.kept << " of " << t.compared << " ("
        << Percent(t.kept, t.compared) << "); printed output ill-formed: " << t.illFormed << "\n";
    for (const auto& [cause, files] : t.causes) {
        out << "  " << cause << " (" << files.size() << " files)\n";
        for (size_t i = 0; i < files.size() && i < kExamplesPerCause; ++i)
            out << "      " << files[i] << "\n";
    }
    std::cout << out.str();
}

TEST(RealFiles, ReadAndPrintedAsLibxml2ReadsThem) {
    const std::vector<std::string> files = XmlFiles();
    if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share or /etc on this machine";
    Tally tally;
    for (const std::string& path : files) Check(path, &tally);
    Report(tally);
    if (tally.compared == 0) GTEST_SKIP() << "no file under /usr/share or /etc is well-formed XML";
    EXPECT_GE(tally.readSame, tally.compared * 0.995) << "fewer than 99.5% read the same";
    EXPECT_GE(tally.kept, tally.compared * 0.99) << "fewer than 99% keep their content";
    EXPECT_EQ(tally.illFormed, 0u) << "printed output that libxml2 rejects";
}

// The outlines hold what the comparison needs, so that agreement on real files
// means something: namespace declarations apart, prefixes kept, text and CDATA
// per node, comments and processing instructions left out. The document also
// survives the round trip.
TEST(RealFiles, OutlinesOfAKnownDocument) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<!-- c --><r a='1 &amp; 2' xmlns:p=\"urn:p\" xmlns='urn:d'>\n"
        "  caf&#233; \n <p:e p:b=\"v\"/><?pi data?>y<!-- c -->z<![CDATA[ a<b ]]>\n</r>";
    const Outline expected = {"<r",
                              " xmlns:p=urn:p",
                              " xmlns=urn:d",
                              " a=1 & 2",
                              "text caf\xC3\xA9",
                              "<p:e",
                              " p:b=v",
                              ">",
                              "text y",
                              "text z",
                              "text a<b",
                              ">"};
    XmlDoc theirs = ReadWithLibxml(text, nullptr);
    ASSERT_TRUE(theirs);
    EXPECT_EQ(OutlineOf(*theirs), expected);
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(text.c_str(), nullptr);
    EXPECT_EQ(OutlineOf(doc), expected);
    Tally tally;
    EXPECT_EQ(PrintDifference(doc, expected, &tally).cause, "") << Printed(doc);
}

// Each kind of disagreement is told apart by the first line that differs.
TEST(RealFiles, CausesOfDifferences) {
    const Outline expected = {"<r", " a=x y", "text caf\xC3\xA9", ">"};
    const struct {
        Outline got;
        const char* cause;
    } cases[] = {
        {{"<r", " a=x y", "text caf\xC3\xA9", ">"}, ""},
        {{"<r", " a=x\ny", "text caf\xC3\xA9", ">"}, "an attribute differs in white space"},
        {{"<r", " a=x y", "text caf\xC3\x83\xC2\xA9", ">"}, "text differs, non-ASCII characters"},
        {{"<r", " a=x y", ">"}, "an element end where the file has text"},
        {{}, "nothing where the file has an element"},
    };
    for (const auto& c : cases) EXPECT_EQ(Compare(c.got, expected).cause, c.cause);
}

}  // namespace

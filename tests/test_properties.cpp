// Properties over thousands of generated documents inside the grammar the
// parser accepts: they parse without error; the pretty form, the compact form
// and a saved file read back to the same tree; every node and attribute
// records where it stands in the text. A failure shows the smallest document
// that still fails.
//
// Differences that are by design are excluded exactly (see velk_check.h): the
// compact form of a document stops after its first element; text is condensed
// when read again and the pretty form adds line breaks and indentation around
// text, so literal white space is compared as the reader condenses it; a
// stored "&#xH;"/"&#xHH;" passes the escaper unchanged and reads back as the
// byte it names; the pretty form writes comment bodies and declaration values
// unescaped, so their references are decoded again on reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"
#include "velk_docgen.h"

using namespace TAVARO;

namespace {

constexpr uint32_t kDocuments = 3000;

class Condensing {
public:
    explicit Condensing(bool on) : saved_(VelkBase::condenseWhiteSpace) {
        VelkBase::condenseWhiteSpace = on;
    }
    ~Condensing() { VelkBase::condenseWhiteSpace = saved_; }

private:
    bool saved_;
};

velkgen::GenDocument Generate(uint32_t seed) {
    return velkgen::Generator(seed, false).Document();
}

// What kind of fault a description tells, without its details: the text up
// to the first quote, colon, parenthesis or line end.
std::string KindOf(const std::string& fault) {
    return fault.substr(0, fault.find_first_of("':(\n"));
}

// Runs check over the generated documents; for the first failing one, shrinks
// it to the smallest text that still fails in the same way, and reports it.
void ForEachDocument(const std::function<std::string(const std::string&)>& check,
                     uint32_t count = kDocuments) {
    for (uint32_t seed = 1; seed <= count; ++seed) {
        velkgen::GenDocument doc = Generate(seed);
        const std::string text = velkgen::Write(doc);
        const std::string fault = check(text);
        if (fault.empty()) continue;
        const std::string kind = KindOf(fault);
        std::string smallest = velkgen::Shrink(doc, [&](const std::string& t) {
            std::string f = check(t);
            return !f.empty() && KindOf(f) == kind;
        });
        ADD_FAILURE() << "seed " << seed << ": " << check(smallest) << "\nsmallest document: \""
                      << velkcheck::Printable(smallest) << "\"";
        return;
    }
}

std::string ParseFault(const VelkDocument& doc) {
    if (!doc.Error()) return "";
    return std::string("parse error ") + doc.ErrorMessage() + "\nat " +
           std::to_string(doc.ErrorCursor().row) + "," + std::to_string(doc.ErrorCursor().col);
}

// Parses text; "" when it parses without error and the reread of written
// equals it in the given form.
std::string RereadFault(const VelkDocument& original, const std::string& written,
                        velkcheck::Form form, bool condense) {
    VelkDocument reread;
    reread.Parse(written.c_str(), nullptr);
    if (reread.Error())
        return "written form does not parse: " + ParseFault(reread) +
               "\nwritten: " + velkcheck::Printable(written);
    std::string diff = velkcheck::TreeDiff(original, reread, form, condense);
    return diff.empty() ? "" : diff + "\nwritten: " + velkcheck::Printable(written);
}

std::string PrettyRoundTrip(const std::string& text, bool condense) {
    Condensing condensing(condense);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return ParseFault(doc);
    if (!velkcheck::PrettyExclusion(doc).empty()) return "";
    return RereadFault(doc, velkcheck::PrettyText(doc), velkcheck::Form::kPretty, condense);
}

std::string CompactRoundTrip(const std::string& text, bool condense) {
    Condensing condensing(condense);
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return ParseFault(doc);
    std::string compact;
    compact << doc;
    std::string fault = RereadFault(doc, compact, velkcheck::Form::kCompact, condense);
    if (!fault.empty()) return "document: " + fault;
    const VelkElement* root = doc.FirstChildElement();
    if (!root) return "no root element";
    std::string element;
    element << *root;
    VelkDocument reread;
    reread.Parse(element.c_str(), nullptr);
    if (reread.Error() || !reread.FirstChild() || reread.FirstChild() != reread.LastChild())
        return "element's compact form does not read back as one element: " +
               velkcheck::Printable(element);
    std::string diff =
        velkcheck::TreeDiff(*root, *reread.FirstChild(), velkcheck::Form::kCompact, condense);
    return diff.empty() ? "" : "element: " + diff + "\nwritten: " + velkcheck::Printable(element);
}

TEST(Properties, GeneratedDocumentsParseWithoutError) {
    ForEachDocument([](const std::string& text) {
        VelkDocument doc;
        doc.Parse(text.c_str(), nullptr);
        std::string fault = ParseFault(doc);
        if (fault.empty()) fault = velkcheck::CheckLinks(doc);
        if (fault.empty() && !doc.FirstChildElement()) fault = "no root element";
        return fault;
    });
}

TEST(Properties, PrettyFormReadsBackEqual) {
    ForEachDocument([](const std::string& text) { return PrettyRoundTrip(text, true); });
}

TEST(Properties, PrettyFormReadsBackEqualWithoutCondensing) {
    ForEachDocument([](const std::string& text) { return PrettyRoundTrip(text, false); });
}

TEST(Properties, CompactFormReadsBackEqual) {
    ForEachDocument([](const std::string& text) { return CompactRoundTrip(text, true); });
}

TEST(Properties, CompactFormReadsBackEqualWithoutCondensing) {
    ForEachDocument([](const std::string& text) { return CompactRoundTrip(text, false); });
}

TEST(Properties, SavedFileLoadsBackEqual) {
    const std::string path = std::string(VELK_TEST_TMPDIR) + "/properties.xml";
    ForEachDocument(
        [&](const std::string& text) -> std::string {
            VelkDocument doc;
            doc.Parse(text.c_str(), nullptr);
            if (doc.Error()) return ParseFault(doc);
            if (!velkcheck::PrettyExclusion(doc).empty()) return "";
            if (!doc.SaveFile(path.c_str())) return "cannot save";
            VelkDocument loaded;
            if (!loaded.LoadFile(path.c_str()))
                return "saved file does not load: " + ParseFault(loaded);
            return velkcheck::TreeDiff(doc, loaded, velkcheck::Form::kPretty);
        },
        kDocuments / 5);
}

// The byte offset of (row, col) in text, counting as the parser's tracker
// does (tab stops of 4; CR LF, LF CR, LF and CR each end a line); -1 when no
// character starts exactly there.
long OffsetOf(const std::string& text, int row, int col) {
    size_t i = 0;
    for (int r = 0; r < row; ++r) {
        while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
        if (i == text.size()) return -1;
        char first = text[i++];
        if (i < text.size() && (text[i] == '\n' || text[i] == '\r') && text[i] != first) ++i;
    }
    for (int c = 0; i < text.size() && text[i] != '\n' && text[i] != '\r'; ++i) {
        if (c == col) return static_cast<long>(i);
        c = text[i] == '\t' ? (c / 4 + 1) * 4 : c + 1;
        if (c > col) return -1;
    }
    return -1;
}

std::string LocationFault(const std::string& text, const VelkBase& item, const std::string& want,
                          long* last, const std::string& what) {
    long at = OffsetOf(text, item.Location().row, item.Location().col);
    if (at < 0)
        return what + " location (" + std::to_string(item.Location().row) + "," +
               std::to_string(item.Location().col) + ") is not a character of the text";
    if (at <= *last) return what + " location is not after the one before it";
    *last = at;
    if (text.compare(static_cast<size_t>(at), want.size(), want) != 0)
        return what + " location points at \"" +
               velkcheck::Printable(text.substr(static_cast<size_t>(at), 12)) + "\", not at \"" +
               velkcheck::Printable(want) + "\"";
    return "";
}

std::string LocationsFault(const std::string& text) {
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return ParseFault(doc);
    long last = -1;
    std::vector<const VelkNode*> pending;
    for (const VelkNode* c = doc.LastChild(); c; c = c->PreviousSibling()) pending.push_back(c);
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        std::string want;
        switch (node->Type()) {
            case VelkNode::ELEMENT:
                want = "<" + node->SValue();
                break;
            case VelkNode::COMMENT:
                want = "<!--";
                break;
            case VelkNode::DECLARATION:
                want = "<?xml";
                break;
            case VelkNode::UNKNOWN:
                want = "<" + node->SValue();
                break;
            default:
                break;
        }
        std::string fault;
        if (node->Type() == VelkNode::TEXT) {
            // The first character of the text, which may be written as a reference.
            long at = OffsetOf(text, node->Location().row, node->Location().col);
            std::string first =
                at < 0 ? "" : velkcheck::DecodeRaw(text.substr(static_cast<size_t>(at), 6));
            if (at < 0 || first.empty() || first[0] != node->SValue()[0])
                fault = "text location does not point at its first character";
            else if (at <= last)
                fault = "text location is not after the one before it";
            last = at;
        } else {
            fault = LocationFault(text, *node, want, &last, velkcheck::KindName(node->Type()));
        }
        if (fault.empty() && node->ToElement()) {
            for (const VelkAttribute* a = node->ToElement()->FirstAttribute(); a && fault.empty();
                 a = a->Next())
                fault = LocationFault(text, *a, a->Name(), &last,
                                      std::string("attribute ") + a->Name());
        }
        if (!fault.empty()) return fault + " (" + velkcheck::Describe(node) + ")";
        for (const VelkNode* c = node->LastChild(); c; c = c->PreviousSibling())
            pending.push_back(c);
    }
    return "";
}

TEST(Properties, LocationsPointAtTheirMarkup) {
    ForEachDocument([](const std::string& text) { return LocationsFault(text); });
    Condensing off(false);
    ForEachDocument([](const std::string& text) { return LocationsFault(text); }, kDocuments / 5);
}

TEST(Properties, OffsetOfCountsLikeTheTracker) {
    const std::string text = "ab\tc\r\nx\n\ry\n\nz";
    EXPECT_EQ(OffsetOf(text, 0, 4), 3);   // 'c' after the tab stop
    EXPECT_EQ(OffsetOf(text, 0, 3), -1);  // inside the tab
    EXPECT_EQ(OffsetOf(text, 1, 0), 6);   // 'x' after CR LF
    EXPECT_EQ(OffsetOf(text, 2, 0), 9);   // 'y' after LF CR
    EXPECT_EQ(OffsetOf(text, 4, 0), 12);  // 'z' after two LF
}

}  // namespace

// Properties over thousands of generated documents inside the grammar the
// parser accepts: they parse without error into consistent trees; the pretty
// form, the compact form and a saved file read back to the same tree; every
// node and attribute records where it stands in the text. A failure shows the
// smallest document that still fails in the same way.
//
// Differences that are by design are excluded exactly (see velk_check.h): the
// compact form of a document stops after its first element; text is condensed
// when read again and the pretty form adds line breaks and indentation around
// text, so literal white space is compared as the reader condenses it; a
// stored "&#xH;"/"&#xHH;" passes the escaper unchanged and reads back as the
// byte it names; the pretty form writes comment bodies and declaration values
// unescaped, so their references are decoded again on reading, and a comment
// holding "-->" or a declaration value holding '"' cannot come back at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"
#include "velk_docgen.h"

using namespace TAVARO;
using velkcheck::Form;
using velkcheck::Printable;

namespace {

constexpr uint32_t kDocuments = 3000;

// Runs check over the generated documents, with condensing on and off; the
// first failing one is shrunk to the smallest text that fails with the same
// kind of fault (the text before " - ") and reported.
void ForEachDocument(const std::function<std::string(const std::string&)>& check) {
    for (bool condense : {true, false}) {
        velkcheck::Condensing condensing(condense);
        for (uint32_t seed = 1; seed <= kDocuments; ++seed) {
            const velkgen::Document doc = velkgen::Generator(seed, false).Make();
            const std::string fault = check(velkgen::Text(doc.pieces));
            if (fault.empty()) continue;
            const std::string kind = fault.substr(0, fault.find(" - "));
            const std::string smallest = velkgen::Shrink(doc, [&](const std::string& text) {
                return check(text).compare(0, kind.size() + 3, kind + " - ") == 0;
            });
            ADD_FAILURE() << "seed " << seed << ", condensing " << condense << ": "
                          << check(smallest) << "\nsmallest document: \"" << Printable(smallest)
                          << "\"";
            return;
        }
    }
}

std::string ParseFault(const VelkDocument& doc) {
    if (!doc.Error()) return velkcheck::CheckLinks(doc);
    return std::string(doc.ErrorMessage()) + " at " + std::to_string(doc.ErrorCursor().row) + "," +
           std::to_string(doc.ErrorCursor().col);
}

// "" when written (or the file of that name) reads back as what original
// becomes in the form.
std::string RereadFault(const char* what, const VelkNode& original, const std::string& written,
                        Form form, bool isFileName = false) {
    VelkDocument reread;
    if (isFileName)
        reread.LoadFile(written.c_str());
    else
        reread.Parse(written.c_str(), nullptr);
    std::string fault = ParseFault(reread);
    const VelkNode* actual = &reread;
    if (fault.empty() && original.Type() != VelkNode::DOCUMENT) {
        actual = reread.FirstChild();
        if (!actual || actual != reread.LastChild()) fault = "does not read back as one node";
    }
    if (fault.empty())
        fault = velkcheck::TreeDiff(original, *actual, form, VelkBase::condenseWhiteSpace);
    return fault.empty() ? ""
                         : std::string(what) + " - " + fault + "\nwritten: " + Printable(written);
}

std::string RoundTripFault(const std::string& text) {
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (!ParseFault(doc).empty() || !doc.FirstChildElement())
        return "parse - " + ParseFault(doc) + (doc.FirstChildElement() ? "" : " (no root)");
    std::string fault, compact, element;
    compact << doc;
    element << *doc.FirstChildElement();
    if (velkcheck::PrettyExclusion(doc).empty()) {
        fault = RereadFault("pretty form", doc, velkcheck::PrettyText(doc), Form::kPretty);
        const std::string path = velkcheck::TempPath("properties.xml");
        if (fault.empty() && !doc.SaveFile(path.c_str())) fault = "saved file - not saved";
        if (fault.empty()) fault = RereadFault("saved file", doc, path, Form::kPretty, true);
        std::remove(path.c_str());
    }
    if (fault.empty()) fault = RereadFault("compact form", doc, compact, Form::kCompact);
    if (fault.empty())
        fault = RereadFault("element's compact form", *doc.FirstChildElement(), element,
                            Form::kCompact);
    return fault;
}

TEST(Properties, GeneratedDocumentsParseAndReadBackEqual) {
    ForEachDocument(RoundTripFault);
}

// The byte offset of (row, col) in text, counting as the parser's tracker
// does (tab stops of 4; CR LF, LF CR, LF and CR each end a line); -1 when no
// character starts exactly there.
long OffsetOf(const std::string& text, int row, int col) {
    size_t i = 0;
    for (int r = 0; r < row; ++r) {
        while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
        if (i == text.size()) return -1;
        const char first = text[i++];
        if (i < text.size() && (text[i] == '\n' || text[i] == '\r') && text[i] != first) ++i;
    }
    for (int c = 0; i < text.size() && text[i] != '\n' && text[i] != '\r'; ++i) {
        if (c == col) return static_cast<long>(i);
        c = text[i] == '\t' ? (c / 4 + 1) * 4 : c + 1;
        if (c > col) return -1;
    }
    return -1;
}

// "" when item's location is after *last and the text there starts with want
// (decoded, for text, whose first character may be written as a reference).
std::string LocationFault(const std::string& text, const VelkBase& item, const std::string& want,
                          long* last, bool decode = false) {
    const long at = OffsetOf(text, item.Location().row, item.Location().col);
    const std::string there = at < 0 ? "" : text.substr(static_cast<size_t>(at), want.size() + 6);
    const std::string found = decode ? velkcheck::Reread(there, Form::kPretty, false) : there;
    if (at < 0 || at <= *last || found.compare(0, want.size(), want) != 0)
        return "location (" + std::to_string(item.Location().row) + "," +
               std::to_string(item.Location().col) + ") points at \"" + Printable(there) +
               "\", not at \"" + Printable(want) + "\" after offset " + std::to_string(*last);
    *last = at;
    return "";
}

std::string LocationsFault(const std::string& text) {
    VelkDocument doc;
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error()) return "parse - " + ParseFault(doc);
    long last = -1;
    std::vector<const VelkNode*> pending;
    for (const VelkNode* c = doc.LastChild(); c; c = c->PreviousSibling()) pending.push_back(c);
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        const std::string want[] = {
            "",     "<" + node->SValue(), "<!--", "<" + node->SValue(), node->SValue().substr(0, 1),
            "<?xml"};
        std::string fault =
            LocationFault(text, *node, want[node->Type()], &last, node->Type() == VelkNode::TEXT);
        const VelkElement* e = const_cast<VelkNode*>(node)->ToElement();
        for (const VelkAttribute* a = e ? e->FirstAttribute() : nullptr; a && fault.empty();
             a = a->Next())
            fault = LocationFault(text, *a, a->Name(), &last);
        if (!fault.empty()) return velkcheck::Describe(node) + " - " + fault;
        for (const VelkNode* c = node->LastChild(); c; c = c->PreviousSibling())
            pending.push_back(c);
    }
    return "";
}

TEST(Properties, LocationsPointAtTheirMarkup) {
    ForEachDocument(LocationsFault);
}

}  // namespace

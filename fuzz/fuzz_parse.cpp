// Parses the input as a document (condensing, the character model and strict
// reading chosen by the first byte), then checks the tree's links, the error
// state, and that it can be written, cloned and deleted. What strict reading
// accepts can be written as it is, and (where libxml2 is linked in) libxml2
// accepts it too, unless a DOCTYPE may declare entities that it expands.
#include "fuzz_util.h"

#include <cstdint>
#include <cstring>
#include <sstream>

#ifdef VELK_FUZZ_LIBXML2
#include <libxml/parser.h>
#endif

using namespace TAVARO;

namespace {

void CheckStrictAcceptance(const VelkDocument& doc, const std::string& text) {
    velkfuzz::Require(doc.CheckWritable() == VELK_NO_ERROR, "a strict reading can be written");
#ifdef VELK_FUZZ_LIBXML2
    const size_t doctype = text.find("<!DOCTYPE");
    if (doctype != std::string::npos && text.find_first_of("[", doctype) != std::string::npos)
        return;
    xmlDocPtr theirs = xmlReadMemory(text.data(), static_cast<int>(text.size()), "f.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    velkfuzz::Require(theirs != nullptr, "libxml2 accepts what strict reading accepts");
    xmlFreeDoc(theirs);
#else
    (void)text;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    velkfuzz::Condensing condensing(data[0] & 1);
    const bool utf8 = data[0] & 2;
    const bool strict = data[0] & 4;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const char* start = text.c_str();

    VelkDocument doc;
    doc.SetUtf8(utf8);
    doc.SetStrict(strict);
    const char* end = doc.Parse(start, nullptr);
    if (strict && !doc.Error()) CheckStrictAcceptance(doc, std::string(start));
    velkfuzz::Require(!end || (end >= start && end <= start + std::strlen(start)),
                      "result inside the text");
    velkfuzz::CheckErrorState(doc);
    velkfuzz::Require(velkcheck::CheckLinks(doc), "links after parse");

    std::string compact;
    compact << doc;
    std::ostringstream stream;
    stream << doc;
    velkfuzz::Require(stream.str() == compact, "both compact forms agree");
    velkcheck::PrettyText(doc);

    VelkNode* clone = doc.Clone();
    velkfuzz::Require(clone != nullptr, "clone made");
    velkfuzz::Require(velkcheck::TreeDiff(doc, *clone), "clone equals the original");
    velkfuzz::Require(clone->ToDocument()->Error() == doc.Error(), "clone keeps the error flag");
    delete clone;

    // Parsing again into the same document appends the same nodes again.
    size_t before = 0;
    for (VelkNode* c = doc.FirstChild(); c; c = c->NextSibling()) ++before;
    doc.Parse(start, nullptr);
    size_t after = 0;
    for (VelkNode* c = doc.FirstChild(); c; c = c->NextSibling()) ++after;
    velkfuzz::Require(velkcheck::CheckLinks(doc), "links after a second parse");
    velkfuzz::Require(after == 2 * before, "a second parse appends the same top-level nodes");
    return 0;
}

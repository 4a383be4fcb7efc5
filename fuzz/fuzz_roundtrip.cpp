// Round trip, in the character model, condensing mode and reading (strict or
// not) that the first byte chooses: a document that parses without error is written in the pretty
// form and in the compact form, read back, and compared with the original; so is the compact form
// of its first element. Differences that are by design are excluded in tree_diff.h (TreeDiff,
// Exclusion): the compact form of a document stops after its first element; literal white space
// condenses when read again and the pretty form adds line breaks and indentation around text; in
// the byte model a stored "&#xH;"/"&#xHH;" passes the escaper and reads back as the byte it names;
// comment bodies are written unescaped. What strict reading reads is written in forms that it
// reads back.
#include "fuzz_util.h"

#include <cstdint>

using namespace TAVARO;

namespace {

void ReadBack(const VelkNode& original, const std::string& written, velkcheck::Form form,
              bool condense, bool utf8, bool strict, const char* what) {
    if (!velkcheck::Exclusion(original, form, utf8).empty()) return;
    VelkDocument reread;
    reread.SetUtf8(utf8);
    reread.SetStrict(strict);
    reread.Parse(written.c_str(), nullptr);
    if (reread.Error()) {
        std::fprintf(stderr, "%s: written text does not parse (%s at %d,%d):\n%s\n", what,
                     reread.ErrorMessage(), reread.ErrorCursor().row, reread.ErrorCursor().col,
                     velkcheck::Printable(written).c_str());
        std::abort();
    }
    const VelkNode* actual = &reread;
    if (original.Type() != VelkNode::DOCUMENT) {
        velkfuzz::Require(reread.FirstChild() && reread.FirstChild() == reread.LastChild(),
                          "one element read back");
        actual = reread.FirstChild();
    }
    std::string diff = velkcheck::TreeDiff(original, *actual, form, condense, false, utf8);
    if (!diff.empty())
        std::fprintf(stderr, "written:\n%s\n", velkcheck::Printable(written).c_str());
    velkfuzz::Require(diff, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool condense = data[0] & 1;
    const bool strict = data[0] & 4;
    const bool utf8 = (data[0] & 2) || strict;
    velkfuzz::Condensing condensing(condense);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    VelkDocument doc;
    doc.SetUtf8(utf8);
    doc.SetStrict(strict);
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error() || !doc.FirstChild()) return 0;
    if (strict) {
        velkfuzz::Require(doc.CheckWritable() == VELK_NO_ERROR, "a strict reading can be written");
    }

    ReadBack(doc, velkcheck::PrettyText(doc), velkcheck::Form::kPretty, condense, utf8, strict,
             "pretty form");

    std::string compact;
    compact << doc;
    ReadBack(doc, compact, velkcheck::Form::kCompact, condense, utf8, strict,
             "compact form of the document");

    if (const VelkElement* root = doc.FirstChildElement()) {
        std::string element;
        element << *root;
        ReadBack(*root, element, velkcheck::Form::kCompact, condense, utf8, strict,
                 "compact form of the first element");
    }
    return 0;
}

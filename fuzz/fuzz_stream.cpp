// Reads a document and single nodes through operator>> from a string stream, in
// the condensing mode, character model and reading (strict or not) that the
// first byte chooses.
// The document must consume exactly the characters it parses: its tree equals
// the parse of the consumed prefix of the input.
#include "fuzz_util.h"

#include <cstdint>
#include <sstream>

using namespace TAVARO;

namespace {

template <class Node>
void ReadOne(const std::string& text, Node* node) {
    std::istringstream in(text);
    in >> *node;
    velkfuzz::Require(velkcheck::CheckLinks(*node), "links of a node read from a stream");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    velkfuzz::Condensing condensing(data[0] & 1);
    const bool utf8 = data[0] & 2;
    const bool strict = data[0] & 4;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::istringstream in(text);
    VelkDocument doc;
    doc.SetUtf8(utf8);
    doc.SetStrict(strict);
    in >> doc;
    velkfuzz::CheckErrorState(doc);
    velkfuzz::Require(velkcheck::CheckLinks(doc), "links after stream input");

    in.clear();
    std::streamoff consumed = in.tellg();
    velkfuzz::Require(consumed >= 0 && static_cast<size_t>(consumed) <= text.size(),
                      "stream position");
    const std::string prefix = text.substr(0, static_cast<size_t>(consumed));
    // A strict read takes the whole stream, NUL bytes included, which end
    // the text that Parse reads.
    velkfuzz::Require(!strict || prefix == text, "a strict read takes the whole stream");
    if (strict && text.find('\0') != std::string::npos) return 0;
    VelkDocument parsed;
    parsed.SetUtf8(utf8);
    parsed.SetStrict(strict);
    parsed.Parse(prefix.c_str(), nullptr);
    velkfuzz::Require(velkcheck::TreeDiff(parsed, doc),
                      "stream tree equals the parse of the consumed text");
    // The stream's own error outlives an error-free parse of what it collected.
    velkfuzz::Require(!parsed.Error() || (doc.Error() && doc.ErrorCode() == parsed.ErrorCode()),
                      "stream error equals the parse error");

    VelkElement element("");
    ReadOne(text, &element);
    VelkComment comment;
    ReadOne(text, &comment);
    VelkUnknown unknown;
    ReadOne(text, &unknown);
    VelkDeclaration declaration;
    ReadOne(text, &declaration);
    VelkText textNode("");
    ReadOne(text, &textNode);
    return 0;
}

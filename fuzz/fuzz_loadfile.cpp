// Writes the input to a file and loads it, in the character model that the
// input's length chooses: the result, the error and the tree equal a parse of
// the same bytes, all of them, NUL bytes included; an empty file is an empty
// document.
#include "fuzz_util.h"

#include <unistd.h>
#include <cstdint>
#include <string>

using namespace TAVARO;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/velk_fuzz_load_" + std::to_string(getpid()) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    const bool utf8 = size % 2;
    VelkDocument doc;
    doc.SetUtf8(utf8);
    bool loaded = doc.LoadFile(path.c_str());
    velkfuzz::CheckErrorState(doc);
    velkfuzz::Require(velkcheck::CheckLinks(doc), "links after load");
    velkfuzz::Require(doc.SValue() == path, "document keeps the file name");
    if (size == 0) {
        velkfuzz::Require(
            !loaded && doc.ErrorCode() == VELK_ERROR_DOCUMENT_EMPTY && !doc.FirstChild(),
            "empty file");
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    VelkDocument parsed;
    parsed.SetUtf8(utf8);
    parsed.Parse(text, nullptr);
    velkfuzz::Require(loaded == !parsed.Error(), "load result equals parse result");
    velkfuzz::Require(doc.ErrorCode() == parsed.ErrorCode() &&
                          doc.ErrorCursor().row == parsed.ErrorCursor().row &&
                          doc.ErrorCursor().col == parsed.ErrorCursor().col,
                      "load error equals parse error");
    velkfuzz::Require(velkcheck::TreeDiff(parsed, doc), "loaded tree equals parsed tree");
    return 0;
}

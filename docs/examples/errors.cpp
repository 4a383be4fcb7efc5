// Telling a user what is wrong with a document, and where.
#include <Velk/base/velk.h>

#include <cstdio>

using namespace TAVARO;

// Prints "name:row:col: message" with row and column counted from 1, or
// "name: message" for an error that has no position.
void Report(const char* name, const VelkDocument& doc) {
    const VelkCursor& at = doc.ErrorCursor();  // counted from 0; -1 when unknown
    if (at.row < 0)
        std::printf("%s: %s (code %d)\n", name, doc.ErrorMessage(), doc.ErrorCode());
    else
        std::printf("%s:%d:%d: %s (code %d)\n", name, at.row + 1, at.col + 1, doc.ErrorMessage(),
                    doc.ErrorCode());
}

void Check(const char* name, const char* xml) {
    VelkDocument doc;
    doc.Parse(xml, nullptr);
    if (doc.Error())
        Report(name, doc);
    else
        std::printf("%s: well formed\n", name);
}

int main() {
    Check("good", "<a><b/></a>");
    Check("mismatch", "<list>\n  <item>one</itme>\n</list>");
    Check("attribute", "<a b>");
    Check("unclosed", "<a><b/>");
    Check("empty", "");
    Check("trailing", "<a/> and then some text");  // text outside the root element

    VelkDocument doc;
    if (!doc.LoadFile("missing.xml") && doc.ErrorCode() == VelkDocument::VELK_ERROR_OPEN_FILE)
        Report("missing.xml", doc);
    return 0;
}

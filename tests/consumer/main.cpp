// Parses, edits and writes a document through the installed header and library;
// exits 0 only when every result is the expected one.
#include <Velk/base/velk.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace TAVARO;

namespace {

int failures = 0;

void Expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "consumer: %s\n", what);
        ++failures;
    }
}

}  // namespace

int main() {
    VelkDocument doc;
    doc.Parse("<?xml version='1.0'?><list n='2'><item>one</item><item>two</item></list>", nullptr);
    Expect(!doc.Error(), "a well-formed text parses without error");

    VelkElement* list = doc.FirstChildElement("list");
    int n = 0;
    Expect(list && list->QueryIntAttribute("n", &n) == VELK_ATTR_OK && n == 2,
           "the attribute n reads as 2");
    VelkText* second = VelkHandle(list).ChildElement("item", 1).FirstChild().ToText();
    Expect(second && std::strcmp(second->Value(), "two") == 0, "the handle reaches the text two");

    VelkElement three("item");
    three.LinkEndChild(new VelkText("three"));
    list->InsertEndChild(three);
    list->SetAttribute("n", 3);
    std::string out;
    out << doc;
    Expect(out ==
               "<?xml version=\"1.0\" ?><list n=\"3\"><item>one</item><item>two</item>"
               "<item>three</item></list>",
           "the compact form of the edited document");

    VelkDocument broken;
    broken.Parse("<a>\n  <b></c>\n</a>", nullptr);
    Expect(broken.Error() && broken.ErrorCode() == VELK_ERROR_END_TAG &&
               broken.ErrorCursor().row == 1 && broken.ErrorCursor().col == 5,
           "the mismatched end tag is reported at row 1, column 5");

    std::printf("consumer: %s (libvelk %d.%d.%d)\n", failures == 0 ? "ok" : "FAILED",
                VELK_VERSION_MAJOR, VELK_VERSION_MINOR, VELK_VERSION_PATCH);
    return failures == 0 ? 0 : 1;
}

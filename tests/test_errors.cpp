// Every error code that the parser, the stream reader and the loader can
// raise, each with its exact message and position, in one table.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <new>
#include <set>
#include <sstream>
#include <string>

#include "Velk/base/velk.h"

#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#endif

using namespace TAVARO;

// Allocation failure injection: while armed, the given number of
// non-throwing allocations succeed and the next one fails. The library
// creates its nodes and attributes with new (std::nothrow).
namespace {
int allocationsBeforeFailure = -1;
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        return nullptr;
    }
    if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

enum class Source {
    kText,             // VelkDocument::Parse of the input
    kFile,             // LoadFile of a file holding the input
    kMissingFile,      // LoadFile of a name that does not exist
    kDirectory,        // LoadFile of a directory
    kStream,           // operator>> from a stream holding the input
    kStreamIn,         // the document's StreamIn alone
    kElement,          // an element linked in a document parses the input
    kComment,          // the same for a comment
    kUnknown,          // ... unknown markup
    kDeclaration,      // ... a declaration
    kFirstAllocation,  // Parse while the first node allocation fails
    kSecondAllocation  // Parse while the second node allocation fails
};

struct ErrorCase {
    const char* what;
    Source source;
    std::string input;
    int code;
    const char* message;
    int row;
    int col;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.what;
}

const std::string kTmp = VELK_TEST_TMPDIR;

const ErrorCase kCases[] = {
    // Document parse.
    {"empty text", Source::kText, "", 13, "Error document empty.", -1, -1},
    // Element start tag.
    {"name runs to the end", Source::kText, "<abc", 5, "Failed to read Element name", 0, 1},
    {"child name runs to the end", Source::kText, "<a><b", 5, "Failed to read Element name", 0, 4},
    {"input ends in the attribute gap", Source::kText, "<a ", 7, "Error reading Attributes.", 0, 2},
    {"no '=' after an attribute name", Source::kText, "<a b>", 7, "Error reading Attributes.", 0,
     4},
    {"'=' is the last character", Source::kText, "<a b=", 7, "Error reading Attributes.", -1, -1},
    {"white space after '=' to the end", Source::kText, "<a b= ", 7, "Error reading Attributes.", 0,
     6},
    {"no attribute name", Source::kText, "<a =1/>", 7, "Error reading Attributes.", 0, 3},
    {"repeated attribute at the top", Source::kText, "<a b='1' b='2'><c/></a>", 7,
     "Error reading Attributes.", 0, 9},
    {"repeated attribute inside", Source::kText, "<r><a b='1' b='2'/></r>", 7,
     "Error reading Attributes.", 0, 12},
    {"attribute on a later line", Source::kText, "<a>\n  <b c>", 7, "Error reading Attributes.", 1,
     6},
    {"quoted value runs to the end", Source::kText, "<a b='x", 4, "Error parsing Element.", 0, 3},
    {"'/' not followed by '>'", Source::kText, "<a/ >", 8, "Error: empty tag.", 0, 3},
    {"'/' inside an unquoted value", Source::kText, "<x href=a/b>", 8, "Error: empty tag.", 0, 10},
    {"after a tab stop", Source::kText, "<a>\t<b/ >", 8, "Error: empty tag.", 0, 7},
    // Element content and end tag.
    {"content ends at once", Source::kText, "<a>", 6, "Error reading Element value.", -1, -1},
    {"content ends in text", Source::kText, "<a>text", 6, "Error reading Element value.", -1, -1},
    {"content ends after a child", Source::kText, "<a><b/>", 6, "Error reading Element value.", -1,
     -1},
    {"content ends in white space", Source::kText, "<a><b/> ", 6, "Error reading Element value.",
     -1, -1},
    {"content ends in a comment", Source::kText, "<a><!-- x", 6, "Error reading Element value.", -1,
     -1},
    {"a child declaration fails", Source::kText, "<r><?xml version?></r>", 6,
     "Error reading Element value.", -1, -1},
    {"end tag of another name", Source::kText, "<a></b>", 9, "Error reading end tag.", 0, 3},
    {"white space inside the end tag", Source::kText, "<a></a >", 9, "Error reading end tag.", 0,
     3},
    {"end tag after CR LF", Source::kText, "<a>\r\n<b></c></a>", 9, "Error reading end tag.", 1, 3},
    // Parses called on a node linked in a document, with a tracker.
    {"element: nothing left", Source::kElement, "   ", 4, "Error parsing Element.", -1, -1},
    {"element: no '<'", Source::kElement, "  x", 4, "Error parsing Element.", 0, 2},
    {"element: '<' is the last character", Source::kElement, " <", 5, "Failed to read Element name",
     -1, -1},
    {"unknown: no '<'", Source::kUnknown, " x", 10, "Error parsing Unknown.", 0, 1},
    {"unknown: nothing left", Source::kUnknown, "", 10, "Error parsing Unknown.", -1, -1},
    {"comment: no opener", Source::kComment, "  <!- x -->", 11, "Error parsing Comment.", 0, 2},
    {"declaration: opener in upper case", Source::kDeclaration, "<?XML version='1'?>", 12,
     "Error parsing Declaration.", -1, -1},
    // Allocation failures.
    {"element cannot be created", Source::kFirstAllocation, "<a/>", 3, "Memory allocation failed.",
     -1, -1},
    {"child element cannot be created", Source::kSecondAllocation, "<a><b/></a>", 3,
     "Memory allocation failed.", -1, -1},
    {"attribute cannot be created", Source::kSecondAllocation, "<a x='1'/>", 3,
     "Memory allocation failed.", 0, 2},
    {"text cannot be created", Source::kSecondAllocation, "<a>t</a>", 3,
     "Memory allocation failed.", -1, -1},
    // Loading files.
    {"file does not exist", Source::kMissingFile, "", 2, "Failed to open file", -1, -1},
    {"file is a directory", Source::kDirectory, "", 2, "Failed to open file", -1, -1},
    {"file ends inside an element", Source::kFile, "<a>", 6, "Error reading Element value.", -1,
     -1},
    {"file holds a bad attribute", Source::kFile, "<?xml version='1.0'?>\n<a b>", 7,
     "Error reading Attributes.", 1, 4},
    {"file text ends at a NUL byte", Source::kFile, std::string("<a>x\0</a>", 9), 6,
     "Error reading Element value.", -1, -1},
    // Stream input.
    {"stream: empty", Source::kStream, "", 13, "Error document empty.", -1, -1},
    {"stream: text only", Source::kStream, "hello", 8, "Error: empty tag.", -1, -1},
    {"stream: white space only", Source::kStream, "  \n", 8, "Error: empty tag.", -1, -1},
    {"stream: declaration only", Source::kStream, "<?xml version=\"1.0\"?>", 1, "Error", -1, -1},
    {"stream: text before the root", Source::kStream, "<?xml version='1.0'?>x<root/>", 1, "Error",
     -1, -1},
    {"stream: comment only", Source::kStream, "<!-- c -->", 1, "Error", -1, -1},
    {"stream: ends inside an element", Source::kStream, "<a><b>text", 6,
     "Error reading Element value.", -1, -1},
    {"stream: end tag of another name", Source::kStream, "<a></b>", 9, "Error reading end tag.", 0,
     3},
    {"StreamIn: empty", Source::kStreamIn, "", 8, "Error: empty tag.", -1, -1},
    {"StreamIn: text before the root", Source::kStreamIn, "<?xml v?>x<a/>", 1, "Error", -1, -1},
    {"StreamIn: no element", Source::kStreamIn, "<!-- c --><?pi?>", 1, "Error", -1, -1},
};

template <class Node>
void ParseLinked(VelkDocument* doc, Node* node, const std::string& input) {
    doc->LinkEndChild(node);
    VelkParsingData data(input.c_str(), doc->TabSize(), 0, 0);
    EXPECT_EQ(node->Parse(input.c_str(), &data), nullptr);
}

// Whether the injection above is in force: valgrind replaces operator new
// with its own for the library, and then no allocation can be made to fail.
bool CanInjectAllocationFailures() {
#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
    if (RUNNING_ON_VALGRIND) return false;
#endif
#endif
    return true;
}

void ParseFailingAllocation(VelkDocument* doc, const std::string& input, int succeeding) {
    allocationsBeforeFailure = succeeding;
    doc->Parse(input.c_str(), nullptr);
    allocationsBeforeFailure = -1;
}

void RunCase(const ErrorCase& c, VelkDocument* doc) {
    const std::string file = kTmp + "/errors_case.xml";
    switch (c.source) {
        case Source::kText:
            doc->Parse(c.input.c_str(), nullptr);
            break;
        case Source::kFile: {
            FILE* out = std::fopen(file.c_str(), "wb");
            ASSERT_NE(out, nullptr);
            std::fwrite(c.input.data(), 1, c.input.size(), out);
            std::fclose(out);
            EXPECT_FALSE(doc->LoadFile(file.c_str()));
            break;
        }
        case Source::kMissingFile:
            EXPECT_FALSE(doc->LoadFile((kTmp + "/no such file.xml").c_str()));
            break;
        case Source::kDirectory:
            EXPECT_FALSE(doc->LoadFile(kTmp.c_str()));
            break;
        case Source::kStream: {
            std::istringstream in(c.input);
            in >> *doc;
            break;
        }
        case Source::kStreamIn: {
            std::istringstream in(c.input);
            std::string tag;
            doc->StreamIn(&in, &tag);
            break;
        }
        case Source::kElement:
            ParseLinked(doc, new VelkElement(""), c.input);
            break;
        case Source::kComment:
            ParseLinked(doc, new VelkComment, c.input);
            break;
        case Source::kUnknown:
            ParseLinked(doc, new VelkUnknown, c.input);
            break;
        case Source::kDeclaration:
            ParseLinked(doc, new VelkDeclaration, c.input);
            break;
        case Source::kFirstAllocation:
            ParseFailingAllocation(doc, c.input, 0);
            break;
        case Source::kSecondAllocation:
            ParseFailingAllocation(doc, c.input, 1);
            break;
    }
}

class ErrorTable : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorTable, RecordsCodeMessageAndPosition) {
    const ErrorCase& c = GetParam();
    if ((c.source == Source::kFirstAllocation || c.source == Source::kSecondAllocation) &&
        !CanInjectAllocationFailures())
        GTEST_SKIP() << "running under valgrind";
    VelkDocument doc;
    RunCase(c, &doc);
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), c.code);
    EXPECT_STREQ(doc.ErrorMessage(), c.message);
    EXPECT_EQ(doc.ErrorCursor().row, c.row);
    EXPECT_EQ(doc.ErrorCursor().col, c.col);
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (const char* p = info.param.what; *p; ++p)
                                 name += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                             return name;
                         });

TEST(Errors, TableCoversEveryCode) {
    std::set<int> codes;
    for (const ErrorCase& c : kCases) codes.insert(c.code);
    for (int code = 1; code < VELK_ERROR_STRING_COUNT; ++code)
        EXPECT_EQ(codes.count(code), 1u) << "code " << code;
}

TEST(Errors, FirstErrorStaysUntilTheNextParse) {
    VelkDocument doc;
    doc.Parse("<a></b>", nullptr);
    ASSERT_EQ(doc.ErrorCode(), VELK_ERROR_END_TAG);
    EXPECT_FALSE(doc.LoadFile((kTmp + "/no such file.xml").c_str()));
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_END_TAG);
    EXPECT_STREQ(doc.ErrorMessage(), "Error reading end tag.");
    doc.Parse("<a/>", nullptr);
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), 0);
}

TEST(Errors, FailedAllocationKeepsWhatWasReadBefore) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    VelkDocument doc;
    ParseFailingAllocation(&doc, "<a x='1' y='2'/>", 2);
    ASSERT_EQ(doc.ErrorCode(), VELK_ERROR_ALLOCATION);
    EXPECT_EQ(doc.ErrorCursor().col, 8);
    const VelkElement* a = doc.FirstChildElement();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->Attribute("x"), "1");
    EXPECT_EQ(a->Attribute("y"), nullptr);
}

}  // namespace

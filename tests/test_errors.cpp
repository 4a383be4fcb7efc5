// Every error code that the parser, the stream reader and the loader can
// raise, each with its exact message and position, in one table.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

using namespace TAVARO;

// Allocation failure injection: while armed, the given number of
// non-throwing allocations succeed and the next one fails. The library takes
// the slabs that hold its nodes and attributes with new (std::nothrow).
namespace {
int allocationsBeforeFailure = -1;
int nothrowAllocations = 0;
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++nothrowAllocations;
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

const std::string kTmp = VELK_TEST_TMPDIR;

// The ways the input reaches the library.
void Text(VelkDocument* doc, const std::string& input) {
    doc->Parse(input.c_str(), nullptr);
}

void File(VelkDocument* doc, const std::string& input) {
    const std::string file = velkcheck::TempPath("errors_case.xml");
    ASSERT_TRUE(velkcheck::WriteFile(file, input));
    EXPECT_FALSE(doc->LoadFile(file.c_str()));
    std::remove(file.c_str());
}

// LoadFile of the name input under the test directory.
void FileNamed(VelkDocument* doc, const std::string& input) {
    EXPECT_FALSE(doc->LoadFile((kTmp + input).c_str()));
}

void Stream(VelkDocument* doc, const std::string& input) {
    std::istringstream in(input);
    in >> *doc;
}

void StreamIn(VelkDocument* doc, const std::string& input) {
    std::istringstream in(input);
    std::string tag;
    doc->StreamIn(&in, &tag);
}

template <class Node>
VelkNode* New() {
    return new Node;
}
template <>
VelkNode* New<VelkElement>() {
    return new VelkElement("");
}

// A node linked in a document parses the input, with a tracker.
template <class Node>
void Linked(VelkDocument* doc, const std::string& input) {
    VelkNode* node = doc->LinkEndChild(New<Node>());
    VelkParsingData data(input.c_str(), doc->TabSize(), 0, 0);
    EXPECT_EQ(node->Parse(input.c_str(), &data), nullptr);
}

// Parse while the allocation after the given number of allocations fails.
template <int succeeding>
void Starved(VelkDocument* doc, const std::string& input) {
    allocationsBeforeFailure = succeeding;
    doc->Parse(input.c_str(), nullptr);
    allocationsBeforeFailure = -1;
}

// Whether the injection above is in force: valgrind replaces operator new
// with its own for the library, and then no allocation can be made to fail.
bool CanInjectAllocationFailures() {
#ifdef RUNNING_ON_VALGRIND
    if (RUNNING_ON_VALGRIND) return false;
#endif
    return true;
}

const char* const kMessages[] = {"",
                                 "Error",
                                 "Failed to open file",
                                 "Memory allocation failed.",
                                 "Error parsing Element.",
                                 "Failed to read Element name",
                                 "Error reading Element value.",
                                 "Error reading Attributes.",
                                 "Error: empty tag.",
                                 "Error reading end tag.",
                                 "Error parsing Unknown.",
                                 "Error parsing Comment.",
                                 "Error parsing Declaration.",
                                 "Error document empty.",
                                 "Error: text outside the document element."};

struct ErrorCase {
    void (*read)(VelkDocument*, const std::string&);
    std::string input;
    int code;
    int row;
    int col;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << "code " << c.code << " for \"" << velkcheck::Printable(c.input) << "\"";
}

const ErrorCase kCases[] = {
    {Text, "", 13, -1, -1},
    {Text, "<a/>\n x", 14, 1, 1},
    // Element start tag.
    {Text, "<abc", 5, 0, 1},
    {Text, "<a ", 7, 0, 2},
    {Text, "<a b>", 7, 0, 4},
    {Text, "<a b=", 7, -1, -1},  // '=' as the last character
    {Text, "<a b= ", 7, 0, 6},
    {Text, "<a =1/>", 7, 0, 3},
    {Text, "<r><a b='1' b='2'/></r>", 7, 0, 12},
    {Text, "<a>\n  <b c>", 7, 1, 6},
    {Text, "<a b='x", 4, 0, 3},
    {Text, "<a/ >", 8, 0, 3},
    {Text, "<a>\t<x href=a/b>", 8, 0, 14},  // '/' in an unquoted value, after a tab stop
    // Element content and end tag.
    {Text, "<a>text", 6, -1, -1},
    {Text, "<a><!-- x", 6, -1, -1},
    {Text, "<r><?xml version?></r>", 6, -1, -1},  // a child declaration fails
    {Text, "<a></b>", 9, 0, 3},
    {Text, "<a>\r\n<b></c></a>", 9, 1, 3},
    // Parses called on a node linked in a document.
    {Linked<VelkElement>, "  x", 4, 0, 2},
    {Linked<VelkElement>, " <", 5, -1, -1},
    {Linked<VelkUnknown>, " x", 10, 0, 1},
    {Linked<VelkComment>, "  <!- x -->", 11, 0, 2},
    {Linked<VelkDeclaration>, "<?XML version='1'?>", 12, -1, -1},
    // Allocation failure: the document's first slab (every later one below).
    {Starved<0>, "<a/>", 3, -1, -1},
    // Loading files.
    {FileNamed, "/no such file.xml", 2, -1, -1},
    {FileNamed, "", 2, -1, -1},  // the directory itself
    {File, "<?xml version='1.0'?>\n<a b>", 7, 1, 4},
    {File, std::string("<a>x\0</a>", 9), 6, -1, -1},  // the text ends at a NUL byte
    // Stream input.
    {Stream, "", 13, -1, -1},
    {Stream, "hello", 8, -1, -1},
    {Stream, "<?xml version=\"1.0\"?>", 1, -1, -1},
    {Stream, "<?xml version='1.0'?>x<root/>", 1, -1, -1},
    {Stream, "<a><b>text", 6, -1, -1},
    {Stream, "<a></b>", 9, 0, 3},
    {StreamIn, "", 8, -1, -1},
    {StreamIn, "<!-- c --><?pi?>", 1, -1, -1},
};

class ErrorTable : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorTable, RecordsCodeMessageAndPosition) {
    const ErrorCase& c = GetParam();
    if (c.read == Starved<0> && !CanInjectAllocationFailures())
        GTEST_SKIP() << "running under valgrind";
    VelkDocument doc;
    c.read(&doc, c.input);
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), c.code);
    EXPECT_STREQ(doc.ErrorMessage(), kMessages[c.code]);
    EXPECT_EQ(doc.ErrorCursor().row, c.row);
    EXPECT_EQ(doc.ErrorCursor().col, c.col);
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorTable, ::testing::ValuesIn(kCases));

TEST(Errors, TableCoversEveryCode) {
    std::set<int> codes;
    for (const ErrorCase& c : kCases) codes.insert(c.code);
    for (int code = 1; code < VELK_ERROR_STRING_COUNT; ++code)
        EXPECT_EQ(codes.count(code), 1u) << "code " << code;
}

// Parses input once for each allocation that its parse makes, with that one
// failing: each time error 3 is recorded, and check(doc, failing) looks at what
// was read before. Every document lives to the end, so that no slab is freed
// and kept for reuse: each parse allocates as the first one did.
template <class Check>
void StarveEachAllocation(const std::string& input, Check check) {
    if (!CanInjectAllocationFailures()) GTEST_SKIP() << "running under valgrind";
    const int before = nothrowAllocations;
    VelkDocument whole;
    whole.Parse(input.c_str(), nullptr);
    ASSERT_FALSE(whole.Error());
    const int count = nothrowAllocations - before;
    ASSERT_GT(count, 2) << "the input fills several slabs";
    std::vector<std::unique_ptr<VelkDocument>> docs;
    for (int failing = 0; failing < count; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        docs.emplace_back(new VelkDocument());
        VelkDocument& doc = *docs.back();
        allocationsBeforeFailure = failing;
        doc.Parse(input.c_str(), nullptr);
        allocationsBeforeFailure = -1;
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_ALLOCATION);
        check(doc, failing);
    }
}

TEST(Errors, FailedAttributeAllocationKeepsTheAttributesBefore) {
    const int n = 2000;
    std::string input = "<a";
    std::vector<int> gaps;  // where the white space before each attribute begins
    for (int i = 0; i < n; ++i) {
        gaps.push_back(static_cast<int>(input.size()));
        input += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
    }
    input += "/>";
    StarveEachAllocation(input, [&](const VelkDocument& doc, int failing) {
        const VelkElement* a = doc.FirstChildElement();
        ASSERT_EQ(a == nullptr, failing == 0) << "only the first slab holds the element";
        if (!a) return;
        int kept = 0;
        for (const VelkAttribute* x = a->FirstAttribute(); x; x = x->Next(), ++kept) {
            EXPECT_EQ(std::string(x->Name()), "a" + std::to_string(kept));
            EXPECT_EQ(std::string(x->Value()), std::to_string(kept));
        }
        ASSERT_LT(kept, n);
        EXPECT_EQ(doc.ErrorCursor().row, 0);
        EXPECT_EQ(doc.ErrorCursor().col, gaps[kept]);
    });
}

TEST(Errors, FailedChildAllocationKeepsTheChildrenBefore) {
    const int n = 2000;
    std::string input = "<r>";
    for (int i = 0; i < n; ++i) input += "t" + std::to_string(i) + "<e/>";
    input += "</r>";
    StarveEachAllocation(input, [&](const VelkDocument& doc, int failing) {
        EXPECT_EQ(doc.ErrorCursor().row, -1);
        EXPECT_EQ(doc.ErrorCursor().col, -1);
        const VelkElement* r = doc.FirstChildElement();
        ASSERT_EQ(r == nullptr, failing == 0) << "only the first slab holds the root";
        if (!r) return;
        int kept = 0;
        for (const VelkNode* child = r->FirstChild(); child; child = child->NextSibling()) {
            const std::string expected = kept % 2 ? "e" : "t" + std::to_string(kept / 2);
            EXPECT_EQ(child->SValue(), expected);
            EXPECT_EQ(child->Type(), kept % 2 ? VelkNode::ELEMENT : VelkNode::TEXT);
            ++kept;
        }
        EXPECT_LT(kept, 2 * n);
    });
}

}  // namespace

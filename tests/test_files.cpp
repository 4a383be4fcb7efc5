// Loading documents from named files and saving them back.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

class Files : public testing::Test {
protected:
    // A file name under the test directory holding bytes; removed after the test.
    std::string Path(const std::string& name, const char* bytes = nullptr) {
        created.push_back(TempPath(name));
        if (bytes) {
            EXPECT_TRUE(WriteFile(created.back(), bytes));
        }
        return created.back();
    }
    void TearDown() override {
        for (const std::string& path : created) std::remove(path.c_str());
    }
    std::vector<std::string> created;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// A file loads whole, however long its lines; a NUL byte in it is not XML and
// is reported where it stands, after the nodes read before it.
TEST_F(Files, LoadReadsTheWholeFileAndRefusesANul) {
    const std::string value(3000, 'v'), text(5000, 't');
    const std::string nul = std::to_string(VELK_ERROR_CHARACTER) + "@";
    // One case per line; tree: as printed.
    // clang-format off
    const struct { std::string bytes; bool loaded; std::string status; std::string tree; } cases[] = {
        {std::string("<a/>\0<b/>\n<c/>\n", 15), false, nul + "0:4", "<a />\n"},
        {std::string("\0<a/>\n", 6), false, nul + "0:0", ""},
        {std::string("<a>x\0</a>", 9), false, nul + "0:4", "<a>x</a>\n"},
        {std::string("<a>\n  <b/>\0", 11), false, nul + "1:6", "<a>\n    <b />\n</a>\n"},
        {std::string("<a/>\n\0", 6), false, nul + "1:0", "<a />\n"},
        {" \n\t\r\n", false, "13@-1:-1", ""},
        {"<r a='" + value + "'>" + text + "</r>", true, "ok", "<r a=\"" + value + "\">" + text + "</r>\n"}};
    // clang-format on
    const std::string path = Path("load.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tree);
        ASSERT_TRUE(WriteFile(path, c.bytes));
        VelkDocument loaded;
        EXPECT_EQ(loaded.LoadFile(path.c_str()), c.loaded);
        EXPECT_EQ(Status(loaded), c.status);
        EXPECT_EQ(PrettyText(loaded), c.tree);
        EXPECT_STREQ(loaded.Value(), path.c_str());
    }
}

// A document with nothing but a byte-order mark and white space is empty, read
// from text, a file or a stream alike, in either character model.
TEST_F(Files, EmptyDocumentsAreError13FromEveryInput) {
    const std::string path = Path("empty.xml");
    for (const char* bytes : {"", "\xEF\xBB\xBF", " \r\n\t", "\xEF\xBB\xBF\n  "}) {
        for (const bool utf8 : {false, true}) {
            SCOPED_TRACE(std::string("[") + bytes + "] utf8 " + std::to_string(utf8));
            VelkDocument text, loaded, streamed;
            for (VelkDocument* doc : {&text, &loaded, &streamed}) doc->SetUtf8(utf8);
            text.Parse(bytes, nullptr);
            ASSERT_TRUE(WriteFile(path, bytes));
            EXPECT_FALSE(loaded.LoadFile(path.c_str()));
            std::istringstream in(bytes);
            in >> streamed;
            for (const VelkDocument* doc : {&text, &loaded, &streamed}) {
                EXPECT_EQ(Status(*doc), "13@-1:-1");
                EXPECT_STREQ(doc->ErrorMessage(), "Error document empty.");
            }
        }
    }
}

// Each load replaces the tree and the name. A failed open (a missing file, a
// directory, no name) records error 2 and drops the tree; an empty file drops
// it with error 13; neither clears an error recorded before.
TEST_F(Files, SuccessiveLoadsIntoOneDocument) {
    const std::string good = Path("good.xml", "<!-- one --><a><b/></a>"),
                      empty = Path("empty.xml", ""), missing = Path("missing.xml");
    const struct {
        std::string name;
        const char* status;
    } steps[] = {
        {missing, "9@0:6"}, {empty, "13@-1:-1"}, {good, "ok"}, {VELK_TEST_TMPDIR, "2@-1:-1"},
        {good, "ok"},       {"", "2@-1:-1"},     {good, "ok"}, {empty, "13@-1:-1"}};
    VelkDocument doc;
    doc.Parse("<a><b></a>", nullptr);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        doc.SetValue(s.name.c_str());
        const bool loaded = s.name == good;
        EXPECT_EQ(doc.LoadFile(), loaded);
        EXPECT_EQ(Status(doc), s.status);
        EXPECT_EQ(PrettyText(doc), loaded ? "<!-- one -->\n<a>\n    <b />\n</a>\n" : "");
        EXPECT_STREQ(doc.Value(), s.name.c_str());
        EXPECT_EQ(doc.Location().row, loaded ? 0 : -1);
    }
}

TEST_F(Files, SaveWritesThePrettyFormInPlaceOfTheFile) {
    const std::string path = Path("out.xml", "longer text than what is saved, to be truncated");
    VelkDocument named(path.c_str());
    named.LinkEndChild(Element("a", {Element("b", {Text("x")})}));
    EXPECT_TRUE(named.SaveFile());
    EXPECT_EQ(ReadFile(path), "<a>\n    <b>x</b>\n</a>\n");
    EXPECT_TRUE(VelkDocument().SaveFile(path.c_str()));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(Files, AFailedSaveReturnsFalseAndLeavesTheErrorState) {
    const std::string noDirectory = std::string(VELK_TEST_TMPDIR) + "/no-such-directory/out.xml";
    VelkDocument clean, failed;
    clean.LinkEndChild(Element("a"));
    EXPECT_FALSE(clean.SaveFile(noDirectory.c_str()));
    EXPECT_FALSE(clean.SaveFile(VELK_TEST_TMPDIR));
    EXPECT_FALSE(clean.SaveFile());
    EXPECT_FALSE(clean.Error());
    failed.Parse("", nullptr);
    EXPECT_FALSE(failed.SaveFile(noDirectory.c_str()));
    EXPECT_EQ(Status(failed), "13@-1:-1");
}

}  // namespace

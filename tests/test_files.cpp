// Loading documents from named files and saving them back.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"
#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class Files : public testing::Test {
protected:
    // A file name under the test directory, unique to this test, holding bytes.
    std::string Path(const std::string& suffix, const char* bytes = nullptr) {
        const std::string path = std::string(VELK_TEST_TMPDIR) + "/files_" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 "_" + suffix;
        created.push_back(path);
        if (bytes) WriteFile(path, bytes);
        return path;
    }
    void TearDown() override {
        for (const std::string& path : created) std::remove(path.c_str());
    }
    std::vector<std::string> created;
};

const char kWellFormed[] =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<!-- a comment -->\n"
    "<root id='7'>\n"
    "  <item>one</item>\n"
    "</root>\n";

// A file loads as its text up to the first NUL byte parses.
TEST_F(Files, LoadReadsTheTextUpToTheFirstNul) {
    const std::string value(3000, 'v'), text(5000, 't');
    const struct {
        std::string bytes;
        bool loaded;
        int code;
        std::string tree;  // as printed
    } cases[] = {
        {kWellFormed, true, 0,
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!-- a comment -->\n<root id=\"7\">\n"
         "    <item>one</item>\n</root>\n"},
        {std::string("<a/>\0<b/>\n<c/>\n", 15), true, 0, "<a />\n"},
        {std::string("\0<a/>\n", 6), false, VELK_ERROR_DOCUMENT_EMPTY, ""},
        {" \n\t\r\n", true, 0, ""},
        {"<a/>\nsome text\n<b/>\n", true, 0, "<a />\n"},
        // One line far longer than any read chunk.
        {"<r a='" + value + "'>" + text + "</r>", true, 0,
         "<r a=\"" + value + "\">" + text + "</r>\n"},
        {"<r>\n  <a x='1'>\n    <b></a>\n</r>\n", false, VELK_ERROR_END_TAG,
         "<r>\n    <a x=\"1\">\n        <b />\n    </a>\n</r>\n"},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tree);
        const std::string path = Path(std::to_string(i++) + ".xml");
        WriteFile(path, c.bytes);
        VelkDocument loaded, parsed;
        EXPECT_EQ(loaded.LoadFile(path.c_str()), c.loaded);
        EXPECT_EQ(loaded.ErrorCode(), c.code);
        EXPECT_EQ(Printed(loaded), c.tree);
        EXPECT_STREQ(loaded.Value(), path.c_str());
        parsed.Parse(c.bytes.c_str(), nullptr);
        EXPECT_EQ(loaded.ErrorCursor().row, parsed.ErrorCursor().row);
        EXPECT_EQ(loaded.ErrorCursor().col, parsed.ErrorCursor().col);
    }
}

TEST_F(Files, AFailedOpenDropsTheTreeAndRecordsError2) {
    const std::string good = Path("good.xml", "<a/>"), missing = Path("missing.xml");
    for (const char* name : {missing.c_str(), VELK_TEST_TMPDIR, ""}) {
        SCOPED_TRACE(name);
        VelkDocument doc;
        ASSERT_TRUE(doc.LoadFile(good.c_str()));
        EXPECT_EQ(doc.Location().row, 0);
        doc.SetValue(name);
        EXPECT_FALSE(doc.LoadFile());
        EXPECT_TRUE(doc.Error());
        EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_OPEN_FILE);
        EXPECT_EQ(doc.ErrorCursor().row, -1);
        EXPECT_EQ(doc.FirstChild(), nullptr);
        EXPECT_EQ(doc.Location().row, -1);
        EXPECT_STREQ(doc.Value(), name);
    }
}

TEST_F(Files, SuccessiveLoadsOfMissingEmptyAndGoodFiles) {
    const std::string empty = Path("empty.xml", "");
    VelkDocument doc;
    doc.Parse("<a><b></a>", nullptr);
    const int code = doc.ErrorCode();
    const VelkCursor cursor = doc.ErrorCursor();
    // A failed open and an empty file both leave an earlier error as it is.
    EXPECT_FALSE(doc.LoadFile(Path("missing.xml").c_str()));
    EXPECT_FALSE(doc.LoadFile(empty.c_str()));
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), code);
    EXPECT_EQ(doc.ErrorCursor().row, cursor.row);
    EXPECT_EQ(doc.ErrorCursor().col, cursor.col);
    // A load that parses clears it; the next load replaces the tree.
    ASSERT_TRUE(doc.LoadFile(Path("first.xml", "<!-- one --><a><b/></a>").c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_STREQ(doc.ErrorMessage(), "");
    ASSERT_TRUE(doc.LoadFile(Path("second.xml", "<c x='1'/>\n").c_str()));
    EXPECT_EQ(Printed(doc), "<c x=\"1\" />\n");
    // An empty file drops the tree without recording an error.
    EXPECT_FALSE(doc.LoadFile(empty.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_STREQ(doc.Value(), empty.c_str());
}

TEST_F(Files, SaveUnderItsOwnNameReplacesTheFile) {
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
    EXPECT_EQ(failed.ErrorCode(), VELK_ERROR_DOCUMENT_EMPTY);
}

TEST_F(Files, SaveThenLoadGivesTheSameTree) {
    VelkDocument source;
    source.Parse(
        "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n<!DOCTYPE catalog>\n"
        "<catalog name=\"A &amp; B\" note='say \"hi\"' tick=\"it's\" nl='a&#x0A;b'>\n"
        "  <product id='1'>Caf\xE9 &lt;cr&egrave;me&gt;</product><!-- note -->\n"
        "  <para>before<b>bold</b>after &amp; more</para><empty></empty><tabs>a\tb</tabs>\n"
        "</catalog>\n",
        nullptr);
    ASSERT_FALSE(source.Error()) << source.ErrorMessage();
    // Enough lines that reading crosses many chunks.
    for (int i = 0; i < 5000; ++i)
        source.FirstChildElement()->LinkEndChild(Element("item", "n", "<&>", {Text("x\ty")}));
    const std::string first = Path("first.xml"), second = Path("second.xml");
    ASSERT_TRUE(source.SaveFile(first.c_str()));
    EXPECT_EQ(ReadFile(first), Printed(source));
    VelkDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(first.c_str())) << loaded.ErrorMessage();
    EXPECT_EQ(Printed(loaded), Printed(source));
    ASSERT_TRUE(loaded.SaveFile(second.c_str()));
    EXPECT_EQ(ReadFile(second), ReadFile(first));
}

}  // namespace

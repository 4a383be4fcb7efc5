// Loading documents from named files and saving them back.
#include <pthread.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Velk/base/velk.h"

using namespace TAVARO;

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

// A readable outline of a subtree: kinds, values, attributes and declaration strings.
void Outline(const VelkNode* node, int depth, std::string* out) {
    static const char* const kKinds[] = {"document", "element", "comment",
                                         "unknown",  "text",    "declaration"};
    out->append(2 * depth, ' ');
    *out += kKinds[node->Type()];
    *out += " [" + node->SValue() + "]";
    if (const VelkElement* element = node->ToElement()) {
        for (const VelkAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next())
            *out += std::string(" ") + a->Name() + "=[" + a->Value() + "]";
    }
    if (node->Type() == VelkNode::DECLARATION) {
        const VelkDeclaration* d = static_cast<const VelkDeclaration*>(node);
        *out += std::string(" ") + d->Version() + "|" + d->Encoding() + "|" + d->Standalone();
    }
    *out += "\n";
    for (const VelkNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling())
        Outline(child, depth + 1, out);
}

// The outline of a document's top-level nodes (not of the document's own name).
std::string Outline(const VelkDocument& doc) {
    std::string out;
    for (const VelkNode* child = doc.FirstChild(); child != nullptr; child = child->NextSibling())
        Outline(child, 0, &out);
    return out;
}

int CountChildren(const VelkNode& node) {
    int count = 0;
    for (const VelkNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling())
        ++count;
    return count;
}

class Files : public testing::Test {
protected:
    // A file name under the test directory, unique to this test.
    std::string Path(const char* suffix) {
        std::string path = std::string(VELK_TEST_TMPDIR) + "/files_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                           suffix;
        created.push_back(path);
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

TEST_F(Files, LoadWellFormedFile) {
    const std::string path = Path("in.xml");
    WriteFile(path, kWellFormed);
    VelkDocument doc;
    EXPECT_TRUE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), 0);
    EXPECT_STREQ(doc.Value(), path.c_str());
    EXPECT_EQ(Outline(doc),
              "declaration [] 1.0|UTF-8|\n"
              "comment [ a comment ]\n"
              "element [root] id=[7]\n"
              "  element [item]\n"
              "    text [one]\n");
}

TEST_F(Files, LoadMissingFileOnFreshDocument) {
    const std::string path = Path("missing.xml");
    VelkDocument doc;
    EXPECT_FALSE(doc.LoadFile(path.c_str()));
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_OPEN_FILE);
    EXPECT_STREQ(doc.ErrorMessage(), "Failed to open file");
    EXPECT_EQ(doc.ErrorCursor().row, -1);
    EXPECT_EQ(doc.ErrorCursor().col, -1);
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_STREQ(doc.Value(), path.c_str());
}

TEST_F(Files, FailedLoadDropsThePreviousTreeAndLocation) {
    const std::string good = Path("good.xml");
    WriteFile(good, kWellFormed);
    VelkDocument doc;
    ASSERT_TRUE(doc.LoadFile(good.c_str()));
    EXPECT_EQ(doc.Location().row, 0);
    EXPECT_EQ(doc.Location().col, 0);

    const std::string missing = Path("missing.xml");
    EXPECT_FALSE(doc.LoadFile(missing.c_str()));
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_EQ(doc.Location().row, -1);
    EXPECT_EQ(doc.Location().col, -1);
    EXPECT_STREQ(doc.Value(), missing.c_str());
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_OPEN_FILE);
}

TEST_F(Files, OpenFailureKeepsAnEarlierError) {
    VelkDocument doc;
    doc.Parse("<a><b></a>", nullptr);
    ASSERT_TRUE(doc.Error());
    const int code = doc.ErrorCode();
    const std::string message = doc.ErrorMessage();
    const VelkCursor cursor = doc.ErrorCursor();

    EXPECT_FALSE(doc.LoadFile(Path("missing.xml").c_str()));
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_EQ(doc.ErrorCode(), code);
    EXPECT_EQ(doc.ErrorMessage(), message);
    EXPECT_EQ(doc.ErrorCursor().row, cursor.row);
    EXPECT_EQ(doc.ErrorCursor().col, cursor.col);
}

TEST_F(Files, LoadDirectoryIsAnOpenFailure) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkElement("old"));
    EXPECT_FALSE(doc.LoadFile(VELK_TEST_TMPDIR));
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_OPEN_FILE);
    EXPECT_STREQ(doc.ErrorMessage(), "Failed to open file");
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_STREQ(doc.Value(), VELK_TEST_TMPDIR);
}

TEST_F(Files, LoadEmptyFileOnFreshDocument) {
    const std::string path = Path("empty.xml");
    WriteFile(path, "");
    VelkDocument doc;
    EXPECT_FALSE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), 0);
    EXPECT_EQ(doc.FirstChild(), nullptr);
    EXPECT_STREQ(doc.Value(), path.c_str());
}

TEST_F(Files, LoadEmptyFileDropsTheTreeAndKeepsTheErrorState) {
    const std::string good = Path("good.xml");
    const std::string empty = Path("empty.xml");
    WriteFile(good, kWellFormed);
    WriteFile(empty, "");

    VelkDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(good.c_str()));
    EXPECT_FALSE(loaded.LoadFile(empty.c_str()));
    EXPECT_FALSE(loaded.Error());
    EXPECT_EQ(loaded.FirstChild(), nullptr);

    VelkDocument failed;
    EXPECT_FALSE(failed.LoadFile(Path("missing.xml").c_str()));
    EXPECT_FALSE(failed.LoadFile(empty.c_str()));
    EXPECT_EQ(failed.ErrorCode(), VELK_ERROR_OPEN_FILE);
    EXPECT_STREQ(failed.Value(), empty.c_str());
}

TEST_F(Files, LoadingReplacesThePreviousTree) {
    const std::string first = Path("first.xml");
    const std::string second = Path("second.xml");
    WriteFile(first, "<!-- one --><a><b/></a>");
    WriteFile(second, "<c x='1'/>\n");
    VelkDocument doc;
    ASSERT_TRUE(doc.LoadFile(first.c_str()));
    EXPECT_EQ(CountChildren(doc), 2);
    ASSERT_TRUE(doc.LoadFile(second.c_str()));
    EXPECT_EQ(Outline(doc), "element [c] x=[1]\n");
    EXPECT_STREQ(doc.Value(), second.c_str());
}

TEST_F(Files, LoadingClearsAnEarlierErrorWhenTheTextParses) {
    const std::string path = Path("ok.xml");
    WriteFile(path, "<a/>");
    VelkDocument doc;
    EXPECT_FALSE(doc.LoadFile(Path("missing.xml").c_str()));
    EXPECT_TRUE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.ErrorCode(), 0);
    EXPECT_STREQ(doc.ErrorMessage(), "");
}

TEST_F(Files, TopLevelTextAfterTheRootIsDropped) {
    const std::string path = Path("trailing.xml");
    WriteFile(path, "<a/>\nsome text\n<b/>\n");
    VelkDocument doc;
    EXPECT_TRUE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(Outline(doc), "element [a]\n");
}

TEST_F(Files, ParseErrorIsReportedAsByParse) {
    const char text[] = "<r>\n  <a x='1'>\n    <b></a>\n</r>\n";
    VelkDocument parsed;
    parsed.Parse(text, nullptr);
    ASSERT_TRUE(parsed.Error());

    const std::string path = Path("bad.xml");
    WriteFile(path, text);
    VelkDocument loaded;
    EXPECT_FALSE(loaded.LoadFile(path.c_str()));
    EXPECT_TRUE(loaded.Error());
    EXPECT_EQ(loaded.ErrorCode(), parsed.ErrorCode());
    EXPECT_STREQ(loaded.ErrorMessage(), parsed.ErrorMessage());
    EXPECT_EQ(loaded.ErrorCursor().row, parsed.ErrorCursor().row);
    EXPECT_EQ(loaded.ErrorCursor().col, parsed.ErrorCursor().col);
    EXPECT_EQ(Outline(loaded), Outline(parsed));
}

TEST_F(Files, LineLongerThanAnyChunkLoadsWhole) {
    const std::string value(3000, 'v');
    const std::string text(5000, 't');
    const std::string path = Path("long.xml");
    WriteFile(path, "<r a='" + value + "'>" + text + "</r>");
    VelkDocument doc;
    ASSERT_TRUE(doc.LoadFile(path.c_str()));
    const VelkElement* r = doc.FirstChildElement("r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r->Attribute("a")), value);
    ASSERT_NE(r->FirstChild(), nullptr);
    EXPECT_EQ(r->FirstChild()->SValue(), text);
}

TEST_F(Files, NulByteEndsTheText) {
    const std::string path = Path("nul.xml");
    WriteFile(path, std::string("<a/>") + '\0' + "<b/>\n<c/>\n");
    VelkDocument doc;
    EXPECT_TRUE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(Outline(doc), "element [a]\n");
}

TEST_F(Files, FileStartingWithNulIsAnEmptyDocument) {
    const std::string path = Path("nul.xml");
    WriteFile(path, std::string("\0<a/>\n", 6));
    VelkDocument doc;
    EXPECT_FALSE(doc.LoadFile(path.c_str()));
    EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_DOCUMENT_EMPTY);
    EXPECT_STREQ(doc.ErrorMessage(), "Error document empty.");
    EXPECT_EQ(doc.FirstChild(), nullptr);
}

TEST_F(Files, WhiteSpaceOnlyFileLoadsAsEmpty) {
    const std::string path = Path("blank.xml");
    WriteFile(path, " \n\t\r\n");
    VelkDocument doc;
    EXPECT_TRUE(doc.LoadFile(path.c_str()));
    EXPECT_FALSE(doc.Error());
    EXPECT_EQ(doc.FirstChild(), nullptr);
}

TEST_F(Files, SaveWritesThePrettyForm) {
    VelkDocument doc;
    doc.LinkEndChild(new VelkDeclaration("1.0", "", ""));
    VelkComment* comment = new VelkComment();
    comment->SetValue("c");
    doc.LinkEndChild(comment);
    VelkElement* root = static_cast<VelkElement*>(doc.LinkEndChild(new VelkElement("root")));
    root->SetAttribute("a", "1");
    root->LinkEndChild(new VelkElement("child"));
    root->LinkEndChild(new VelkText("hi"));
    root->LinkEndChild(new VelkElement("e"))->LinkEndChild(new VelkText("t"));

    const std::string path = Path("out.xml");
    WriteFile(path, std::string(10000, 'x'));  // saving truncates what was there
    EXPECT_TRUE(doc.SaveFile(path.c_str()));
    EXPECT_EQ(ReadFile(path),
              "<?xml version=\"1.0\" ?>\n"
              "<!--c-->\n"
              "<root a=\"1\">\n"
              "    <child />hi\n"
              "    <e>t</e>\n"
              "</root>\n");
    EXPECT_FALSE(doc.Error());
}

TEST_F(Files, SaveEmptyDocumentWritesAnEmptyFile) {
    const std::string path = Path("empty.xml");
    VelkDocument doc;
    EXPECT_TRUE(doc.SaveFile(path.c_str()));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(Files, SaveIntoMissingDirectoryLeavesTheErrorState) {
    const std::string path = std::string(VELK_TEST_TMPDIR) + "/no-such-directory/out.xml";
    VelkDocument clean;
    clean.LinkEndChild(new VelkElement("a"));
    EXPECT_FALSE(clean.SaveFile(path.c_str()));
    EXPECT_FALSE(clean.Error());
    EXPECT_EQ(clean.ErrorCode(), 0);

    VelkDocument failed;
    failed.Parse("", nullptr);
    ASSERT_TRUE(failed.Error());
    const int code = failed.ErrorCode();
    EXPECT_FALSE(failed.SaveFile(path.c_str()));
    EXPECT_EQ(failed.ErrorCode(), code);
    EXPECT_STREQ(failed.ErrorMessage(), "Error document empty.");

    EXPECT_FALSE(clean.SaveFile(VELK_TEST_TMPDIR)) << "a directory cannot be written as a file";
    EXPECT_FALSE(clean.Error());
}

TEST_F(Files, NamedDocumentLoadsAndSavesUnderItsName) {
    const std::string in = Path("in.xml");
    const std::string out = Path("out.xml");
    WriteFile(in, "<a><b>x</b></a>");

    VelkDocument doc(in.c_str());
    EXPECT_TRUE(doc.LoadFile());
    EXPECT_EQ(Outline(doc), "element [a]\n  element [b]\n    text [x]\n");
    EXPECT_STREQ(doc.Value(), in.c_str());

    doc.SetValue(out.c_str());
    EXPECT_TRUE(doc.SaveFile());
    EXPECT_EQ(ReadFile(out), "<a>\n    <b>x</b>\n</a>\n");
}

TEST_F(Files, UnnamedDocumentCannotLoadOrSave) {
    VelkDocument saver;
    saver.LinkEndChild(new VelkElement("a"));
    EXPECT_FALSE(saver.SaveFile());
    EXPECT_FALSE(saver.Error());

    VelkDocument loader;
    EXPECT_FALSE(loader.LoadFile());
    EXPECT_EQ(loader.ErrorCode(), VELK_ERROR_OPEN_FILE);
    EXPECT_STREQ(loader.ErrorMessage(), "Failed to open file");
}

TEST_F(Files, SaveThenLoadGivesTheSameTree) {
    VelkBase::condenseWhiteSpace = true;
    const char text[] =
        "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n"
        "<!DOCTYPE catalog>\n"
        "<!-- products -->\n"
        "<catalog name=\"A &amp; B\" note='say \"hi\"' tick=\"it's\" nl='a&#x0A;b'>\n"
        "  <product id='1' price='9.50'>Caf\xE9 &lt;cr&egrave;me&gt;</product>\n"
        "  <product id='2'/>\n"
        "  <para>before<b>bold</b>after &amp; more</para>\n"
        "  <!-- inner comment -->\n"
        "  <empty></empty>\n"
        "  <tabs>a\tb</tabs>\n"
        "</catalog>\n";
    VelkDocument source;
    source.Parse(text, nullptr);
    ASSERT_FALSE(source.Error()) << source.ErrorMessage();

    const std::string first = Path("first.xml");
    const std::string second = Path("second.xml");
    ASSERT_TRUE(source.SaveFile(first.c_str()));
    VelkDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(first.c_str())) << loaded.ErrorMessage();
    EXPECT_EQ(Outline(loaded), Outline(source));

    ASSERT_TRUE(loaded.SaveFile(second.c_str()));
    EXPECT_EQ(ReadFile(second), ReadFile(first));
}

TEST_F(Files, ManyNodesRoundTrip) {
    VelkDocument source;
    VelkElement* root = static_cast<VelkElement*>(source.LinkEndChild(new VelkElement("root")));
    for (int i = 0; i < 20000; ++i) {
        VelkElement* item = static_cast<VelkElement*>(root->LinkEndChild(new VelkElement("item")));
        item->SetAttribute("n", i);
        item->LinkEndChild(new VelkText(("value <" + std::to_string(i) + ">").c_str()));
    }
    const std::string path = Path("many.xml");
    ASSERT_TRUE(source.SaveFile(path.c_str()));
    VelkDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(path.c_str()));
    EXPECT_EQ(Outline(loaded), Outline(source));
}

TEST_F(Files, DeepFileLoads) {
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    text += "x";
    for (int i = 0; i < depth; ++i) text += "</e>";
    const std::string path = Path("deep.xml");
    WriteFile(path, text);

    VelkDocument doc;
    ASSERT_TRUE(doc.LoadFile(path.c_str())) << doc.ErrorMessage();
    const VelkNode* node = &doc;
    int levels = 0;
    while (const VelkElement* child = node->FirstChildElement("e")) {
        EXPECT_EQ(child->NextSibling(), nullptr);
        node = child;
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    ASSERT_NE(node->FirstChild(), nullptr);
    EXPECT_STREQ(node->FirstChild()->Value(), "x");
}

// Runs body on a thread whose stack is far too small for a walk that recursed
// once per nesting level.
void RunOnSmallStack(void (*body)(void*), void* arg) {
    struct Call {
        void (*body)(void*);
        void* arg;
    } call{body, arg};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* p) -> void* {
                      Call* c = static_cast<Call*>(p);
                      c->body(c->arg);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

struct DeepSave {
    std::string path;
    int depth;
    bool saved;
};

// Builds a chain of depth elements around the text x, saves it and deletes it.
void BuildAndSaveDeep(void* arg) {
    DeepSave* run = static_cast<DeepSave*>(arg);
    VelkDocument doc;
    VelkNode* node = &doc;
    for (int i = 0; i < run->depth; ++i) node = node->LinkEndChild(new VelkElement("e"));
    node->LinkEndChild(new VelkText("x"));
    run->saved = doc.SaveFile(run->path.c_str());
}

TEST_F(Files, DeepDocumentSavesAndLoadsBack) {
    // The pretty form grows with the square of the depth, so the depth stays modest;
    // the small stack is what would catch a recursive print or delete.
    DeepSave run{Path("deep.xml"), 3000, false};
    RunOnSmallStack(BuildAndSaveDeep, &run);
    ASSERT_TRUE(run.saved);

    // Level k of the d - 1 outer levels writes 8k spaces, "<e>", "</e>" and two line feeds;
    // the innermost writes 4(d - 1) spaces and "<e>x</e>"; the document adds a line feed.
    const size_t d = static_cast<size_t>(run.depth);
    const std::string saved = ReadFile(run.path);
    EXPECT_EQ(saved.size(), 4 * (d - 1) * (d - 2) + 9 * (d - 1) + 4 * (d - 1) + 8 + 1);
    const std::string head = "<e>\n    <e>\n        <e>\n";
    const std::string tail = "\n        </e>\n    </e>\n</e>\n";
    ASSERT_GT(saved.size(), head.size() + tail.size());
    EXPECT_EQ(saved.substr(0, head.size()), head);
    EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);

    VelkDocument loaded;
    ASSERT_TRUE(loaded.LoadFile(run.path.c_str())) << loaded.ErrorMessage();
    const VelkNode* node = &loaded;
    int levels = 0;
    while (const VelkNode* child = node->FirstChildElement()) {
        node = child;
        ++levels;
    }
    EXPECT_EQ(levels, run.depth);
    ASSERT_NE(node->FirstChild(), nullptr);
    EXPECT_STREQ(node->FirstChild()->Value(), "x");
}

}  // namespace

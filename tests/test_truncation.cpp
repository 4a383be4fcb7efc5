// Truncated input: every prefix of a few representative documents, read as
// text, as a file and as a stream, gives a clean result: an error exactly when
// the text stops inside the root element (for a stream: before the root
// element is complete), and nothing lost of what came before the cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "velk_check.h"

using namespace TAVARO;

namespace {

struct Sample {
    const char* name;  // of the root element
    std::string text;
};

const Sample kSamples[] = {
    {"root",
     "<?xml version='1.0' encoding=\"UTF-8\"?>\n<!-- head -->\n<!DOCTYPE root>\n"
     "<root a=\"1\" b='x &amp; y' c=plain>\n  <child>text &lt;here&gt; &#x41;</child>\n  <empty/>\n"
     "  <!-- inner -- comment -->\n  <?pi data?>\n  mixed <b>bold</b> tail\n</root>\n<!-- tail "
     "-->\n"},
    {"a", "<a><b><c><d>deep</d></c></b></a>"},
    {"doc",
     "<doc\r\n\tk = 'v'>caf\xC3\xA9 &#xE9;<x:y z.w='&quot;' q=\"it's\"/><![CDATA[1<2]]></DOC>  "},
};

// Element names and attribute names ("@name") in document order.
std::vector<std::string> Names(const VelkNode& node, std::vector<std::string> names = {}) {
    if (const VelkElement* e = const_cast<VelkNode&>(node).ToElement()) {
        names.push_back(e->SValue());
        for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
            names.push_back(std::string("@") + a->Name());
    }
    for (const VelkNode* c = node.FirstChild(); c; c = c->NextSibling()) names = Names(*c, names);
    return names;
}

// The names read from a prefix are those of the whole document, in order, the
// last one possibly cut short.
void ExpectNamesArePrefix(const std::vector<std::string>& part,
                          const std::vector<std::string>& whole) {
    ASSERT_LE(part.size(), whole.size());
    for (size_t i = 0; i < part.size(); ++i) {
        const size_t length = i + 1 < part.size() ? whole[i].size() : part[i].size();
        EXPECT_EQ(whole[i].compare(0, length, part[i]), 0) << part[i] << " against " << whole[i];
    }
}

TEST(Truncation, EveryPrefixAsTextFileAndStream) {
    const std::string path = velkcheck::TempPath("truncated.xml");
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.name);
        VelkDocument full;
        full.Parse(s.text.c_str(), nullptr);
        ASSERT_FALSE(full.Error()) << s.name;
        const std::vector<std::string> whole = Names(full);
        const size_t rootStart = s.text.find(std::string("<") + s.name);
        const size_t rootEnd = s.text.find('>', s.text.rfind("</")) + 1;
        for (size_t cut = 0; cut <= s.text.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const std::string prefix = s.text.substr(0, cut);
            VelkDocument doc;
            doc.Parse(prefix.c_str(), nullptr);
            EXPECT_EQ(velkcheck::CheckLinks(doc), "");
            const bool insideRoot = cut >= rootStart + 2 && cut < rootEnd;
            EXPECT_EQ(doc.Error(), cut == 0 || insideRoot) << doc.ErrorMessage();
            if (cut >= rootEnd) {
                EXPECT_EQ(velkcheck::TreeDiff(full, doc, velkcheck::Form::kSame, true, true), "");
            }
            ExpectNamesArePrefix(Names(doc), whole);

            // The file loads as the text parses, except that an empty file is no error.
            ASSERT_TRUE(velkcheck::WriteFile(path, prefix));
            VelkDocument loaded;
            EXPECT_EQ(loaded.LoadFile(path.c_str()), cut > 0 && !doc.Error());
            EXPECT_EQ(loaded.ErrorCode(), cut == 0 ? 0 : doc.ErrorCode());
            EXPECT_EQ(velkcheck::TreeDiff(doc, loaded), "");

            // A stream fails until the root element is complete.
            std::istringstream in(prefix);
            VelkDocument streamed;
            in >> streamed;
            EXPECT_EQ(velkcheck::CheckLinks(streamed), "");
            EXPECT_EQ(streamed.Error(), cut < rootEnd) << streamed.ErrorMessage();
            if (cut >= rootEnd) {
                EXPECT_EQ(velkcheck::TreeDiff(full, streamed, velkcheck::Form::kSame, true, true),
                          "");
            }
            // A single element read from the same prefix of the root's text.
            std::istringstream elementIn(prefix.substr(std::min(rootStart, cut)));
            VelkElement element("");
            elementIn >> element;
            EXPECT_EQ(velkcheck::CheckLinks(element), "");
        }
    }
    std::remove(path.c_str());
}

}  // namespace

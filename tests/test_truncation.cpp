// Truncated input: every prefix of a few representative documents, read as
// text and as a stream, gives a clean result: an error when the
// text stops inside the root element (for a stream: before the root element is
// complete), none when it stops between whole items, and nothing lost of what
// came before the cut.
#include <Velk/base/velk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "test_util.h"

using namespace TAVARO;
using namespace velk_test;

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
    {"doc",
     "<doc\r\n\tk = 'v'>caf\xC3\xA9 &#xE9;<x:y z.w='&quot;' q=\"it's\"/><![CDATA[1<2]]></DOC>  "},
};

// Element names and attribute names ("@name") in document order, each after a space.
std::string Names(const VelkNode& node) {
    std::string names;
    if (const VelkElement* e = node.ToElement()) {
        names += " " + e->SValue();
        for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
            names += std::string(" @") + a->Name();
    }
    for (const VelkNode* c = node.FirstChild(); c; c = c->NextSibling()) names += Names(*c);
    return names;
}

TEST(Truncation, EveryPrefixAsTextAndStream) {
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.name);
        VelkDocument full;
        full.Parse(s.text.c_str(), nullptr);
        ASSERT_FALSE(full.Error()) << s.name;
        const std::string whole = Names(full);
        const size_t rootStart = s.text.find(std::string("<") + s.name);
        const size_t rootEnd = s.text.find('>', s.text.rfind("</")) + 1;
        for (size_t cut = 0; cut <= s.text.size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const std::string prefix = s.text.substr(0, cut);
            VelkDocument doc;
            doc.Parse(prefix.c_str(), nullptr);
            EXPECT_EQ(CheckLinks(doc), "");
            // Markup that the cut leaves open is an error outside the root element too.
            const bool insideRoot = cut >= rootStart + 2 && cut < rootEnd;
            const size_t open = prefix.rfind('<');
            const bool openMarkup =
                open != std::string::npos && prefix.find('>', open) == std::string::npos;
            EXPECT_EQ(doc.Error(), cut == 0 || insideRoot || openMarkup) << doc.ErrorMessage();
            if (cut >= rootEnd) {
                EXPECT_EQ(Compact(doc), Compact(full));
            }
            // The names read are the whole document's, the last possibly cut short.
            const std::string names = Names(doc);
            EXPECT_EQ(whole.compare(0, names.size(), names), 0) << names;

            // A stream fails until the root element is complete.
            std::istringstream in(prefix);
            VelkDocument streamed;
            in >> streamed;
            EXPECT_EQ(CheckLinks(streamed), "");
            EXPECT_EQ(streamed.Error(), cut < rootEnd) << streamed.ErrorMessage();
            if (cut >= rootEnd) {
                EXPECT_EQ(Compact(streamed), Compact(full));
            }
            // A single element read from the same prefix of the root's text.
            std::istringstream elementIn(prefix.substr(std::min(rootStart, cut)));
            VelkElement element("");
            elementIn >> element;
            EXPECT_EQ(CheckLinks(element), "");
        }
    }
}

}  // namespace

// Truncated input: every prefix of a few representative documents, read as
// text, as a file and as a stream, gives a clean result: an error exactly when
// the text stops inside the root element (for a stream: before the root
// element is complete), and nothing lost of what came before the cut.
#include <gtest/gtest.h>

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
std::vector<std::string> Names(const VelkNode& root) {
    std::vector<std::string> names;
    std::vector<const VelkNode*> pending{&root};
    while (!pending.empty()) {
        const VelkNode* node = pending.back();
        pending.pop_back();
        if (const VelkElement* e = node->ToElement()) {
            names.push_back(e->SValue());
            for (const VelkAttribute* a = e->FirstAttribute(); a; a = a->Next())
                names.push_back(std::string("@") + a->Name());
        }
        std::vector<const VelkNode*> children;
        for (const VelkNode* c = node->FirstChild(); c; c = c->NextSibling()) children.push_back(c);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return names;
}

// The names read from a prefix are those of the whole document, in order, the
// last one possibly cut short.
void ExpectNamesArePrefix(const std::vector<std::string>& part,
                          const std::vector<std::string>& whole, size_t cut) {
    ASSERT_LE(part.size(), whole.size()) << "cut at " << cut;
    for (size_t i = 0; i < part.size(); ++i) {
        if (i + 1 < part.size()) {
            EXPECT_EQ(part[i], whole[i]) << "cut at " << cut;
        } else {
            EXPECT_EQ(whole[i].compare(0, part[i].size(), part[i]), 0)
                << "cut at " << cut << ": '" << part[i] << "' against '" << whole[i] << "'";
        }
    }
}

class Truncation : public ::testing::TestWithParam<Sample> {};

TEST_P(Truncation, EveryPrefixAsText) {
    const Sample& s = GetParam();
    VelkDocument full;
    full.Parse(s.text.c_str(), nullptr);
    ASSERT_FALSE(full.Error()) << full.ErrorMessage();
    const std::vector<std::string> whole = Names(full);
    const size_t rootStart = s.text.find(std::string("<") + s.name);
    const size_t rootEnd = s.text.find('>', s.text.rfind("</")) + 1;
    for (size_t cut = 0; cut <= s.text.size(); ++cut) {
        const std::string prefix = s.text.substr(0, cut);
        VelkDocument doc;
        doc.Parse(prefix.c_str(), nullptr);
        EXPECT_EQ(velkcheck::CheckLinks(doc), "") << "cut at " << cut;
        if (cut == 0) {
            EXPECT_EQ(doc.ErrorCode(), VELK_ERROR_DOCUMENT_EMPTY);
            continue;
        }
        const bool insideRoot = cut >= rootStart + 2 && cut < rootEnd;
        EXPECT_EQ(doc.Error(), insideRoot) << "cut at " << cut << ": " << doc.ErrorMessage();
        ExpectNamesArePrefix(Names(doc), whole, cut);
        if (cut >= rootEnd) {
            EXPECT_EQ(velkcheck::TreeDiff(full, doc, velkcheck::Form::kSame, true, true), "");
        }
    }
}

TEST_P(Truncation, EveryPrefixAsFile) {
    const Sample& s = GetParam();
    const std::string path = std::string(VELK_TEST_TMPDIR) + "/truncated.xml";
    for (size_t cut = 0; cut <= s.text.size(); ++cut) {
        const std::string prefix = s.text.substr(0, cut);
        FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(prefix.data(), 1, prefix.size(), out);
        std::fclose(out);
        VelkDocument loaded;
        const bool ok = loaded.LoadFile(path.c_str());
        VelkDocument parsed;
        parsed.Parse(prefix.c_str(), nullptr);
        if (cut == 0) {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(loaded.Error());
            continue;
        }
        EXPECT_EQ(ok, !parsed.Error()) << "cut at " << cut;
        EXPECT_EQ(loaded.ErrorCode(), parsed.ErrorCode()) << "cut at " << cut;
        EXPECT_EQ(velkcheck::TreeDiff(parsed, loaded), "") << "cut at " << cut;
    }
}

TEST_P(Truncation, EveryPrefixAsStream) {
    const Sample& s = GetParam();
    VelkDocument full;
    full.Parse(s.text.c_str(), nullptr);
    const size_t rootEnd = s.text.find('>', s.text.rfind("</")) + 1;
    for (size_t cut = 0; cut <= s.text.size(); ++cut) {
        std::istringstream in(s.text.substr(0, cut));
        VelkDocument doc;
        in >> doc;
        EXPECT_EQ(velkcheck::CheckLinks(doc), "") << "cut at " << cut;
        EXPECT_EQ(doc.Error(), cut < rootEnd) << "cut at " << cut << ": " << doc.ErrorMessage();
        if (cut >= rootEnd) {
            EXPECT_EQ(velkcheck::TreeDiff(full, doc, velkcheck::Form::kSame, true, true), "")
                << cut;
        }

        // A single element read from the same prefix of the root's text.
        const size_t rootStart = s.text.find(std::string("<") + s.name);
        std::istringstream elementIn(
            s.text.substr(rootStart, cut > rootStart ? cut - rootStart : 0));
        VelkElement element("");
        elementIn >> element;
        EXPECT_EQ(velkcheck::CheckLinks(element), "") << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, Truncation, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

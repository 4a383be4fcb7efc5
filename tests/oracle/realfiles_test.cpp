// Real files: every XML file on this machine (under /usr/share and /etc) that
// libxml2 accepts is read by this library in the UTF-8 model and must give the
// outline libxml2 reads; then the library's pretty output must be well-formed
// for libxml2 and read the same again. A file that declares another encoding
// is converted to UTF-8 with iconv first.
//
// A file is tried when it is a regular file (symbolic links are not followed:
// no loops, no file twice) of at most 20 MB whose first byte after an optional
// UTF-8 byte-order mark and white space is '<': the content decides, not the
// name, so .xml, .svg, .policy and the like are all found and INI files or
// scripts named .xml are not.
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "outline.h"

using namespace velkoracle;
namespace fs = std::filesystem;

namespace {

constexpr size_t kExamplesPerCause = 4;

// The first limit bytes of the file.
std::string ReadFile(const fs::path& path, std::uintmax_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(&text[0], static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

bool StartsWithMarkup(const fs::path& path) {
    std::string head = ReadFile(path, 512);
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0) head.erase(0, 3);
    const size_t first = head.find_first_not_of(" \t\r\n");
    return first != std::string::npos && head[first] == '<';
}

// The files tried, sorted so that every run walks them in the same order.
std::vector<std::string> XmlFiles() {
    std::vector<std::string> files;
    for (const char* root : {"/usr/share", "/etc"}) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (it->symlink_status(ignored).type() != fs::file_type::regular) continue;
            const std::uintmax_t size = it->file_size(ignored);
            if (ignored || size == 0 || size > (20u << 20)) continue;
            if (StartsWithMarkup(it->path())) files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Whether the tree holds a reference to an entity other than the five
// predefined ones (declared in the DOCTYPE or in a DTD that is not loaded):
// libxml2 keeps it as a reference node and this library does not expand it.
bool UsesDeclaredEntities(const xmlNode* first) {
    for (const xmlNode* n = first; n; n = n->next) {
        if (n->type == XML_ENTITY_REF_NODE) return true;
        if (n->type != XML_ELEMENT_NODE) continue;
        for (const xmlAttr* a = n->properties; a; a = a->next)
            if (UsesDeclaredEntities(a->children)) return true;
        if (UsesDeclaredEntities(n->children)) return true;
    }
    return false;
}

// The tally of the whole run and the files behind every difference, by cause.
struct Tally {
    size_t tried = 0, accepted = 0, entities = 0, converted = 0, compared = 0, readSame = 0,
           kept = 0, illFormed = 0, linesSame = 0;
    std::map<std::string, std::vector<std::string>> causes;

    void Note(const std::string& stage, const std::string& path, const Difference& d) {
        std::vector<std::string>& files = causes[stage + ": " + d.cause];
        const bool shown = files.size() < kExamplesPerCause && !d.detail.empty();
        files.push_back(shown ? path + "\n          " + d.detail : path);
    }
};

void Check(const std::string& path, Tally* tally) {
    ++tally->tried;
    const std::string bytes = ReadFile(path, fs::file_size(path));
    XmlDoc theirs = ReadWithLibxml(bytes, nullptr);
    if (!theirs) return;
    ++tally->accepted;
    if (UsesDeclaredEntities(theirs->children)) {
        ++tally->entities;
        return tally->Note("not compared", path, {"uses entities declared in a DOCTYPE", ""});
    }
    ++tally->compared;
    std::string text = bytes;
    const std::string encoding = Str(theirs->encoding);
    if (!encoding.empty() && strcasecmp(encoding.c_str(), "UTF-8") != 0) {
        ++tally->converted;
        if (!ToUtf8(bytes, encoding.c_str(), &text))
            return tally->Note("read", path, {"iconv cannot convert from " + encoding, ""});
    }
    VelkDocument doc;
    doc.SetUtf8(true);
    doc.Parse(text.c_str(), nullptr);
    if (doc.Error())
        return tally->Note("read", path,
                           {std::string("library error \"") + doc.ErrorMessage() + "\"",
                            "at row " + std::to_string(doc.ErrorCursor().row + 1) + ", column " +
                                std::to_string(doc.ErrorCursor().col + 1)});
    const Outline expected = OutlineOf(*theirs);
    Difference d = FirstDifference(OutlineOf(doc), expected);
    if (!d.cause.empty()) return tally->Note("read", path, d);
    ++tally->readSame;
    tally->linesSame += expected.size();
    XmlDoc back = ReadWithLibxml(velkcheck::PrettyText(doc), "UTF-8");
    if (!back) ++tally->illFormed;
    d = back ? FirstDifference(OutlineOf(*back), expected) : Difference{"output ill-formed", ""};
    if (!d.cause.empty()) return tally->Note("print", path, d);
    ++tally->kept;
}

std::string Percent(size_t part, size_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
}

TEST(RealFiles, ReadAndPrintedAsLibxml2ReadsThem) {
    const std::vector<std::string> files = XmlFiles();
    if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share or /etc on this machine";
    Tally t;
    for (const std::string& path : files) Check(path, &t);
    std::cout << "Files tried: " << t.tried << "\nAccepted by libxml2: " << t.accepted
              << ", of which " << t.entities
              << " use entities declared in a DOCTYPE (not compared) and " << t.converted
              << " declare an encoding other than UTF-8 (converted with iconv)\nRead the same: "
              << t.readSame << " of " << t.compared << " (" << Percent(t.readSame, t.compared)
              << "; " << t.linesSame
              << " outline lines alike)\nRound trips keeping content: " << t.kept << " of "
              << t.compared << " (" << Percent(t.kept, t.compared)
              << "); printed output ill-formed: " << t.illFormed << "\n";
    for (const auto& [cause, paths] : t.causes) {
        std::cout << "  " << cause << " (" << paths.size() << " files)\n";
        for (size_t i = 0; i < paths.size() && i < kExamplesPerCause; ++i)
            std::cout << "      " << paths[i] << "\n";
    }
    if (t.compared == 0) GTEST_SKIP() << "no file under /usr/share or /etc is well-formed XML";
    EXPECT_GE(t.readSame, t.compared * 0.995) << "fewer than 99.5% read the same";
    EXPECT_GE(t.kept, t.compared * 0.99) << "fewer than 99% keep their content";
    EXPECT_EQ(t.illFormed, 0u) << "printed output that libxml2 rejects";
}

}  // namespace

#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "tree.h"

using TAVARO::VelkAttribute;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

namespace velktool {

namespace {

void Indent(std::string* out, int depth) {
    out->append(4 * static_cast<size_t>(depth), ' ');
}

// Whether an element's children go on lines of their own: it has a child
// other than text, and no text but white space alone, which is indentation.
bool Opens(const VelkNode& element) {
    for (const VelkNode* child = element.FirstChild(); child; child = child->NextSibling()) {
        if (!child->ToText()) return !HoldsText(element);
    }
    return false;
}

// Writes the start tag of an element that has children: the compact form of
// an empty element of the same name and attributes, "<a b=\"1\" />", with its
// " />" made ">", so that the attributes are written as the library writes
// them. The empty element stands in a document of the UTF-8 model, the one
// the tool reads in.
class StartTagWriter {
public:
    StartTagWriter() : shell(new (std::nothrow) VelkElement("")) {
        scratch.SetUtf8(true);
        if (shell) scratch.LinkEndChild(shell);
    }

    // False when memory ran out.
    bool Write(const VelkElement& element, std::string* out) {
        if (!shell) return false;
        while (const VelkAttribute* a = shell->FirstAttribute()) shell->RemoveAttribute(a->Name());
        shell->SetValue(element.Value());
        for (const VelkAttribute* a = element.FirstAttribute(); a; a = a->Next())
            shell->SetAttribute(a->Name(), a->Value());
        *out << *shell;
        constexpr size_t kEmptyEnd = 3;  // " />"
        out->resize(out->size() - kEmptyEnd);
        *out += '>';
        return true;
    }

private:
    VelkDocument scratch;
    VelkElement* shell;  // owned by scratch
};

// Writes the pretty form that keeps text as it stands. The white space alone
// between the children of an element that holds no text is indentation: it
// is left out and written anew. Everything else is written in compact form.
bool PrintKeepingText(const VelkDocument& doc, std::string* out) {
    int depth = 0;
    StartTagWriter startTag;
    bool written = true;
    const auto enter = [out, &depth, &startTag, &written](const VelkNode& node) {
        if (node.ToText()) return false;
        if (depth > 0) *out += '\n';
        Indent(out, depth);
        const VelkElement* element = node.ToElement();
        if (!element || !Opens(*element)) {
            *out << node;
            return false;
        }
        written = written && startTag.Write(*element, out);
        ++depth;
        return true;
    };
    const auto leave = [out, &depth](const VelkNode& node) {
        if (node.ToText()) return;
        if (node.ToElement() && Opens(node)) {
            --depth;
            *out += '\n';
            Indent(out, depth);
            *out += "</";
            *out += node.Value();
            *out += '>';
        }
        if (depth == 0) *out += '\n';
    };
    Walk(doc, enter, leave);
    return written;
}

// The library's own pretty form, which condenses text.
bool PrintCondensed(const VelkDocument& doc, std::string* out) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&buffer, &size);
    if (!file) return false;
    doc.Print(file, 0);
    const bool written = std::fclose(file) == 0;
    if (written) out->assign(buffer, size);
    std::free(buffer);
    return written;
}

}  // namespace

bool PrettyForm(const VelkDocument& doc, bool condense, std::string* out) {
    out->clear();
    if (condense) return PrintCondensed(doc, out);
    return PrintKeepingText(doc, out);
}

void CompactForm(const VelkDocument& doc, std::string* out) {
    out->clear();
    *out << doc;
    *out += '\n';
}

}  // namespace velktool

#include "output.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <vector>

#include "tree.h"

using TAVARO::VelkAttribute;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkNode;

namespace velktool {

namespace {

// Whether an element's children go on lines of their own: it has a child
// other than text, and no text but white space alone, which is indentation.
// One pass over the children, which a large tree holds in cold memory.
bool Opens(const VelkNode& element) {
    bool other = false;
    for (const VelkNode* child = element.FirstChild(); child; child = child->NextSibling()) {
        if (const TAVARO::VelkText* text = child->ToText()) {
            if (text->CDATA() || !text->Blank()) return false;
        } else {
            other = true;
        }
    }
    return other;
}

// A stream buffer that appends to a string.
class Appender : public std::streambuf {
public:
    explicit Appender(std::string* out) : out(*out) {}

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) out += traits_type::to_char_type(c);
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        out.append(s, static_cast<size_t>(n));
        return n;
    }

private:
    std::string& out;
};

// Writes the start tag of an element that has children, its attributes as
// the library writes them.
class StartTagWriter {
public:
    explicit StartTagWriter(std::string* out) : out(*out), appender(out), stream(&appender) {}

    void Write(const VelkElement& element) {
        out += '<';
        out += element.Value();
        for (const VelkAttribute* a = element.FirstAttribute(); a; a = a->Next()) {
            out += ' ';
            a->StreamOut(&stream);
        }
        out += '>';
    }

private:
    std::string& out;
    Appender appender;
    std::ostream stream;
};

// Writes a form that keeps text as it stands: a node that is not an element
// which opens (see Opens) in compact form, as the library writes it; an
// element that opens as its start tag, its children and its end tag, with
// line breaks and indentation between them in the pretty form.
class KeptTextWriter {
public:
    KeptTextWriter(Form form, std::string* out, const Drain& drain)
        : pretty(form == Form::kPretty), out(*out), drain(drain), startTag(out) {}

    bool Write(const VelkDocument& doc) {
        Walk(
            doc, [this](const VelkNode& node) { return Enter(node); },
            [this](const VelkNode& node) { Leave(node); });
        if (drain && ok) ok = drain(&out);
        return ok;
    }

private:
    static constexpr size_t kChunk = size_t{1} << 20;

    bool Enter(const VelkNode& node) {
        if (done || !ok || node.ToText()) return false;
        NewLine();
        const VelkElement* element = node.ToElement();
        if (!element || !Opens(*element)) {
            out << node;
            return false;
        }
        startTag.Write(*element);
        opened.push_back(&node);
        return true;
    }

    void Leave(const VelkNode& node) {
        if (done || !ok || node.ToText()) return;
        if (!opened.empty() && opened.back() == &node) {
            opened.pop_back();
            if (pretty) Indent();
            out += "</";
            out += node.Value();
            out += '>';
        }
        if (opened.empty()) {
            if (pretty) out += '\n';
            done = !pretty && node.ToElement();
        }
        if (drain && out.size() >= kChunk) ok = drain(&out);
    }

    // Starts a line at the depth of the node that comes next, in the pretty
    // form, between the children of an element.
    void NewLine() {
        if (pretty && !opened.empty()) Indent();
    }

    void Indent() {
        out += '\n';
        out.append(4 * opened.size(), ' ');
    }

    const bool pretty;
    std::string& out;
    const Drain& drain;
    StartTagWriter startTag;
    std::vector<const VelkNode*> opened;  // the elements the walk is in
    bool done = false;                    // the compact form has ended
    bool ok = true;
};

// The library's own forms, which condense text.
bool WriteCondensed(const VelkDocument& doc, Form form, std::string* out) {
    if (form == Form::kCompact) {
        *out << doc;
        return true;
    }
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

bool WriteForm(const VelkDocument& doc, Form form, bool condense, std::string* out,
               const Drain& drain) {
    out->clear();
    bool written;
    if (condense) {
        written = WriteCondensed(doc, form, out);
        if (written && drain) written = drain(out);
    } else {
        written = KeptTextWriter(form, out, drain).Write(doc);
    }
    if (written && form == Form::kCompact) {
        *out += '\n';
        if (drain) written = drain(out);
    }
    return written;
}

}  // namespace velktool

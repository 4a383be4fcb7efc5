// Strict reading: a document read as XML 1.0 in the UTF-8 model. One function
// per production of the grammar checks it where its bytes are scanned (through
// the byte classes of velkintern.h, so a check costs a branch, not a second
// pass) and builds the nodes as the other parsers do; the first violation of
// a well-formedness rule is recorded with its position and ends the parse.
// A DOCTYPE's internal subset is read by the DTD (velkdtd.h), which then
// expands the entity references that content and attribute values hold.
#include "velkdtd.h"
#include "velkintern.h"
#include "velkmemory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

namespace {
constexpr const char kVelkUnit[] = "Velk/base/velkstrict";
}  // namespace

namespace TAVARO {

namespace {

bool StartsWith(const char* p, const char* word) {
    return std::strncmp(p, word, std::strlen(word)) == 0;
}

// Whether the character at p (from 0x80 up) is a name character, the first
// of a name when first is set; its length in *n.
bool IsNameCharAt(const char* p, bool first, size_t* n) {
    unsigned long code;
    *n = DecodeUtf8(p, p + 4, &code);
    return *n && (first ? IsNameStartChar(code) : IsNameChar(code));
}

// The end of the name at p, or p when none starts there; nothing is recorded.
// ASCII name characters are taken a byte at a time through the table.
const char* NameEnd(const char* p) {
    size_t n;
    if (Is(*p, kNameStart) || *p == ':') {
        ++p;
    } else if (static_cast<unsigned char>(*p) >= 0x80 && IsNameCharAt(p, true, &n)) {
        p += n;
    } else {
        return p;
    }
    for (;;) {
        while (Is(*p, kNameChar)) ++p;
        if (static_cast<unsigned char>(*p) < 0x80 || !IsNameCharAt(p, false, &n)) return p;
        p += n;
    }
}

bool IsVersionNumber(std::string_view v) {
    if (v.size() < 3 || v[0] != '1' || v[1] != '.') return false;
    for (size_t i = 2; i < v.size(); ++i)
        if (!Is(v[i], kDigit)) return false;
    return true;
}

bool IsEncodingName(std::string_view v) {
    if (v.empty() || !Is(v[0], kAlpha)) return false;
    for (char c : v)
        if (!Is(c, kAlpha | kDigit) && c != '.' && c != '_' && c != '-') return false;
    return true;
}

// The encodings whose bytes the reader takes as they are: UTF-8 and its
// ASCII subset. Others would need a conversion the library does not make.
bool IsReadableEncoding(std::string_view v) {
    static const char* const kNames[] = {"utf-8", "us-ascii", "ascii"};
    for (const char* name : kNames) {
        if (v.size() != std::strlen(name)) continue;
        size_t i = 0;
        while (i < v.size() && ToLower(v[i]) == name[i]) ++i;
        if (i == v.size()) return true;
    }
    return false;
}

bool IsPubidChar(char c) {
    return Is(c, kAlpha | kDigit) || c == ' ' || c == '\r' || c == '\n' ||
           std::strchr("-'()+,./:=?;!*#@$_%", c) != nullptr;
}

// The value of a hexadecimal or decimal digit, or -1.
int DigitValue(char c, unsigned base) {
    if (Is(c, kDigit)) return c - '0';
    if (base == 16 && Is(c, kAlpha)) {
        const int v = ToLower(c) - 'a' + 10;
        if (v < 16) return v;
    }
    return -1;
}

// Reads one document entity. Each function takes the position where its
// production starts and returns the position after it, or null with the
// error recorded.
class StrictReader {
public:
    // Reads [begin, end) with the tracker data, which stands at begin; dtd
    // takes the declarations of a DOCTYPE's internal subset.
    StrictReader(VelkDocument* doc, const char* begin, const char* end, VelkParsingData* data,
                 std::string* scratch, Dtd* dtd)
        : doc_(doc),
          begin_(begin),
          beginAt_(data->Cursor()),
          end_(end),
          data_(data),
          text_(*scratch),
          condense_(doc->CondenseWhiteSpace()),
          declared_(dtd) {}

    // document ::= prolog element Misc*
    void Document(const char* p);

private:
    // Records the error at position at. The tracker only goes forward: a
    // position behind it (the start of markup left open) is counted again
    // from the start of the input.
    const char* Fail(int code, const char* at) {
        // A fault in a replacement text read as content is the entity's: its
        // text is not well-formed content (the error is placed at the reference).
        if (entities_ && code != VELK_ERROR_ALLOCATION) code = VELK_ERROR_ENTITY_CONTENT;
        if (data_ && at && at < VelkAccess::Stamped(*data_)) {
            VelkParsingData again(begin_, VelkAccess::TabSize(*data_), beginAt_.row, beginAt_.col);
            doc_->SetError(code, at, &again);
        } else {
            doc_->SetError(code, at, data_);
        }
        return nullptr;
    }
    const char* NoMemory() { return Fail(VELK_ERROR_ALLOCATION, nullptr); }
    // What a NUL byte at p is: the end of the input, which leaves the markup
    // or element opened at opened unclosed, or a character XML does not allow.
    const char* AtNul(const char* p, const char* opened) {
        return p == end_ ? Fail(VELK_ERROR_UNCLOSED, opened) : Fail(VELK_ERROR_CHARACTER, p);
    }
    // Reports what stands at p where the grammar wants something else: the
    // end of the input, a character XML does not allow, or else error code.
    const char* Unexpected(const char* p, int code, const char* opened) {
        if (CharAt(p, opened)) Fail(code, p);
        return nullptr;
    }
    // The length of the character at p, which must be a Char; 0, with the
    // error recorded, when it is not one (or the input ends at p).
    size_t CharAt(const char* p, const char* opened);
    // Stamps p and records it as where item begins: a short stretch without
    // a line stop here (most of those between the items of a tag), anything
    // else by the tracker.
    void Mark(VelkBase& item, const char* p) {
        if (!data_) return;
        if (!StampShort(p)) data_->Stamp(p);
        VelkAccess::Location(item) = data_->Cursor();
    }
    bool StampShort(const char* now) {
        constexpr std::ptrdiff_t kShort = 32;
        const char*& stamp = VelkAccess::Stamped(*data_);
        if (now < stamp || now - stamp > kShort || VelkAccess::TabSize(*data_) < 1) return false;
        // Eight bytes a step: a byte below 14 may be a line stop.
        constexpr std::uint64_t kOnes = 0x0101010101010101u;
        const char* q = stamp;
        for (std::uint64_t word; now - q >= 8; q += 8) {
            std::memcpy(&word, q, sizeof word);
            if ((word - 14 * kOnes) & ~word & (0x80 * kOnes)) return false;
        }
        for (; q < now; ++q)
            if (Is(*q, kLineStop)) return false;
        // Written whole, as the tracker writes it: the cursor is read back whole.
        VelkCursor& cursor = VelkAccess::Cursor(*data_);
        const int both[2] = {cursor.row, cursor.col + static_cast<int>(now - stamp)};
        std::memcpy(static_cast<void*>(&cursor), both, sizeof both);
        stamp = now;
        return true;
    }
    // Keeps [p, end) in s with every line end ("\r\n" or a lone '\r') as '\n'.
    bool KeepNormalised(VelkString* s, const char* p, const char* end);
    template <class T, class... Args>
    T* Make(VelkNode* parent, const char* at, const Args&... args) {
        T* node = Create<T>(doc_, args...);
        if (!node) return nullptr;
        Mark(*node, at);
        parent->LinkEndChild(node);
        return node;
    }

    static const char* Space(const char* p) {
        while (Is(*p, kXmlSpace)) ++p;
        return p;
    }
    // Space, counting the line stops skipped in lines when it is not null. A
    // form feed or vertical tab, white space to the count but no character
    // XML allows, ends the skip, and the error that follows drops the count.
    static const char* SkipSpace(const char* p, LineCount* lines) {
        const char* end = Space(p);
        if (lines && end != p) lines->Skip(p);
        return end;
    }
    // The end of the run of character data at p that needs no look; when
    // condensing, a single space between two bytes of such a run stays in it.
    // Sixteen bytes a step with SSE2 up to the first byte that may end the
    // run, then the table decides.
    const char* PlainRun(const char* p) const {
        const unsigned stops = condense_ ? kStrictText | kXmlSpace : kStrictText;
        for (;;) {
#if defined(__SSE2__) && defined(__GNUC__)
            p = CandidateStop(p);
#endif
            if (!Is(*p, stops)) {
                ++p;
            } else if (condense_ && *p == ' ' && !Is(p[1], stops)) {
                p += 2;
            } else {
                return p;
            }
        }
    }
#if defined(__SSE2__) && defined(__GNUC__)
    // Bytes below 0x20 or from 0x80 up, '<', '&' and ']'.
    static __m128i Candidates(__m128i v) {
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
        const __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')),
                                                         _mm_cmpeq_epi8(v, _mm_set1_epi8('&'))),
                                            _mm_cmpeq_epi8(v, _mm_set1_epi8(']')));
        return _mm_or_si128(_mm_or_si128(control, markup), _mm_cmplt_epi8(v, _mm_setzero_si128()));
    }
    // The first byte at or after p that may end a run: a candidate, or when
    // condensing a space before a candidate or another space; p itself when
    // fewer than seventeen bytes are left.
    const char* CandidateStop(const char* p) const {
        const __m128i space = _mm_set1_epi8(' ');
        while (end_ - p >= 17) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i stop = Candidates(v);
            if (condense_) {
                const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
                const __m128i nextStops =
                    _mm_or_si128(Candidates(next), _mm_cmpeq_epi8(next, space));
                stop = _mm_or_si128(stop, _mm_and_si128(_mm_cmpeq_epi8(v, space), nextStops));
            }
            if (const int mask = _mm_movemask_epi8(stop)) return p + __builtin_ctz(mask);
            p += 16;
        }
        return p;
    }
#endif

    const char* Name(const char* p, const char* opened);
    const char* Misc(const char* p, VelkNode* parent);
    const char* XmlDeclaration(const char* p);
    const char* DeclarationValue(const char* p, const char* opened, std::string* value);
    const char* Doctype(const char* p);
    const char* ExternalId(const char* p, const char* opened);
    const char* Literal(const char* p, const char* opened, bool pubid);
    const char* SubsetEnd(const char* p, const char* opened);
    bool InternalSubset(const char* p, const char* end);
    const char* Element(const char* p, VelkNode* parent);
    const char* Content(const char* p, VelkElement* current, size_t depth, bool entity);
    const char* StartTag(const char* p, VelkNode* parent, VelkElement** made, bool* empty);
    const char* Attribute(const char* p, VelkElement* element, const char* opened);
    const char* AttributeValue(const char* p, const char* opened, std::string_view* value);
    const char* EndTag(const char* p, const VelkElement& element);
    const char* CharData(const char* p, VelkElement* parent, const char* opened);
    const char* TextRun(const char* p, VelkElement* parent, const char* opened);
    const char* EntityText(const char* p, bool* pendingSpace, LineCount* lines);
    const char* EntityNodes(const char* p, VelkElement* parent);
    const char* MoreCharData(const char* p, bool pendingSpace, LineCount* lines,
                             const char* opened);
    const char* Reference(const char* p, std::string* out);
    const char* CharReference(const char* p, std::string* out);
    const char* NamedReference(const char* p, const char* after, std::string* out);
    const char* Comment(const char* p, VelkNode* parent);
    const char* Instruction(const char* p, VelkNode* parent);
    const char* CData(const char* p, VelkNode* parent);
    const char* Body(const char* p, const char* terminator, const char* opened, int unclosed);

    VelkDocument* doc_;
    const char* begin_;
    VelkCursor beginAt_;  // where the tracker stood at begin
    const char* end_;     // the terminating NUL of the input
    const char* start_ = nullptr;
    VelkParsingData* data_;
    std::string& text_;
    bool condense_;
    bool doctype_ = false;
    bool standalone_ = false;                     // the XML declaration says standalone='yes'
    Dtd* declared_;                               // the DTD, before its DOCTYPE is read
    Dtd* dtd_ = nullptr;                          // the DTD, once its DOCTYPE is read
    Dtd::Reference reference_{};                  // the last reference the DTD has the text stop at
    int entities_ = 0;                            // replacement texts being read as content
    std::vector<const char*> open_;               // the start tags of the open elements
    std::unordered_set<std::string_view> names_;  // of a start tag with many attributes
};

size_t StrictReader::CharAt(const char* p, const char* opened) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
        if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') return 1;
        if (c == 0) {
            AtNul(p, opened);
        } else {
            Fail(VELK_ERROR_CHARACTER, p);
        }
        return 0;
    }
    unsigned long code;
    const size_t n = DecodeUtf8(p, p + 4, &code);
    if (!n) {
        Fail(VELK_ERROR_UTF8, p);
    } else if (!IsXmlChar(code)) {
        Fail(VELK_ERROR_CHARACTER, p);
        return 0;
    }
    return n;
}

bool StrictReader::KeepNormalised(VelkString* s, const char* p, const char* end) {
    const size_t n = static_cast<size_t>(end - p);
    if (!std::memchr(p, '\r', n)) return Keep(doc_, s, p, n) || NoMemory();
    text_.clear();
    for (; p < end; ++p) {
        if (*p != '\r') {
            text_ += *p;
        } else {
            text_ += '\n';
            if (p + 1 < end && p[1] == '\n') ++p;
        }
    }
    return Keep(doc_, s, text_.data(), text_.size()) || NoMemory();
}

// Name ::= NameStartChar (NameChar)*
const char* StrictReader::Name(const char* p, const char* opened) {
    const char* end = NameEnd(p);
    if (end != p) return end;
    if (CharAt(p, opened)) Fail(VELK_ERROR_NAME, p);
    return nullptr;
}

void StrictReader::Document(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if ((u[0] == 0xFE && u[1] == 0xFF) || (u[0] == 0xFF && u[1] == 0xFE)) {
        Fail(VELK_ERROR_ENCODING, p);
        return;
    }
    if (StartsWith(p, "\xEF\xBB\xBF")) p += 3;
    start_ = p;
    if (StartsWith(p, "<?xml") && Is(p[5], kXmlSpace)) {
        p = XmlDeclaration(p);
        if (!p) return;
    }
    bool root = false;
    for (;;) {
        p = Space(p);
        if (!*p) {
            if (p != end_) {
                Fail(VELK_ERROR_CHARACTER, p);
            } else if (!root) {
                Fail(VELK_ERROR_DOCUMENT_EMPTY, p);
            }
            return;
        }
        if (*p != '<') {
            Fail(static_cast<unsigned char>(*p) < 0x20 ? VELK_ERROR_CHARACTER
                                                       : VELK_ERROR_TEXT_OUTSIDE_ELEMENT,
                 p);
            return;
        }
        if (p[1] == '!' && StartsWith(p, "<!DOCTYPE")) {
            if (doctype_ || root) {
                Fail(VELK_ERROR_MISPLACED, p);
                return;
            }
            p = Doctype(p);
        } else if (p[1] == '!' && StartsWith(p, "<![CDATA[")) {
            p = Fail(VELK_ERROR_TEXT_OUTSIDE_ELEMENT, p);
        } else if (p[1] == '?' || p[1] == '!') {
            p = Misc(p, doc_);
        } else if (p[1] == '/') {
            p = Fail(VELK_ERROR_END_TAG_UNEXPECTED, p);
        } else if (root) {
            p = Fail(VELK_ERROR_MULTIPLE_ROOTS, p);
        } else {
            p = Element(p, doc_);
            root = true;
        }
        if (!p) return;
    }
}

// Misc ::= Comment | PI, and any other "<!" markup, which XML does not know.
const char* StrictReader::Misc(const char* p, VelkNode* parent) {
    if (p[1] == '?') return Instruction(p, parent);
    if (StartsWith(p, "<!--")) return Comment(p, parent);
    // An opener that the end of the input cuts short leaves its markup open.
    for (const char* opener : {"<!--", "<![CDATA[", "<!DOCTYPE"}) {
        size_t i = 0;
        while (p[i] && p[i] == opener[i]) ++i;
        if (!p[i] && opener[i]) return AtNul(p + i, p);
    }
    return Fail(VELK_ERROR_MARKUP, p);
}

// XMLDecl ::= '<?xml' VersionInfo EncodingDecl? SDDecl? S? '?>', each item
// S name Eq quoted-value; the value of each checked against its production.
const char* StrictReader::XmlDeclaration(const char* p) {
    const char* const opened = p;
    VelkDeclaration* declaration = Make<VelkDeclaration>(doc_, p);
    if (!declaration) return NoMemory();
    std::string& version = VelkAccess::Version(*declaration);
    std::string& encoding = VelkAccess::Encoding(*declaration);
    std::string& standalone = VelkAccess::Standalone(*declaration);
    const char* q = Space(p + 5);
    if (!StartsWith(q, "version")) return Fail(VELK_ERROR_XML_DECLARATION, q);
    const char* value = nullptr;
    q = DeclarationValue(q + 7, opened, &version);
    if (!q) return nullptr;
    if (!IsVersionNumber(version)) return Fail(VELK_ERROR_XML_DECLARATION, q - 1 - version.size());
    const char* r = Space(q);
    if (r != q && StartsWith(r, "encoding")) {
        q = DeclarationValue(r + 8, opened, &encoding);
        if (!q) return nullptr;
        value = q - 1 - encoding.size();
        if (!IsEncodingName(encoding)) return Fail(VELK_ERROR_XML_DECLARATION, value);
        if (!IsReadableEncoding(encoding)) return Fail(VELK_ERROR_ENCODING, value);
        r = Space(q);
    }
    if (r != q && StartsWith(r, "standalone")) {
        q = DeclarationValue(r + 10, opened, &standalone);
        if (!q) return nullptr;
        if (standalone != "yes" && standalone != "no")
            return Fail(VELK_ERROR_XML_DECLARATION, q - 1 - standalone.size());
        standalone_ = standalone == "yes";
        r = Space(q);
    }
    if (r[0] == '?' && r[1] == '>') return r + 2;
    return Unexpected(r, VELK_ERROR_XML_DECLARATION, opened);
}

// Eq ("'" value "'" | '"' value '"'), the value read up to its quote.
const char* StrictReader::DeclarationValue(const char* p, const char* opened, std::string* value) {
    p = Space(p);
    if (*p != '=') return Unexpected(p, VELK_ERROR_XML_DECLARATION, opened);
    p = Space(p + 1);
    const char quote = *p;
    if (quote != '"' && quote != '\'') return Unexpected(p, VELK_ERROR_XML_DECLARATION, opened);
    const char* start = ++p;
    while (*p && *p != quote) ++p;
    if (!*p) return AtNul(p, opened);
    value->assign(start, static_cast<size_t>(p - start));
    return p + 1;
}

// doctypedecl ::= '<!DOCTYPE' S Name (S ExternalID)? S? ('[' intSubset ']' S?)? '>'
// The node keeps the declaration verbatim.
const char* StrictReader::Doctype(const char* p) {
    const char* const opened = p;
    const char* q = p + 9;
    if (!Is(*q, kXmlSpace)) return Unexpected(q, VELK_ERROR_DOCTYPE, opened);
    q = Name(Space(q), opened);
    if (!q) return nullptr;
    const char* r = Space(q);
    if (r != q && (StartsWith(r, "SYSTEM") || StartsWith(r, "PUBLIC"))) {
        q = ExternalId(r, opened);
        if (!q) return nullptr;
        r = Space(q);
    }
    if (*r == '[') {
        const char* subsetEnd = SubsetEnd(r + 1, opened);
        if (!subsetEnd || !InternalSubset(r + 1, subsetEnd)) return nullptr;
        r = Space(subsetEnd + 1);
    }
    if (*r != '>') return Unexpected(r, VELK_ERROR_DOCTYPE, opened);
    if (!declared_->ReadDoctype(p, r + 1, standalone_)) return nullptr;
    dtd_ = declared_;
    VelkUnknown* node = Make<VelkUnknown>(doc_, p);
    if (!node || !KeepNormalised(&VelkAccess::Value(*node), p + 1, r)) return NoMemory();
    doctype_ = true;
    return r + 1;
}

// ExternalID ::= 'SYSTEM' S SystemLiteral | 'PUBLIC' S PubidLiteral S SystemLiteral
const char* StrictReader::ExternalId(const char* p, const char* opened) {
    const bool pub = *p == 'P';
    p += 6;
    for (int literal = pub ? 2 : 1; literal > 0; --literal) {
        if (!Is(*p, kXmlSpace)) return Unexpected(p, VELK_ERROR_DOCTYPE, opened);
        p = Literal(Space(p), opened, pub && literal == 2);
        if (!p) return nullptr;
    }
    return p;
}

// A quoted literal: a SystemLiteral holds any characters but its quote, a
// PubidLiteral only PubidChar.
const char* StrictReader::Literal(const char* p, const char* opened, bool pubid) {
    const char quote = *p;
    if (quote != '"' && quote != '\'') return Unexpected(p, VELK_ERROR_DOCTYPE, opened);
    for (++p; *p != quote;) {
        if (pubid && *p && !IsPubidChar(*p)) return Fail(VELK_ERROR_DOCTYPE, p);
        const size_t n = CharAt(p, opened);
        if (!n) return nullptr;
        p += n;
    }
    return p + 1;
}

// The ']' that ends the internal subset starting at p: quoted strings,
// comments and processing instructions are skipped whole, so that a ']' in
// them ends nothing.
const char* StrictReader::SubsetEnd(const char* p, const char* opened) {
    for (;;) {
        switch (*p) {
            case 0:
                return AtNul(p, opened);
            case ']':
                return p;
            case '"':
            case '\'': {
                const char* close = std::strchr(p + 1, *p);
                if (!close) return AtNul(p + std::strlen(p), opened);
                p = close + 1;
                break;
            }
            case '<': {
                const char* terminator = p[1] == '?'             ? "?>"
                                         : StartsWith(p, "<!--") ? "-->"
                                                                 : nullptr;
                if (!terminator) {
                    ++p;
                    break;
                }
                const char* close = std::strstr(p + 2, terminator);
                if (!close) return AtNul(p + std::strlen(p), opened);
                p = close + std::strlen(terminator);
                break;
            }
            default:
                ++p;
        }
    }
}

// The internal subset [p, end), handed over whole: every character in it must
// be one XML allows. Its declarations are read by the DTD code.
bool StrictReader::InternalSubset(const char* p, const char* end) {
    while (p < end) {
        if (!Is(*p, kStrictBody) || *p == '\r') {
            ++p;
            continue;
        }
        const size_t n = CharAt(p, nullptr);
        if (!n) return false;
        p += n;
    }
    return true;
}

// element ::= EmptyElemTag | STag content ETag, walked without recursion: a
// child's start tag is read in place and the walk goes down into its content,
// its end tag brings the walk back up through the parent link.
const char* StrictReader::Element(const char* p, VelkNode* parent) {
    VelkElement* current;
    bool empty;
    const char* opened = p;
    p = StartTag(p, parent, &current, &empty);
    if (!p || empty) return p;
    open_.push_back(opened);
    return Content(p, current, open_.size() - 1, false);
}

// content ::= CharData? ((element | Reference | CDSect | PI | Comment) CharData?)*
// from p in current, up to the end tag that brings the open elements back to
// depth; or, for an entity, up to the end of its replacement text, which
// must close every element it opens and no other.
const char* StrictReader::Content(const char* p, VelkElement* current, size_t depth, bool entity) {
    VelkElement* child;
    bool empty;
    const char* opened;
    for (;;) {
        p = CharData(p, current, open_.back());
        if (!p) return nullptr;
        if (!*p) return open_.size() == depth ? p : Fail(VELK_ERROR_ENTITY_CONTENT, p);
        if (p[1] == '/') {
            if (open_.size() == depth) return Fail(VELK_ERROR_ENTITY_CONTENT, p);
            p = EndTag(p, *current);
            if (!p) return nullptr;
            open_.pop_back();
            if (open_.size() == depth && !entity) return p;
            current = static_cast<VelkElement*>(current->Parent());
        } else if (p[1] == '!' && StartsWith(p, "<![CDATA[")) {
            p = CData(p, current);
        } else if (p[1] == '?' || p[1] == '!') {
            p = Misc(p, current);
        } else {
            opened = p;
            p = StartTag(p, current, &child, &empty);
            if (p && !empty) {
                current = child;
                open_.push_back(opened);
            }
        }
        if (!p) return nullptr;
    }
}

// STag ::= '<' Name (S Attribute)* S? '>', EmptyElemTag the same with '/>'.
const char* StrictReader::StartTag(const char* p, VelkNode* parent, VelkElement** made,
                                   bool* empty) {
    const char* const opened = p;
    VelkElement* element = Create<VelkElement>(doc_, "");
    if (!element) return NoMemory();
    Mark(*element, p);
    parent->LinkEndChild(element);
    *made = element;
    const char* name = p + 1;
    p = Name(name, opened);
    if (!p) return nullptr;
    if (!Keep(doc_, &VelkAccess::Value(*element), name, static_cast<size_t>(p - name)))
        return NoMemory();
    if (!names_.empty()) names_.clear();
    for (;;) {
        const char* gap = p;
        p = Space(p);
        if (*p == '>' || (*p == '/' && p[1] == '>')) {
            if (dtd_ && !dtd_->AddDeclaredAttributes(element)) return NoMemory();
            *empty = *p == '/';
            return p + (*empty ? 2 : 1);
        }
        if (*p == '/') return Unexpected(p + 1, VELK_ERROR_TAG, opened);
        if (p == gap && NameEnd(p) != p) return Fail(VELK_ERROR_ATTRIBUTE_SPACE, p);
        p = Attribute(p, element, opened);
        if (!p) return nullptr;
    }
}

// Attribute ::= Name Eq AttValue, its name new in the tag.
const char* StrictReader::Attribute(const char* p, VelkElement* element, const char* opened) {
    const char* name = p;
    p = Name(p, opened);
    if (!p) return nullptr;
    const std::string_view key(name, static_cast<size_t>(p - name));
    VelkAttributeSet& set = VelkAccess::Attributes(*element);
    constexpr size_t kListed = 8;  // a longer tag's names go in a hash set
    size_t count = 0;
    for (const VelkAttribute* a = set.First(); a; a = a->Next(), ++count) {
        if (count >= kListed) break;
        const VelkString& other = VelkAccess::Name(*a);
        if (std::string_view(other.c_str(), other.size()) == key)
            return Fail(VELK_ERROR_ATTRIBUTE_TWICE, name);
    }
    if (count >= kListed) {
        if (names_.empty()) {
            for (const VelkAttribute* a = set.First(); a; a = a->Next()) {
                const VelkString& other = VelkAccess::Name(*a);
                names_.insert(std::string_view(other.c_str(), other.size()));
            }
        }
        if (names_.count(key)) return Fail(VELK_ERROR_ATTRIBUTE_TWICE, name);
        names_.insert(key);
    }
    p = Space(p);
    if (*p != '=') return Unexpected(p, VELK_ERROR_TAG, opened);
    p = Space(p + 1);
    std::string_view value;
    p = AttributeValue(p, opened, &value);
    if (!p) return nullptr;
    VelkAttribute* attribute = Create<VelkAttribute>(doc_);
    if (!attribute) return NoMemory();
    attribute->SetDocument(doc_);
    Mark(*attribute, name);
    VelkAccess::Append(set, attribute);
    if (!Keep(doc_, &VelkAccess::Name(*attribute), key.data(), key.size()) ||
        !Keep(doc_, &VelkAccess::Value(*attribute), value.data(), value.size()))
        return NoMemory();
    return p;
}

// AttValue ::= '"' ([^<&"] | Reference)* '"' | "'" ([^<&'] | Reference)* "'",
// references decoded and each white-space character written as it is read as
// one space (a "\r\n" as one). A value with nothing to change is viewed in
// place; the others are built in the scratch text.
const char* StrictReader::AttributeValue(const char* p, const char* opened,
                                         std::string_view* value) {
    const char quote = *p;
    if (quote != '"' && quote != '\'') return Unexpected(p, VELK_ERROR_ATTRIBUTE_UNQUOTED, opened);
    const char* start = ++p;
    while (!Is(*p, kStrictValue)) ++p;
    if (*p == quote) {
        *value = std::string_view(start, static_cast<size_t>(p - start));
        return p + 1;
    }
    text_.assign(start, static_cast<size_t>(p - start));
    for (;;) {
        const char* run = p;
        while (!Is(*p, kStrictValue)) ++p;
        text_.append(run, static_cast<size_t>(p - run));
        switch (*p) {
            case '<':
                return Fail(VELK_ERROR_ATTRIBUTE_LT, p);
            case '&':
                p = Reference(p, &text_);
                if (!p) return nullptr;
                break;
            case '\t':
            case '\n':
                text_ += ' ';
                ++p;
                break;
            case '\r':
                text_ += ' ';
                p += p[1] == '\n' ? 2 : 1;
                break;
            default: {
                if (*p == quote) {
                    *value = std::string_view(text_);
                    return p + 1;
                }
                const size_t n = CharAt(p, opened);
                if (!n) return nullptr;
                text_.append(p, n);
                p += n;
            }
        }
    }
}

// ETag ::= '</' Name S? '>', the name the same bytes as the start tag's.
const char* StrictReader::EndTag(const char* p, const VelkElement& element) {
    const char* const opened = p;
    const char* name = p + 2;
    const char* q = Name(name, opened);
    if (!q) return nullptr;
    const VelkString& own = VelkAccess::Value(element);
    if (static_cast<size_t>(q - name) != own.size() || std::memcmp(name, own.c_str(), own.size()))
        return Fail(VELK_ERROR_END_TAG_MISMATCH, opened);
    q = Space(q);
    if (*q != '>') return Unexpected(q, VELK_ERROR_TAG, opened);
    return q + 1;
}

// CharData and references up to the next markup, as text nodes and the nodes
// that references to entities holding markup stand for. Returns the position
// of the '<' that ends the text, or of the end of an entity's replacement text.
const char* StrictReader::CharData(const char* p, VelkElement* parent, const char* opened) {
    for (;;) {
        p = TextRun(p, parent, opened);
        if (!p || *p != '&') return p;
        p = EntityNodes(p, parent);
        if (!p) return nullptr;
    }
}

// CharData and references up to the next markup, as one text node: line ends
// read as '\n', references decoded, no "]]>". Condensing drops leading and
// trailing white space and writes each inner run as one space; a text left
// empty, or of white space alone, makes no node. Returns the position of the
// '<' that ends the text, or of the end of a replacement text, or of a
// reference the DTD stops the text at.
const char* StrictReader::TextRun(const char* p, VelkElement* parent, const char* opened) {
    if (*p == '<') return p;
    // Condensed text counts its own lines (every line stop in it is white
    // space that the read skips), so that the tracker does not walk it again.
    LineCount count{};
    LineCount* lines = nullptr;
    if (condense_ && data_ && StampShort(p)) {
        const VelkCursor& at = VelkAccess::Cursor(*data_);
        count = LineCount{at.row, at.col, p, VelkAccess::TabSize(*data_)};
        lines = &count;
    }
    if (condense_) p = SkipSpace(p, lines);
    const char* const start = p;
    const VelkCursor startAt = lines ? count.At(start) : VelkCursor();
    // Most texts are one plain run up to the '<': kept straight from the input.
    const char* runEnd = PlainRun(p);
    p = condense_ ? SkipSpace(runEnd, lines) : runEnd;
    const bool direct = *p == '<';
    if (!direct) {
        text_.assign(start, static_cast<size_t>(runEnd - start));
        p = MoreCharData(p, p != runEnd, lines, opened);
        if (!p) return nullptr;
    }
    if (lines) {
        VelkAccess::Cursor(*data_) = count.At(p);
        VelkAccess::Stamped(*data_) = p;
    }
    const char* from = direct ? start : text_.data();
    const char* to = direct ? runEnd : text_.data() + text_.size();
    if (from == to) return p;
    // Condensing keeps no text of white space alone, references to it included.
    if (condense_ && std::all_of(from, to, [](char c) { return Is(c, kSpace); })) return p;
    // In strict reading two texts meet only at the edges of an entity's expansion.
    bool joined = false;
    if (dtd_ && !dtd_->JoinText(parent, from, static_cast<size_t>(to - from), condense_, &joined))
        return NoMemory();
    if (joined) return p;
    VelkText* text = Create<VelkText>(doc_, "");
    if (!text) return NoMemory();
    if (lines) {
        VelkAccess::Location(*text) = startAt;
    } else {
        Mark(*text, start);
    }
    parent->LinkEndChild(text);
    return Keep(doc_, &VelkAccess::Value(*text), from, static_cast<size_t>(to - from)) ? p
                                                                                       : NoMemory();
}

// The rest of a text that is more than one plain run, appended to the scratch
// text: references decoded, line ends read as '\n', white space condensed
// (a space pending from before when pendingSpace is set). Returns the
// position of the '<' that ends it.
const char* StrictReader::MoreCharData(const char* p, bool pendingSpace, LineCount* lines,
                                       const char* opened) {
    for (;;) {
        const char* run = p;
        p = PlainRun(p);
        if (p != run) {
            if (pendingSpace) text_ += ' ';
            pendingSpace = false;
            text_.append(run, static_cast<size_t>(p - run));
        }
        const char c = *p;
        if (c == '<' || (!c && entities_ && p == end_)) return p;
        if (condense_ && Is(c, kXmlSpace)) {
            pendingSpace = true;
            p = SkipSpace(p, lines);
            continue;
        }
        if (c == '&' && dtd_ && p[1] != '#') {
            const char* after = EntityText(p, &pendingSpace, lines);
            if (after != p) {
                if (!after) return nullptr;
                p = after;
                continue;
            }
            if (reference_.action != Dtd::Action::kDecode) return p;
        }
        if (pendingSpace) text_ += ' ';
        pendingSpace = false;
        if (c == '&') {
            p = Reference(p, &text_);
            if (!p) return nullptr;
        } else if (c == ']') {
            if (p[1] == ']' && p[2] == '>') return Fail(VELK_ERROR_CDATA_END_IN_TEXT, p);
            text_ += ']';
            ++p;
        } else if (c == '\r') {
            text_ += '\n';
            p += p[1] == '\n' ? 2 : 1;
        } else {
            const size_t n = CharAt(p, opened);
            if (!n) return nullptr;
            text_.append(p, n);
            p += n;
        }
    }
}

// Reference ::= EntityRef | CharRef, decoded and appended to out.
const char* StrictReader::Reference(const char* p, std::string* out) {
    if (p[1] == '#') return CharReference(p, out);
    const char* name = p + 1;
    const char* after = NameEnd(name);
    if (after == name || *after != ';') return Fail(VELK_ERROR_REFERENCE, p);
    const std::string_view key(name, static_cast<size_t>(after - name));
    static const char* const kPredefined[] = {"amp", "lt", "gt", "quot", "apos"};
    for (int i = 0; i < 5; ++i) {
        if (key == kPredefined[i]) {
            *out += VelkBase::entity[i].chr;
            return after + 1;
        }
    }
    return NamedReference(p, after + 1, out);
}

// CharRef ::= '&#' [0-9]+ ';' | '&#x' [0-9a-fA-F]+ ';', of a Char.
const char* StrictReader::CharReference(const char* p, std::string* out) {
    const unsigned base = p[2] == 'x' ? 16 : 10;
    const char* q = p + (base == 16 ? 3 : 2);
    const char* digits = q;
    unsigned long code = 0;
    for (int d; (d = DigitValue(*q, base)) >= 0; ++q) {
        code = code * base + static_cast<unsigned>(d);
        if (code > 0x10FFFF) code = 0x110000;  // out of range whatever follows
    }
    if (q == digits || *q != ';') return Fail(VELK_ERROR_REFERENCE, p);
    if (!IsXmlChar(code)) return Fail(VELK_ERROR_CHARACTER_REFERENCE, p);
    AppendUtf8(code, out);
    return q + 1;
}

// A reference at p, ending before after, to an entity other than the five
// predefined ones, in an attribute value (the DTD takes those in content
// first). Without a DOCTYPE no other entity is declared; with one, the DTD
// expands it, or refuses it, or keeps it as written when declarations it does
// not read may declare it.
const char* StrictReader::NamedReference(const char* p, const char* after, std::string* out) {
    if (!dtd_) return Fail(VELK_ERROR_ENTITY_UNDECLARED, p);
    const char* next = dtd_->InAttribute(p, end_, out);
    if (next != p) return next;
    out->append(p, static_cast<size_t>(after - p));
    return after;
}

// The reference at p to an entity of the DTD, in content. Characters alone
// are appended to the text being read (condensed with it when condensing) and
// the position after the reference returned; p is returned when the reference
// is not the DTD's or stands for nodes (reference_ tells which), null after an
// error.
VELK_NOINLINE const char* StrictReader::EntityText(const char* p, bool* pendingSpace,
                                                   LineCount* lines) {
    std::string characters;
    reference_ = dtd_->InContent(p, end_, &characters);
    if (reference_.action == Dtd::Action::kFailed) return nullptr;
    if (reference_.action != Dtd::Action::kText) return p;
    if (!condense_) {
        text_ += characters;
        return reference_.after;
    }
    for (const char c : characters) {
        if (Is(c, kXmlSpace)) {
            *pendingSpace = *pendingSpace || !text_.empty();
            continue;
        }
        if (*pendingSpace) text_ += ' ';
        *pendingSpace = false;
        text_ += c;
    }
    // A space pending from the entity takes in the white space after it.
    return *pendingSpace ? SkipSpace(reference_.after, lines) : reference_.after;
}

// Puts among parent's children what the reference at p stands for, which
// reference_ holds: a node that keeps a reference the DTD does not read, or
// the nodes of a replacement text that holds markup, read as content of its
// own (its errors placed at the outermost reference). Returns the position
// after the reference.
VELK_NOINLINE const char* StrictReader::EntityNodes(const char* p, VelkElement* parent) {
    const Dtd::Reference reference = reference_;
    if (reference.action == Dtd::Action::kReference) {
        VelkText* node = Make<VelkText>(parent, p, "");
        if (!node) return NoMemory();
        node->SetEntityReference(true);
        const std::string_view name = reference.name;
        return Keep(doc_, &VelkAccess::Value(*node), name.data(), name.size()) ? reference.after
                                                                               : NoMemory();
    }
    if (!dtd_->Enter(reference.entity, p)) return nullptr;
    const std::string& text = reference.entity->text;
    VelkParsingData* const data = data_;
    const char* const end = end_;
    data_ = nullptr;
    end_ = text.c_str() + text.size();
    ++entities_;
    const char* after = Content(text.c_str(), parent, open_.size(), true);
    --entities_;
    data_ = data;
    end_ = end;
    if (!after) dtd_->PlaceError();
    dtd_->Leave(reference.entity);
    return after ? reference.after : nullptr;
}

// The body of a comment, processing instruction or CDATA section from p up to
// its terminator, every character a Char; returns the terminator's position.
// "--" ends a comment's body only as "-->".
const char* StrictReader::Body(const char* p, const char* terminator, const char* opened,
                               int unclosed) {
    const char first = terminator[0];
    for (;;) {
        while (!Is(*p, kStrictBody)) ++p;
        if (*p == first) {
            if (StartsWith(p, terminator)) return p;
            if (first == '-' && p[1] == '-') return Fail(VELK_ERROR_COMMENT_HYPHENS, p);
            ++p;
            continue;
        }
        if (*p == '-' || *p == '?' || *p == ']' || *p == '\r') {
            ++p;
            continue;
        }
        if (!*p && p == end_) return Fail(unclosed, opened);
        const size_t n = CharAt(p, opened);
        if (!n) return nullptr;
        p += n;
    }
}

// Comment ::= '<!--' ((Char - '-') | ('-' (Char - '-')))* '-->'
const char* StrictReader::Comment(const char* p, VelkNode* parent) {
    const char* body = p + 4;
    const char* end = Body(body, "-->", p, VELK_ERROR_UNCLOSED);
    if (!end) return nullptr;
    VelkComment* comment = Make<VelkComment>(parent, p);
    if (!comment || !KeepNormalised(&VelkAccess::Value(*comment), body, end)) return NoMemory();
    return end + 3;
}

// PI ::= '<?' PITarget (S (Char* - (Char* '?>' Char*)))? '?>', the target a
// Name other than "xml" in any letter case. Kept as unknown markup.
const char* StrictReader::Instruction(const char* p, VelkNode* parent) {
    const char* target = p + 2;
    const char* q = Name(target, p);
    if (!q) return nullptr;
    if (q - target == 3 && ToLower(target[0]) == 'x' && ToLower(target[1]) == 'm' &&
        ToLower(target[2]) == 'l') {
        if (std::strncmp(target, "xml", 3) != 0) return Fail(VELK_ERROR_PI_TARGET, target);
        return Fail(p == start_ ? VELK_ERROR_XML_DECLARATION : VELK_ERROR_MISPLACED, p);
    }
    if (!(q[0] == '?' && q[1] == '>')) {
        if (!Is(*q, kXmlSpace)) return Unexpected(q, VELK_ERROR_PI_TARGET, p);
        q = Body(q, "?>", p, VELK_ERROR_UNCLOSED);
        if (!q) return nullptr;
    }
    VelkUnknown* node = Make<VelkUnknown>(parent, p);
    if (!node || !KeepNormalised(&VelkAccess::Value(*node), p + 1, q + 1)) return NoMemory();
    return q + 2;
}

// CDSect ::= '<![CDATA[' (Char* - (Char* ']]>' Char*)) ']]>', kept as a CDATA text.
const char* StrictReader::CData(const char* p, VelkNode* parent) {
    const char* body = p + 9;
    const char* end = Body(body, "]]>", p, VELK_ERROR_CDATA_UNCLOSED);
    if (!end) return nullptr;
    VelkText* text = Make<VelkText>(parent, p, "");
    if (!text) return NoMemory();
    text->SetCDATA(true);
    return KeepNormalised(&VelkAccess::Value(*text), body, end) ? end + 3 : nullptr;
}

// ---------------------------------------------------------------------------
// What a tree can be written as

// The first fault of s as the text of characters: VELK_ERROR_UTF8,
// VELK_ERROR_CHARACTER or 0.
int CharactersFault(const VelkString& s) {
    const char* p = s.c_str();
    const char* const end = p + s.size();
    while (p < end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            if (c < 0x20 && !Is(*p, kXmlSpace)) return VELK_ERROR_CHARACTER;
            ++p;
            continue;
        }
        unsigned long code;
        const size_t n = DecodeUtf8(p, end, &code);
        if (!n) return VELK_ERROR_UTF8;
        if (!IsXmlChar(code)) return VELK_ERROR_CHARACTER;
        p += n;
    }
    return 0;
}

// The control characters that no form of XML text holds.
int ControlFault(const VelkString& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s.c_str()[i];
        if (static_cast<unsigned char>(c) < 0x20 && !Is(c, kXmlSpace)) return VELK_ERROR_CHARACTER;
    }
    return 0;
}

int NameFault(const char* p, size_t n) {
    return n && NameEnd(p) == p + n ? 0 : VELK_ERROR_NAME;
}

int NameFault(const VelkString& s) {
    return NameFault(s.c_str(), s.size());
}

// Whether node stands for an entity reference whose value, written as
// "&value;", is no reference: its name is empty or not a name.
bool ReferenceFault(const VelkNode& node) {
    const VelkText* text = node.ToText();
    return text && text->EntityReference() && NameFault(VelkAccess::Value(node));
}

// A comment's body: characters, no "--", no '-' last (it would join "-->").
int CommentFault(const VelkString& s) {
    if (const int fault = CharactersFault(s)) return fault;
    const std::string_view body(s.c_str(), s.size());
    const bool hyphens = body.find("--") != std::string_view::npos;
    return hyphens || (!body.empty() && body.back() == '-') ? VELK_ERROR_COMMENT_HYPHENS : 0;
}

// Markup kept as it stands: a processing instruction ("?target data?") or a
// DOCTYPE ("!DOCTYPE name ...").
int MarkupFault(const VelkString& s) {
    if (const int fault = CharactersFault(s)) return fault;
    const std::string_view text(s.c_str(), s.size());
    if (text.size() > 9 && text.compare(0, 8, "!DOCTYPE") == 0 && Is(text[8], kXmlSpace)) return 0;
    if (text.size() < 2 || text.front() != '?' || text.back() != '?') return VELK_ERROR_MARKUP;
    const char* target = s.c_str() + 1;
    const char* end = NameEnd(target);
    const size_t length = static_cast<size_t>(end - target);
    if (!length) return VELK_ERROR_NAME;
    if (length == 3 && ToLower(target[0]) == 'x' && ToLower(target[1]) == 'm' &&
        ToLower(target[2]) == 'l')
        return VELK_ERROR_PI_TARGET;
    const std::string_view data = text.substr(1 + length, text.size() - 2 - length);
    if (!data.empty() && !Is(data[0], kXmlSpace)) return VELK_ERROR_PI_TARGET;
    return data.find("?>") == std::string_view::npos ? 0 : VELK_ERROR_PI_TARGET;
}

int DeclarationFault(const VelkDeclaration& d) {
    const std::string& version = VelkAccess::Version(d);
    const std::string& encoding = VelkAccess::Encoding(d);
    const std::string& standalone = VelkAccess::Standalone(d);
    if (!IsVersionNumber(version)) return VELK_ERROR_XML_DECLARATION;
    if (!encoding.empty() && !IsEncodingName(encoding)) return VELK_ERROR_XML_DECLARATION;
    if (!encoding.empty() && !IsReadableEncoding(encoding)) return VELK_ERROR_ENCODING;
    if (!standalone.empty() && standalone != "yes" && standalone != "no")
        return VELK_ERROR_XML_DECLARATION;
    return 0;
}

// The fault of one node of a strict document, its attributes included.
int StrictFault(const VelkNode& node, const VelkBase** where) {
    *where = &node;
    const VelkString& value = VelkAccess::Value(node);
    switch (node.Type()) {
        case VelkNode::ELEMENT: {
            if (const int fault = NameFault(value)) return fault;
            for (const VelkAttribute* a = node.ToElement()->FirstAttribute(); a; a = a->Next()) {
                *where = a;
                if (const int fault = NameFault(VelkAccess::Name(*a))) return fault;
                if (const int fault = CharactersFault(VelkAccess::Value(*a))) return fault;
            }
            return 0;
        }
        case VelkNode::TEXT:
            return ReferenceFault(node) ? VELK_ERROR_NAME : CharactersFault(value);
        case VelkNode::COMMENT:
            return CommentFault(value);
        case VelkNode::UNKNOWN:
            return MarkupFault(value);
        case VelkNode::DECLARATION:
            return DeclarationFault(static_cast<const VelkDeclaration&>(node));
        default:
            return 0;
    }
}

// The fault of one node of a lenient document: in every model a comment body
// holding "-->", which the pretty form writes as it is and which would end the
// comment early; in the UTF-8 model control characters.
int LenientFault(const VelkNode& node, bool utf8, const VelkBase** where) {
    *where = &node;
    const VelkString& value = VelkAccess::Value(node);
    if (node.Type() == VelkNode::COMMENT &&
        std::string_view(value.c_str(), value.size()).find("-->") != std::string_view::npos)
        return VELK_ERROR_COMMENT_HYPHENS;
    if (ReferenceFault(node)) return VELK_ERROR_NAME;
    if (!utf8) return 0;
    if (const int fault = ControlFault(value)) return fault;
    if (const VelkElement* element = node.ToElement()) {
        for (const VelkAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
            *where = a;
            if (ControlFault(VelkAccess::Name(*a)) || ControlFault(VelkAccess::Value(*a)))
                return VELK_ERROR_CHARACTER;
        }
    }
    return 0;
}

// The top level of a strict document: one element, white space for text.
int TopLevelFault(const VelkDocument& doc, const VelkBase** where) {
    const VelkNode* root = nullptr;
    for (const VelkNode* node = doc.FirstChild(); node; node = node->NextSibling()) {
        *where = node;
        const VelkText* text = node->ToText();
        if (text && (text->CDATA() || !text->Blank())) return VELK_ERROR_TEXT_OUTSIDE_ELEMENT;
        if (!node->ToElement()) continue;
        if (root) return VELK_ERROR_MULTIPLE_ROOTS;
        root = node;
    }
    *where = root ? nullptr : &doc;
    return root ? 0 : VELK_ERROR_DOCUMENT_EMPTY;
}

}  // namespace

int VelkDocument::CheckWritable(const VelkBase** where) const {
    const VelkBase* found = nullptr;
    if (!where) where = &found;
    *where = nullptr;
    if (strict) {
        if (const int fault = TopLevelFault(*this, where)) return fault;
    }
    // Every node in document order, walked over the parent and sibling links.
    const VelkNode* node = FirstChild();
    while (node) {
        const int fault = strict ? StrictFault(*node, where) : LenientFault(*node, utf8, where);
        if (fault) return fault;
        if (node->FirstChild()) {
            node = node->FirstChild();
            continue;
        }
        while (node && !node->NextSibling()) {
            node = node->Parent();
            if (node == this) node = nullptr;
        }
        if (node) node = node->NextSibling();
    }
    *where = nullptr;
    return VELK_NO_ERROR;
}

const char* ParseStrict(VelkDocument* document, const char* p, const char* end,
                        VelkParsingData* prevData) {
    document->ClearError();
    if (!p) {
        document->SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
        return nullptr;
    }
    VELK_ASSERT(end && !*end);
    VelkCursor& location = VelkAccess::Location(*document);
    location.row = prevData ? prevData->Cursor().row : 0;
    location.col = prevData ? prevData->Cursor().col : 0;
    VelkParsingData data(p, document->TabSize(), location.row, location.col);
    VelkAccess::Document(data) = document;
    try {
        std::string scratch;
        Dtd dtd(document, &data, p, static_cast<size_t>(end - p));
        StrictReader(document, p, end, &data, &scratch, &dtd).Document(p);
    } catch (const std::bad_alloc&) {
        // Every node is linked as soon as it is made, so the tree holds all
        // that the parse made; only the scratch text and tables are lost.
        document->SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
    }
    return nullptr;
}

}  // namespace TAVARO

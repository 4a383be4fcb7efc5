// The text parser and stream input: scanner primitives and the entity table,
// the row and column tracker, error recording, the document, element,
// attribute and leaf parsers, and the stream readers behind operator>>.
#include "velkintern.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {
constexpr const char kVelkUnit[] = "Velk/base/velkparser";
}  // namespace

namespace TAVARO {

const VelkBase::Entity VelkBase::entity[5] = {
    {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '\"'}, {"&apos;", 6, '\''},
};

// ---------------------------------------------------------------------------
// Scanner primitives

const char* VelkBase::SkipWhiteSpace(const char* p) {
    if (!p || !*p) return nullptr;
    while (Is(*p, kSpace)) ++p;
    return p;
}

bool VelkBase::IsWhiteSpace(int c) {
    // Accepts a char value (signed or not); EOF and other ints are not white space.
    if (c < -128 || c > 255) return false;
    return Is(static_cast<char>(c), kSpace);
}

const char* VelkBase::ReadName(const char* p, std::string* name) {
    VELK_ASSERT(p);
    name->clear();
    if (!*p || !Is(*p, kNameStart)) return nullptr;
    const char* start = p;
    while (Is(*p, kNameChar)) ++p;
    name->assign(start, static_cast<size_t>(p - start));
    return p;
}

const char* VelkBase::GetChar(const char* p, char* value) {
    VELK_ASSERT(p);
    if (*p != '&') {
        *value = *p;
        return p + 1;
    }
    return GetEntity(p, value);
}

namespace {

// The number a digit of a hexadecimal reference stands for; letters beyond 'f'
// and other characters are not refused, they just give other numbers.
unsigned HexDigitValue(char d) {
    if (Is(d, kAlpha)) return static_cast<unsigned>(ToLower(d) - 'a' + 10);
    return static_cast<unsigned>(static_cast<unsigned char>(d)) - '0';
}

char LowByte(unsigned v) {
    return static_cast<char>(static_cast<unsigned char>(v & 0xFFu));
}

}  // namespace

const char* VelkBase::GetEntity(const char* p, char* value) {
    if (p[0] == '&' && p[1] == '#' && p[2] == 'x' && p[3] && p[4] && (p[4] == ';' || p[5] == ';')) {
        if (p[4] == ';') {
            *value = LowByte(HexDigitValue(p[3]));
            return p + 5;
        }
        *value = LowByte(16u * HexDigitValue(p[3]) + HexDigitValue(p[4]));
        return p + 6;
    }
    for (int i = 0; i < 5; ++i) {
        // A cheap first test: the names differ in their first letter but for
        // "&amp;" and "&apos;" (p[1] is read only after a '&').
        if (p[0] != '&' || p[1] != entity[i].str[1]) continue;
        if (std::strncmp(p, entity[i].str, entity[i].strLength) == 0) {
            // The failure message quotes the expression as written here, spaces included.
            // clang-format off
            VELK_ASSERT(strlen( entity[i].str ) == entity[i].strLength);
            // clang-format on
            *value = entity[i].chr;
            return p + entity[i].strLength;
        }
    }
    *value = '&';
    return p + 1;
}

bool VelkBase::StringEqual(const char* p, const char* tag, bool caseSensitive) {
    VELK_ASSERT(p);
    if (!*p || ToLower(*p) != ToLower(*tag)) return false;
    if (caseSensitive) {
        while (*p && *tag && *p == *tag) ++p, ++tag;
    } else {
        while (*p && *tag && ToLower(*p) == ToLower(*tag)) ++p, ++tag;
    }
    return *tag == 0;
}

namespace {

// Which bytes end a run of plain text for one marker and mode: NUL and '&'
// always, the marker's first byte in either letter case, and white space when
// condensing. A single space between two words (condensing, with a marker that
// is not white space) stays in the run, so a space ends it only when white
// space or another stop follows.
struct TextStops {
    enum : unsigned char { kStop = 1, kSpaceJoins = 2, kStopOrSpace = 4 };
    unsigned char kind[256];

    constexpr TextStops(unsigned char marker, bool condense) : kind() {
        const unsigned lower = marker >= 'A' && marker <= 'Z' ? marker - 'A' + 'a' : marker;
        const unsigned upper = lower >= 'a' && lower <= 'z' ? lower - 'a' + 'A' : lower;
        const bool markerIsSpace = ClassOf(marker) & kSpace;
        for (unsigned c = 0; c < 256; ++c) {
            const bool space = condense && (ClassOf(c) & kSpace);
            const bool joins = space && c == ' ' && !markerIsSpace;
            const bool stop = c == 0 || c == '&' || c == lower || c == upper || (space && !joins);
            kind[c] = static_cast<unsigned char>((stop ? kStop : 0) | (joins ? kSpaceJoins : 0) |
                                                 (stop || joins ? kStopOrSpace : 0));
        }
    }

    // The first byte at or after p where the run ends.
    const char* RunEnd(const char* p) const {
        for (;; ++p) {
            const unsigned here = kind[static_cast<unsigned char>(p[0])];
            if (here & kStop) return p;
            // p[0] is not NUL, so p[1] is still inside the text.
            const unsigned next = kind[static_cast<unsigned char>(p[1])];
            if ((here << 1) & next & kStopOrSpace) return p;
        }
    }
};

// The tables of the markers the parsers use, made once; other markers get
// theirs built per read.
template <unsigned char Marker, bool Condense>
inline constexpr TextStops kStops{Marker, Condense};

const TextStops* KnownStops(char marker, bool condense) {
    switch (marker) {
        case '<':
            return condense ? &kStops<'<', true> : &kStops<'<', false>;
        case '\'':
            return condense ? &kStops<'\'', true> : &kStops<'\'', false>;
        case '\"':
            return condense ? &kStops<'\"', true> : &kStops<'\"', false>;
        case '-':
            return condense ? &kStops<'-', true> : &kStops<'-', false>;
        default:
            return nullptr;
    }
}

// The most text a read up to a one-byte marker can give: the bytes before the
// marker or the end of the input. Zero when the marker is longer or a letter
// (matched in either case), which a plain byte search cannot find.
size_t TextBound(const char* p, const char* endTag) {
    if (!endTag[0] || endTag[1] || Is(endTag[0], kAlpha)) return 0;
    const char* marker = std::strchr(p, endTag[0]);
    return marker ? static_cast<size_t>(marker - p) : std::strlen(p);
}

// Reads decoded text up to endTag as ReadText does, but returns the position of
// the marker itself (or the end of the input) and whether the marker was found.
// Runs of ordinary bytes are appended in one piece; the loop stops only where a
// byte may matter: the marker's first byte (in either case), '&', NUL and, when
// condensing, white space other than a single space between two words, which
// stays in the run as it is. stops is the table of endTag's first byte.
const char* ReadTextWith(const TextStops& stops, const char* p, std::string* text, bool condense,
                         const char* endTag, bool caseSensitive, bool* found) {
    text->clear();
    *found = false;
    const char first = ToLower(*endTag);
    const bool markerIsSpace = Is(*endTag, kSpace);
    if (condense) {
        p = VelkBase::SkipWhiteSpace(p);
        if (!p) return nullptr;
    }
    bool reserved = false;      // a text longer than its first run is reserved once
    bool pendingSpace = false;  // a condensed run of white space not yet written
    const auto putPendingSpace = [&pendingSpace, text] {
        if (pendingSpace) *text += ' ';
        pendingSpace = false;
    };
    for (;;) {
        const char* run = p;
        p = stops.RunEnd(p);
        const bool atMarker =
            *p && ToLower(*p) == first && VelkBase::StringEqual(p, endTag, caseSensitive);
        if (!reserved && *p && !atMarker) {
            // Reserved before the first run is written, so it is not copied again.
            text->reserve(text->size() + static_cast<size_t>(p - run) + 1 + TextBound(p, endTag));
            reserved = true;
        }
        if (p != run) {
            putPendingSpace();
            text->append(run, static_cast<size_t>(p - run));
        }
        if (!*p) return p;
        if (atMarker) {
            *found = true;
            return p;
        }
        if (condense && Is(*p, kSpace)) {
            pendingSpace = true;
            ++p;
            if (!markerIsSpace) {
                while (Is(*p, kSpace)) ++p;
            }
            continue;
        }
        char c;
        p = VelkBase::GetChar(p, &c);
        putPendingSpace();
        *text += c;
    }
}

// ReadTextWith the table of endTag's first byte: a ready one for the markers the
// parsers use, one built here for any other.
const char* ReadTextUpTo(const char* p, std::string* text, bool condense, const char* endTag,
                         bool caseSensitive, bool* found) {
    if (const TextStops* known = KnownStops(*endTag, condense))
        return ReadTextWith(*known, p, text, condense, endTag, caseSensitive, found);
    const TextStops own(static_cast<unsigned char>(*endTag), condense);
    return ReadTextWith(own, p, text, condense, endTag, caseSensitive, found);
}

}  // namespace

const char* VelkBase::ReadText(const char* p, std::string* text, bool trimWhiteSpace,
                               const char* endTag, bool caseSensitive) {
    bool found;
    const bool condense = trimWhiteSpace && condenseWhiteSpace;
    const char* end = ReadTextUpTo(p, text, condense, endTag, caseSensitive, &found);
    if (!end) return p;  // condensing at the end of the input: nothing to read
    return found ? end + std::strlen(endTag) : end;
}

// ---------------------------------------------------------------------------
// Location tracking

namespace {

// Flags the bytes of word below 14, the range that holds every line stop (NUL,
// tab, line feed, carriage return): every such byte is flagged, and the first
// flagged byte in memory order is never after the first such byte.
std::uint64_t BytesBelow14(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    return (word - 14 * kOnes) & ~word & kHighBits;
}

// How many bytes in memory order come before the first flagged one.
unsigned FirstFlagged(std::uint64_t flags) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return static_cast<unsigned>(__builtin_ctzll(flags)) / 8;
#else
    unsigned char bytes[8];
    std::memcpy(bytes, &flags, sizeof bytes);
    unsigned i = 0;
    while (!bytes[i]) ++i;
    return i;
#endif
}

std::uint64_t LoadWord(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The first line stop in [p, end), or end: eight bytes at a time, going
// straight to the first byte that may be one.
const char* SkipColumns(const char* p, const char* end) {
    while (end - p >= 8) {
        const std::uint64_t flags = BytesBelow14(LoadWord(p));
        if (!flags) {
            p += 8;
            continue;
        }
        p += FirstFlagged(flags);
        if (Is(*p, kLineStop)) return p;
        ++p;
    }
    while (p < end && !Is(*p, kLineStop)) ++p;
    return p;
}

}  // namespace

VelkParsingData::VelkParsingData(const char* start, int tabSize, int row, int col)
    : stamp(start), tabSize(tabSize), document(nullptr) {
    VELK_ASSERT(start);
    cursor.row = row;
    cursor.col = col;
}

void VelkParsingData::Stamp(const char* now) {
    VELK_ASSERT(now);
    if (tabSize < 1) return;

    int row = cursor.row;
    int col = cursor.col;
    const char* p = stamp;
    VELK_ASSERT(p);

    while (p < now) {
        const char* run = p;
        p = SkipColumns(p, now);
        col += static_cast<int>(p - run);
        if (p >= now) break;
        switch (*p) {
            case 0:
                return;  // past the end of the input: nothing moves
            case '\t':
                ++p;
                col = (col / tabSize + 1) * tabSize;
                break;
            default: {  // a line feed or carriage return; the other one after it joins the line end
                const char pair = *p == '\n' ? '\r' : '\n';
                ++row;
                col = 0;
                ++p;
                if (*p == pair) ++p;
                break;
            }
        }
    }

    // One store for both fields: callers read the cursor back whole at once.
    const int both[2] = {row, col};
    static_assert(sizeof cursor == sizeof both, "a cursor is its row and column");
    std::memcpy(static_cast<void*>(&cursor), both, sizeof both);
    VELK_ASSERT(cursor.row >= -1);
    VELK_ASSERT(cursor.col >= -1);
    stamp = p;
    VELK_ASSERT(stamp);
}

// ---------------------------------------------------------------------------
// Error recording

void VelkDocument::SetError(int err, const char* position, VelkParsingData* data) {
    if (hasError) return;
    VELK_ASSERT(err > 0 && err < VELK_ERROR_STRING_COUNT);
    if (err <= 0 || err >= VELK_ERROR_STRING_COUNT) return;  // a caller error; nothing to record

    hasError = true;
    errorCode = err;
    errorMessage = errorString[err];
    errorCursor.Clear();
    if (position && data) {
        data->Stamp(position);
        errorCursor.row = data->Cursor().row;
        errorCursor.col = data->Cursor().col;
    }
}

namespace {

// The document a parse of node reports to: the running document parse's own,
// else the one above the node. Looked up only when needed, so that no parse
// climbs the parent links once per node.
VelkDocument* ReportTarget(const VelkNode& node, VelkParsingData* data) {
    if (data) {
        if (VelkDocument* doc = VelkAccess::Document(*data)) return doc;
    }
    return node.GetDocument();
}

void Report(const VelkNode& node, int err, const char* position, VelkParsingData* data) {
    if (VelkDocument* doc = ReportTarget(node, data)) doc->SetError(err, position, data);
}

void Report(VelkDocument* doc, int err, const char* position, VelkParsingData* data) {
    if (doc) doc->SetError(err, position, data);
}

// Stamps position and records it as where item begins.
void MarkLocation(VelkBase& item, const char* position, VelkParsingData* data) {
    if (!data) return;
    data->Stamp(position);
    VelkAccess::Location(item) = data->Cursor();
}

}  // namespace

// ---------------------------------------------------------------------------
// Document parse and node identification

VelkNode* VelkNode::Identify(const char* p) {
    p = SkipWhiteSpace(p);
    if (!p || *p != '<') return nullptr;

    VelkNode* node;
    if (StringEqual(p, "<?xml", true)) {
        node = new (std::nothrow) VelkDeclaration();
    } else if (Is(p[1], kNameStart)) {
        node = new (std::nothrow) VelkElement("");
    } else if (StringEqual(p, "<!--", false)) {
        node = new (std::nothrow) VelkComment();
    } else {
        node = new (std::nothrow) VelkUnknown();
    }

    if (node) {
        node->parent = this;
    } else if (VelkDocument* doc = GetDocument()) {
        doc->SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
    }
    return node;
}

const char* VelkDocument::Parse(const char* p, VelkParsingData* prevData) {
    ClearError();
    if (!p || !*p) {
        SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
        return nullptr;
    }

    if (prevData) {
        location.row = prevData->Cursor().row;
        location.col = prevData->Cursor().col;
    } else {
        location.row = 0;
        location.col = 0;
    }
    VelkParsingData data(p, TabSize(), location.row, location.col);
    VelkAccess::Document(data) = this;
    location = data.Cursor();

    p = SkipWhiteSpace(p);
    while (p && *p) {
        VelkNode* node = Identify(p);
        if (!node) break;
        p = node->Parse(p, &data);
        LinkEndChild(node);
        p = SkipWhiteSpace(p);
    }
    return p;
}

// ---------------------------------------------------------------------------
// Element and attribute parsing
//
// An element parse reads the start tag of the element, then walks its content
// without recursion: a child element's start tag is read in place and the walk
// descends into its content; its end tag brings the walk back to the parent
// through the parent link. Every failure below the element asked for ends the
// whole parse, and the content readers in between record error 6 unless an
// error is already recorded.

namespace {

// Above this many attributes the repeated-name check uses a hash index.
constexpr size_t kAttributeIndexThreshold = 16;

// Finds repeated attribute names: a look through a short list of the
// attributes held here for short sets, an open-addressing index of the
// attributes for long ones (no allocation per entry), with the same answers
// either way. The set's own links are not walked, so a lookup touches only the
// attributes of this start tag.
class AttributeNames {
public:
    explicit AttributeNames(VelkAttributeSet* set) : set_(set) {
        for (VelkAttribute* a = set->First(); a; a = a->Next()) Remember(a);
    }

    VelkAttribute* Find(const std::string& name) const {
        if (slots_.empty()) {
            for (size_t i = 0; i < listed_; ++i)
                if (VelkAccess::Name(*list_[i]) == name) return list_[i];
            return nullptr;
        }
        return Lookup(name, Hash(name));
    }

    // The name was just looked up, so the set's own check (a walk of the whole
    // list in debug builds) is not repeated.
    void Add(VelkAttribute* attribute) {
        VelkAccess::Append(*set_, attribute);
        Remember(attribute);
    }

private:
    struct Slot {
        size_t hash;
        VelkAttribute* attribute;  // null for an empty slot
    };

    static size_t Hash(const std::string& name) { return std::hash<std::string_view>()(name); }

    void Remember(VelkAttribute* attribute) {
        if (slots_.empty()) {
            if (listed_ < kAttributeIndexThreshold) {
                list_[listed_++] = attribute;
                return;
            }
            BuildIndex();
        }
        Insert(attribute);
    }

    VelkAttribute* Lookup(const std::string& name, size_t hash) const {
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (!slot.attribute) return nullptr;
            if (slot.hash == hash && VelkAccess::Name(*slot.attribute) == name)
                return slot.attribute;
        }
    }

    // Keeps the table at most half full, so every probe ends at an empty slot.
    void Insert(VelkAttribute* attribute) {
        if (2 * (count_ + 1) > slots_.size()) Grow();
        Place({Hash(VelkAccess::Name(*attribute)), attribute});
        ++count_;
    }

    void Place(const Slot& entry) {
        const size_t mask = slots_.size() - 1;
        size_t i = entry.hash & mask;
        while (slots_[i].attribute) i = (i + 1) & mask;
        slots_[i] = entry;
    }

    void Grow() {
        std::vector<Slot> old(slots_.size() * 2, Slot{0, nullptr});
        old.swap(slots_);
        for (const Slot& entry : old)
            if (entry.attribute) Place(entry);
    }

    void BuildIndex() {
        slots_.assign(4 * kAttributeIndexThreshold, Slot{0, nullptr});
        for (size_t i = 0; i < listed_; ++i) Insert(list_[i]);
    }

    VelkAttributeSet* set_;
    VelkAttribute* list_[kAttributeIndexThreshold];
    size_t listed_ = 0;
    size_t count_ = 0;
    std::vector<Slot> slots_;
};

enum class StartTag { kFailed, kEmpty, kOpen };

// Reads one attribute of element at p into its set; returns where the start tag
// goes on, or null (with the error recorded) when the element's parse ends.
const char* ReadAttribute(AttributeNames* names, const char* gap, const char* p,
                          VelkParsingData* data, VelkDocument* doc) {
    VelkAttribute* attribute = new (std::nothrow) VelkAttribute();
    if (!attribute) {
        Report(doc, VELK_ERROR_ALLOCATION, gap, data);
        return nullptr;
    }
    attribute->SetDocument(doc);
    const char* start = p;
    p = attribute->Parse(p, data);
    if (!p || !*p) {
        Report(doc, VELK_ERROR_PARSE_ELEMENT, start, data);
        delete attribute;
        return nullptr;
    }
    if (VelkAttribute* existing = names->Find(VelkAccess::Name(*attribute))) {
        // A repeated name: the later value wins and the parse ends there.
        VelkAccess::Value(*existing).swap(VelkAccess::Value(*attribute));
        Report(doc, VELK_ERROR_ATTRIBUTES, start, data);
        delete attribute;
        return nullptr;
    }
    names->Add(attribute);
    return p;
}

// Reads the start tag of element from p, up to and including its "/>" or '>'.
StartTag ReadStartTag(VelkElement* element, const char** position, VelkParsingData* data,
                      VelkDocument* doc) {
    const char* p = VelkBase::SkipWhiteSpace(*position);
    if (!p || !*p) {
        Report(doc, VELK_ERROR_PARSE_ELEMENT, nullptr, data);
        return StartTag::kFailed;
    }
    MarkLocation(*element, p, data);
    if (*p != '<') {
        Report(doc, VELK_ERROR_PARSE_ELEMENT, p, data);
        return StartTag::kFailed;
    }

    std::string& name = VelkAccess::Value(*element);
    const char* namePosition = VelkBase::SkipWhiteSpace(p + 1);
    if (!namePosition) {
        name.clear();
        Report(doc, VELK_ERROR_ELEMENT_NAME, nullptr, data);
        return StartTag::kFailed;
    }
    p = VelkBase::ReadName(namePosition, &name);
    if (!p || !*p) {
        Report(doc, VELK_ERROR_ELEMENT_NAME, namePosition, data);
        return StartTag::kFailed;
    }

    AttributeNames names(&VelkAccess::Attributes(*element));
    for (;;) {
        const char* gap = p;
        p = VelkBase::SkipWhiteSpace(p);
        if (!p || !*p) {
            Report(doc, VELK_ERROR_ATTRIBUTES, gap, data);
            return StartTag::kFailed;
        }
        if (*p == '/') {
            ++p;
            if (*p != '>') {
                Report(doc, VELK_ERROR_EMPTY_TAG, p, data);
                return StartTag::kFailed;
            }
            *position = p + 1;
            return StartTag::kEmpty;
        }
        if (*p == '>') {
            *position = p + 1;
            return StartTag::kOpen;
        }
        p = ReadAttribute(&names, gap, p, data, doc);
        if (!p) return StartTag::kFailed;
    }
}

// Whether the text at p is the end tag of element: "</", its name, '>', letter
// case ignored. Compared in place, without building the tag text.
const char* MatchEndTag(const VelkElement& element, const char* p) {
    if (p[0] != '<' || p[1] != '/') return nullptr;
    p += 2;
    for (const char c : VelkAccess::Value(element)) {
        if (ToLower(*p) != ToLower(c)) return nullptr;
        ++p;
    }
    return *p == '>' ? p + 1 : nullptr;
}

// Reads the content of root from p, descending into child elements. Returns the
// position of the "</" that ends root's content, or (with error 6 recorded)
// the end of the input when root's own content runs out, or null when the parse
// of root fails.
const char* ReadContent(VelkElement* root, const char* p, VelkParsingData* data,
                        VelkDocument* doc) {
    VelkElement* current = root;
    p = VelkBase::SkipWhiteSpace(p);
    while (p && *p) {
        if (*p != '<') {
            VelkText* text = new (std::nothrow) VelkText("");
            if (!text) {
                Report(doc, VELK_ERROR_ALLOCATION, nullptr, data);
                return nullptr;
            }
            p = text->Parse(p, data);
            if (text->Blank()) {
                delete text;
            } else {
                current->LinkEndChild(text);
            }
        } else if (VelkBase::StringEqual(p, "</", false)) {
            if (current == root) return p;
            const char* after = MatchEndTag(*current, p);
            if (!after) {
                Report(doc, VELK_ERROR_END_TAG, p, data);
                return nullptr;
            }
            p = after;
            current = static_cast<VelkElement*>(current->Parent());
        } else {
            VelkNode* node = current->Identify(p);
            if (!node) return nullptr;
            current->LinkEndChild(node);
            if (VelkElement* child = node->ToElement()) {
                const StartTag tag = ReadStartTag(child, &p, data, doc);
                if (tag == StartTag::kFailed) {
                    Report(doc, VELK_ERROR_ELEMENT_VALUE, nullptr, data);
                    return nullptr;
                }
                if (tag == StartTag::kOpen) current = child;
            } else {
                p = node->Parse(p, data);
            }
        }
        p = VelkBase::SkipWhiteSpace(p);
    }
    Report(doc, VELK_ERROR_ELEMENT_VALUE, nullptr, data);
    return current == root ? p : nullptr;
}

}  // namespace

const char* VelkElement::Parse(const char* p, VelkParsingData* data) {
    VelkDocument* doc = ReportTarget(*this, data);
    switch (ReadStartTag(this, &p, data, doc)) {
        case StartTag::kFailed:
            return nullptr;
        case StartTag::kEmpty:
            return p;
        case StartTag::kOpen:
            break;
    }
    p = ReadContent(this, p, data, doc);
    if (!p || !*p) return nullptr;
    if (const char* after = MatchEndTag(*this, p)) return after;
    Report(doc, VELK_ERROR_END_TAG, p, data);
    return nullptr;
}

const char* VelkElement::ReadValue(const char* p, VelkParsingData* data) {
    return ReadContent(this, p, data, ReportTarget(*this, data));
}

const char* VelkAttribute::Parse(const char* p, VelkParsingData* data) {
    p = SkipWhiteSpace(p);
    if (!p || !*p) return nullptr;
    MarkLocation(*this, p, data);

    const char* namePosition = p;
    p = ReadName(p, &name);
    if (!p || !*p) {
        Report(document, VELK_ERROR_ATTRIBUTES, namePosition, data);
        return nullptr;
    }
    p = SkipWhiteSpace(p);
    if (!p || !*p || *p != '=') {
        Report(document, VELK_ERROR_ATTRIBUTES, p, data);
        return nullptr;
    }
    p = SkipWhiteSpace(p + 1);
    if (!p || !*p) {
        Report(document, VELK_ERROR_ATTRIBUTES, p, data);
        return nullptr;
    }

    if (*p == '\'' || *p == '\"') {
        // Most values hold no reference: scan to the closing quote and take them whole.
        const char quote = *p;
        const char* start = p + 1;
        const char* end = start;
        while (*end != quote && *end != '&' && *end) ++end;
        if (*end == quote) {
            value.assign(start, static_cast<size_t>(end - start));
            return end + 1;
        }
        return ReadText(start, &value, false, quote == '\'' ? "'" : "\"", false);
    }
    // Unquoted: taken as it stands, up to white space, '/', '>' or the end.
    const char* start = p;
    while (*p && !Is(*p, kSpace) && *p != '/' && *p != '>') ++p;
    value.assign(start, static_cast<size_t>(p - start));
    return p;
}

// ---------------------------------------------------------------------------
// Leaf parsing

const char* VelkComment::Parse(const char* p, VelkParsingData* data) {
    std::string& text = VelkAccess::Value(*this);
    text.clear();
    p = SkipWhiteSpace(p);
    if (p) MarkLocation(*this, p, data);
    if (!p || !StringEqual(p, "<!--", false)) {
        Report(*this, VELK_ERROR_PARSE_COMMENT, p, data);
        return nullptr;
    }
    return ReadText(p + 4, &text, false, "-->", false);
}

const char* VelkText::Parse(const char* p, VelkParsingData* data) {
    std::string& text = VelkAccess::Value(*this);
    text.clear();
    MarkLocation(*this, p, data);
    // The '<' that ends the text is left for the caller: it begins the next markup.
    bool found;
    const char* end = ReadTextUpTo(p, &text, condenseWhiteSpace, "<", false, &found);
    return end ? end : p;
}

const char* VelkDeclaration::Parse(const char* p, VelkParsingData* data) {
    p = SkipWhiteSpace(p);
    if (!p || !*p || !StringEqual(p, "<?xml", true)) {
        Report(*this, VELK_ERROR_PARSE_DECLARATION, nullptr, data);
        return nullptr;
    }
    MarkLocation(*this, p, data);
    p += 5;
    version.clear();
    encoding.clear();
    standalone.clear();

    while (p && *p) {
        if (*p == '>') return p + 1;
        p = SkipWhiteSpace(p);
        std::string* field = nullptr;
        if (StringEqual(p, "version", true)) {
            field = &version;
        } else if (StringEqual(p, "encoding", true)) {
            field = &encoding;
        } else if (StringEqual(p, "standalone", true)) {
            field = &standalone;
        }
        if (field) {
            VelkAttribute attribute;
            p = attribute.Parse(p, data);
            *field = attribute.Value();
        } else {
            while (*p && !Is(*p, kSpace) && *p != '>') ++p;
        }
    }
    return nullptr;
}

const char* VelkUnknown::Parse(const char* p, VelkParsingData* data) {
    p = SkipWhiteSpace(p);
    if (p) MarkLocation(*this, p, data);
    if (!p || *p != '<') {
        Report(*this, VELK_ERROR_PARSE_UNKNOWN, p, data);
        return nullptr;
    }
    ++p;
    const char* start = p;
    while (*p && *p != '>') ++p;
    VelkAccess::Value(*this).assign(start, static_cast<size_t>(p - start));
    return *p == '>' ? p + 1 : p;
}

// ---------------------------------------------------------------------------
// Stream input

namespace {

constexpr int kEndOfStream = std::char_traits<char>::eof();

// Takes characters up to and including the next '>' (or to the end of the stream).
void StreamThroughClose(std::istream* in, std::string* tag) {
    while (in->good()) {
        const int c = in->get();
        if (c == kEndOfStream) return;
        *tag += static_cast<char>(c);
        if (c == '>') return;
    }
}

bool EndsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Finishes an element's start tag; true when content follows it.
bool StreamStartTag(std::istream* in, std::string* tag) {
    StreamThroughClose(in, tag);
    if (tag->size() < 3) return false;
    if (EndsWith(*tag, "/>")) return false;
    return EndsWith(*tag, ">");
}

}  // namespace

bool VelkBase::StreamWhiteSpace(std::istream* in, std::string* tag) {
    while (in->good()) {
        const int c = in->peek();
        if (!IsWhiteSpace(c)) return true;
        *tag += static_cast<char>(c);
        in->get();
    }
    return false;
}

bool VelkBase::StreamTo(std::istream* in, int character, std::string* tag) {
    while (in->good()) {
        const int c = in->peek();
        if (c == character) return true;
        if (c == kEndOfStream) return false;
        *tag += static_cast<char>(c);
        in->get();
    }
    return false;
}

void VelkText::StreamIn(std::istream* in, std::string* tag) {
    while (in->good()) {
        const int c = in->peek();
        if (c == '<' || c == kEndOfStream) return;
        *tag += static_cast<char>(c);
        in->get();
    }
}

void VelkUnknown::StreamIn(std::istream* in, std::string* tag) {
    StreamThroughClose(in, tag);
}

void VelkDeclaration::StreamIn(std::istream* in, std::string* tag) {
    StreamThroughClose(in, tag);
}

void VelkComment::StreamIn(std::istream* in, std::string* tag) {
    while (in->good()) {
        const int c = in->get();
        if (c == kEndOfStream) return;
        *tag += static_cast<char>(c);
        const size_t n = tag->size();
        if (c == '>' && n >= 3 && (*tag)[n - 2] == '-' && (*tag)[n - 3] == '-') return;
    }
}

namespace {

// Takes one piece of markup inside element content, from its '<' up to, not
// including, its '>'. Returns false when the stream ends first; *closing tells
// whether the piece is an end tag (its first character after '<' and white
// space is '/').
bool StreamPiece(std::istream* in, std::string* tag, bool* closing) {
    *closing = false;
    bool decided = false;
    for (;;) {
        if (!in->good()) return false;
        const int c = in->peek();
        if (c == kEndOfStream) return false;
        if (c == '>') return true;
        *tag += static_cast<char>(c);
        in->get();
        if (!decided && c != '<' && !VelkBase::IsWhiteSpace(c)) {
            decided = true;
            *closing = c == '/';
        }
    }
}

}  // namespace

// Follows nested elements with a depth count: each open start tag adds a level,
// each end tag (whatever its name) or stop at a level takes one away.
void VelkElement::StreamIn(std::istream* in, std::string* tag) {
    if (!StreamStartTag(in, tag)) return;
    VelkText text("");
    size_t depth = 1;
    while (depth > 0) {
        StreamWhiteSpace(in, tag);
        if (in->good() && in->peek() != '<') {
            text.StreamIn(in, tag);
            continue;
        }
        if (!in->good()) return;  // the stream ended: every open level stops here

        VELK_ASSERT(in->peek() == '<');
        const size_t start = tag->size();
        bool closing;
        if (!StreamPiece(in, tag, &closing)) return;
        if (closing) {
            const int c = in->get();
            VELK_ASSERT(c == '>');
            *tag += static_cast<char>(c);
            --depth;
            continue;
        }
        VelkNode* node = Identify(tag->c_str() + start);
        if (!node) {
            --depth;
            continue;
        }
        const bool isElement = node->ToElement() != nullptr;
        if (!isElement) node->StreamIn(in, tag);
        delete node;
        if (isElement && StreamStartTag(in, tag)) ++depth;
    }
}

void VelkDocument::StreamIn(std::istream* in, std::string* tag) {
    if (!StreamTo(in, '<', tag)) {
        SetError(VELK_ERROR_EMPTY_TAG, nullptr, nullptr);
        return;
    }
    while (in->good()) {
        const size_t start = tag->size();
        while (in->good()) {
            const int c = in->peek();
            if (c == '>' || c == kEndOfStream) break;
            *tag += static_cast<char>(c);
            in->get();
        }
        if (!in->good()) break;

        VelkNode* node = Identify(tag->c_str() + start);
        if (!node) {
            SetError(VELK_ERROR, nullptr, nullptr);
            return;
        }
        node->StreamIn(in, tag);
        const bool isElement = node->ToElement() != nullptr;
        delete node;
        if (isElement) return;
    }
    SetError(VELK_ERROR, nullptr, nullptr);
}

std::istream& operator>>(std::istream& in, VelkNode& base) {
    // The markup is gathered a byte at a time: room for the first few kilobytes
    // up front spares the string's early reallocations on small documents.
    std::string tag;
    tag.reserve(8000);

    // An error from an earlier parse or read is cleared first, as Parse clears
    // it, so that the only error the read can leave is one it raised itself.
    VelkDocument* doc = base.ToDocument();
    if (doc) doc->ClearError();
    base.StreamIn(&in, &tag);

    // A document keeps the stream's error when the parse of what was read finds
    // none: a stream that held no element must not read as a success.
    const int streamError = doc && doc->Error() ? doc->ErrorCode() : VELK_NO_ERROR;

    base.Parse(tag.c_str(), nullptr);

    if (streamError != VELK_NO_ERROR && !doc->Error()) doc->SetError(streamError, nullptr, nullptr);
    return in;
}

}  // namespace TAVARO

// The text parser and stream input: scanner primitives and the entity table,
// the row and column tracker, error recording, the document, element,
// attribute and leaf parsers, and the stream readers behind operator>>.
#include "velkdtd.h"
#include "velkintern.h"
#include "velkmemory.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

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

namespace {

// The name classes of a character model: in the UTF-8 model every byte from
// 0x80 up is part of a name character.
struct NameClasses {
    unsigned start;
    unsigned rest;
};

constexpr NameClasses kByteNames{kNameStart, kNameChar};
constexpr NameClasses kUtf8Names{kNameStartUtf8, kNameCharUtf8};

const NameClasses& NamesOf(bool utf8) {
    return utf8 ? kUtf8Names : kByteNames;
}

// The end of the name at p, or null when no name starts there.
const char* NameEnd(const NameClasses& classes, const char* p) {
    if (!*p || !Is(*p, classes.start)) return nullptr;
    ++p;
    while (Is(*p, classes.rest)) ++p;
    return p;
}

const char* ReadNameAs(const NameClasses& classes, const char* p, std::string* name) {
    const char* end = NameEnd(classes, p);
    if (end) {
        name->assign(p, static_cast<size_t>(end - p));
    } else {
        name->clear();
    }
    return end;
}

}  // namespace

const char* VelkBase::ReadName(const char* p, std::string* name) {
    VELK_ASSERT(p);
    return ReadNameAs(kByteNames, p, name);
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

namespace {

// GetEntity, inlined where the text readers decode.
inline const char* DecodeEntity(const char* p, char* value) {
    if (p[0] == '&' && p[1] == '#' && p[2] == 'x' && p[3] && p[4] && (p[4] == ';' || p[5] == ';')) {
        if (p[4] == ';') {
            *value = LowByte(HexDigitValue(p[3]));
            return p + 5;
        }
        *value = LowByte(16u * HexDigitValue(p[3]) + HexDigitValue(p[4]));
        return p + 6;
    }
    // The names differ in their second letter but for "&amp;" and "&apos;",
    // which differ in their third (p[1] and p[2] are read only after a '&').
    const VelkBase::Entity* const entity = VelkBase::entity;
    int i = -1;
    if (p[0] == '&') {
        switch (p[1]) {
            case 'a':
                i = p[2] == 'p' ? 4 : 0;
                break;
            case 'l':
                i = 1;
                break;
            case 'g':
                i = 2;
                break;
            case 'q':
                i = 3;
                break;
            default:
                break;
        }
    }
    if (i >= 0) {
        // Compared up to the entity's end; a NUL in p differs and stops it.
        const char* name = entity[i].str;
        size_t k = 1;
        while (name[k] && p[k] == name[k]) ++k;
        if (!name[k]) {
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

}  // namespace

const char* VelkBase::GetEntity(const char* p, char* value) {
    return DecodeEntity(p, value);
}

namespace {

int DigitValue(char c, unsigned base) {
    if (c >= '0' && c <= '9') return c - '0';
    if (base == 16 && Is(c, kAlpha)) {
        const int v = ToLower(c) - 'a' + 10;
        if (v < 16) return v;
    }
    return -1;
}

// Whether the lenient UTF-8 reading decodes a reference to the code point: a
// character XML allows, or a control character other than NUL, which the
// writers can only put as a reference; so what they write reads back.
bool IsReadableChar(unsigned long c) {
    return IsXmlChar(c) || (c >= 0x1 && c < 0x20);
}

// The character reference "&#" digits ";" or "&#x" hex-digits ";" at p, of a
// character the lenient UTF-8 reading decodes: appends its UTF-8 bytes and
// returns the position after it; null when none stands there.
const char* DecodeCharReference(const char* p, std::string* out) {
    const unsigned base = p[2] == 'x' ? 16 : 10;
    const char* q = p + (base == 16 ? 3 : 2);
    const char* digits = q;
    unsigned long code = 0;
    for (int d; (d = DigitValue(*q, base)) >= 0; ++q) {
        code = code * base + static_cast<unsigned>(d);
        if (code > 0x10FFFF) code = 0x110000;  // out of range whatever follows
    }
    if (q == digits || *q != ';' || !IsReadableChar(code)) return nullptr;
    AppendUtf8(code, out);
    return q + 1;
}

// Decodes the reference at '&' and appends what it stands for. The byte model
// knows "&#xH;", "&#xHH;" and the five named entities and gives one byte; the
// UTF-8 model knows every decimal and hexadecimal character reference. Anything
// else is the '&' itself.
const char* DecodeReference(const char* p, std::string* out, bool utf8) {
    if (utf8 && p[1] == '#') {
        if (const char* after = DecodeCharReference(p, out)) return after;
        *out += '&';
        return p + 1;
    }
    char c;
    p = DecodeEntity(p, &c);
    *out += c;
    return p;
}

}  // namespace

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
// always, the marker's first byte in either letter case, white space when
// condensing and a carriage return when not (a line end to normalise in the
// UTF-8 model). A single space between two words (condensing, with a marker that
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
            const bool stop = c == 0 || c == '&' || c == lower || c == upper || (space && !joins) ||
                              (!condense && c == '\r');
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

// Finds where runs of text end with the table alone, a byte at a time.
struct TableRuns {
    const TextStops& stops;
    const char* end = nullptr;  // not known; no DTD reads through these

    const char* RunEnd(const char* p) const { return stops.RunEnd(p); }

    // The most text a read up to a one-byte marker can give: the bytes before
    // the marker or the end of the input. Zero when the marker is longer or a
    // letter (matched in either case), which a plain byte search cannot find.
    static size_t Bound(const char* p, const char* endTag) {
        if (!endTag[0] || endTag[1] || Is(endTag[0], kAlpha)) return 0;
        const char* marker = std::strchr(p, endTag[0]);
        return marker ? static_cast<size_t>(marker - p) : std::strlen(p);
    }
};

#if defined(__SSE2__) && defined(__GNUC__)
// The bytes of v that end a run of content text whatever follows them: NUL,
// '&', '<', and white space but the space when condensing, or a carriage
// return when not.
inline __m128i ContentStops(__m128i v, bool condense) {
    const __m128i zero = _mm_setzero_si128();
    __m128i stops = _mm_or_si128(
        _mm_cmpeq_epi8(v, zero),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))));
    if (!condense) return _mm_or_si128(stops, _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    // Tab to carriage return: v - 9, taken unsigned, is at most 4.
    const __m128i above = _mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8(9)), _mm_set1_epi8(4));
    return _mm_or_si128(stops, _mm_cmpeq_epi8(above, zero));
}
#endif

// Finds where runs of element content (text up to '<') end: sixteen bytes a
// step with SSE2 while the end of the input is known and at least sixteen bytes
// away, the table for the rest. Both find the same ends.
struct ContentRuns {
    const TextStops& stops;
    const char* end;  // the input's terminating NUL, or null when not known
    bool condense;

    const char* RunEnd(const char* p) const {
#if defined(__SSE2__) && defined(__GNUC__)
        const __m128i space = _mm_set1_epi8(' ');
        while (end && end - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i stop = ContentStops(v, condense);
            if (condense) {
                // A space ends the run when white space or a stop follows it.
                const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
                const __m128i nextStops =
                    _mm_or_si128(ContentStops(next, true), _mm_cmpeq_epi8(next, space));
                stop = _mm_or_si128(stop, _mm_and_si128(_mm_cmpeq_epi8(v, space), nextStops));
            }
            if (const int mask = _mm_movemask_epi8(stop)) return p + __builtin_ctz(mask);
            p += 16;
        }
#endif
        return stops.RunEnd(p);
    }

    // Content is read into the parse's scratch string, which keeps its room
    // from one text to the next: no bound is searched for.
    static size_t Bound(const char*, const char*) {
        return 0;
    }
};

// Skips white space at p, counting lines in lines when it is not null.
const char* SkipSpace(const char* p, LineCount* lines) {
    if (lines) return lines->Skip(p);
    while (Is(*p, kSpace)) ++p;
    return p;
}

// Appends the characters of the reference at p ('&') to a text being read, when
// the DTD has it stand for characters only; condensing, white space in them
// becomes a pending space. Returns the position after the reference, p when
// it is not the DTD's, or null when the text stops there (the reference
// becomes nodes, or an error was recorded).
VELK_NOINLINE const char* AppendEntityText(Dtd* entities, const char* p, const char* end,
                                           std::string* text, bool condense, bool* pendingSpace) {
    std::string characters;
    const Dtd::Reference ref = entities->InContent(p, end, &characters);
    if (ref.action == Dtd::Action::kDecode) return p;
    if (ref.action != Dtd::Action::kText) return nullptr;
    const char* c = characters.c_str();
    const char* const last = c + characters.size();
    while (c != last) {
        const char* run = c;
        while (c != last && !(condense && Is(*c, kSpace))) ++c;
        if (c != run) {
            if (*pendingSpace) *text += ' ';
            *pendingSpace = false;
            text->append(run, static_cast<size_t>(c - run));
        }
        for (; c != last && Is(*c, kSpace); ++c) *pendingSpace = !text->empty();
    }
    return ref.after;
}

// Reads decoded text up to endTag as ReadText does, but returns the position of
// the marker itself (or the end of the input) and whether the marker was found.
// Runs of ordinary bytes are appended in one piece; the loop stops only where a
// byte may matter: the marker's first byte (in either case), '&', NUL and, when
// condensing, white space other than a single space between two words, which
// stays in the run as it is. stops is the table of endTag's first byte. In the
// UTF-8 model a line end ("\r\n" or a lone "\r") is read as one "\n", as XML
// readers do. runs finds where runs end. lines, when not null, counts rows and
// columns over the text read (condensing only; a white-space marker excluded).
// entities, when not null, expands the references to entities of a DTD that
// stand for characters only; the text stops at any other one.
template <class Runs>
const char* ReadTextWith(const Runs& runs, const char* p, std::string* text, bool condense,
                         bool utf8, const char* endTag, bool caseSensitive, bool* found,
                         LineCount* lines = nullptr, Dtd* entities = nullptr) {
    text->clear();
    *found = false;
    const char first = ToLower(*endTag);
    const bool markerIsSpace = Is(*endTag, kSpace);
    if (condense) {
        if (!p || !*p) return nullptr;
        p = SkipSpace(p, lines);
    }
    bool reserved = false;      // a text longer than its first run is reserved once
    bool pendingSpace = false;  // a condensed run of white space not yet written
    const auto putPendingSpace = [&pendingSpace, text] {
        if (pendingSpace) *text += ' ';
        pendingSpace = false;
    };
    for (;;) {
        const char* run = p;
        p = runs.RunEnd(p);
        const bool atMarker =
            *p && ToLower(*p) == first && VelkBase::StringEqual(p, endTag, caseSensitive);
        if (!reserved && *p && !atMarker) {
            // Reserved before the first run is written, so it is not copied again.
            text->reserve(text->size() + static_cast<size_t>(p - run) + 1 + runs.Bound(p, endTag));
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
            if (!markerIsSpace) {
                p = SkipSpace(p, lines);
            } else {
                ++p;
            }
            continue;
        }
        if (*p == '&' && entities && p[1] != '#') {
            const char* after =
                AppendEntityText(entities, p, runs.end, text, condense, &pendingSpace);
            if (!after) return p;  // nodes: the content reader's
            if (after != p) {
                // A space pending from the entity takes in the white space after it.
                p = pendingSpace ? SkipSpace(after, lines) : after;
                continue;
            }
        }
        putPendingSpace();
        if (*p == '&') {
            p = DecodeReference(p, text, utf8);
        } else if (*p == '\r' && utf8) {
            *text += '\n';
            p += p[1] == '\n' ? 2 : 1;
        } else {
            *text += *p++;
        }
    }
}

// ReadTextWith the table of endTag's first byte: a ready one for the markers the
// parsers use, one built here for any other.
const char* ReadTextUpTo(const char* p, std::string* text, bool condense, bool utf8,
                         const char* endTag, bool caseSensitive, bool* found) {
    if (const TextStops* known = KnownStops(*endTag, condense))
        return ReadTextWith(TableRuns{*known}, p, text, condense, utf8, endTag, caseSensitive,
                            found);
    const TextStops own(static_cast<unsigned char>(*endTag), condense);
    return ReadTextWith(TableRuns{own}, p, text, condense, utf8, endTag, caseSensitive, found);
}

// Reads element content up to the '<' that ends it (or the end of the input),
// returning that position; end is the input's terminating NUL, or null.
const char* ReadContentText(const char* p, const char* end, std::string* text, bool condense,
                            bool utf8, LineCount* lines, Dtd* entities) {
    const ContentRuns runs{*KnownStops('<', condense), end, condense};
    bool found;
    return ReadTextWith(runs, p, text, condense, utf8, "<", false, &found, lines, entities);
}

}  // namespace

const char* VelkBase::ReadText(const char* p, std::string* text, bool trimWhiteSpace,
                               const char* endTag, bool caseSensitive) {
    bool found;
    const bool condense = trimWhiteSpace && condenseWhiteSpace;
    const char* end = ReadTextUpTo(p, text, condense, false, endTag, caseSensitive, &found);
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

#if defined(__SSE2__) && defined(__GNUC__)
// The number of bits set, without the popcount instruction that SSE2 machines
// may lack (the builtin becomes a library call there).
inline int BitCount(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555u);
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

// Flags the bytes of the sixteen at p that are below 14 (low) and the line feeds.
inline void LowBytes(const char* p, unsigned* low, unsigned* feeds) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    *low = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(13)), v)));
    *feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
}

// Moves p, row and col over the blocks of bytes before now that hold no line
// stop or line feeds alone, counting the feeds: sixty-four bytes a step, then
// sixteen; stops before the first block that needs the byte-wise walk (a
// tab, a carriage return, other control bytes below 14).
void SkipLineBlocks(const char*& p, const char* now, int& row, int& col) {
    while (now - p >= 64) {
        std::uint64_t low = 0, feeds = 0;
        for (int i = 0; i < 4; ++i) {
            unsigned l, f;
            LowBytes(p + 16 * i, &l, &f);
            low |= std::uint64_t{l} << (16 * i);
            feeds |= std::uint64_t{f} << (16 * i);
        }
        if (low != feeds) break;
        if (feeds) {
            row += BitCount(feeds);
            col = __builtin_clzll(feeds);  // the bytes after the last feed
        } else {
            col += 64;
        }
        p += 64;
        if (p[-1] == '\n' && *p == '\r') ++p;  // the pair is one line end
    }
    while (now - p >= 16) {
        unsigned low, feeds;
        LowBytes(p, &low, &feeds);
        if (!low) {
            col += 16;
            p += 16;
            continue;
        }
        if (low != feeds) return;
        row += BitCount(feeds);
        col = 15 - (31 - __builtin_clz(feeds));
        p += 16;
        if (p[-1] == '\n' && *p == '\r') ++p;  // the pair is one line end
    }
}
#endif

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
#if defined(__SSE2__) && defined(__GNUC__)
        SkipLineBlocks(p, now, row, col);
        if (p >= now) break;
#endif
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
    try {
        errorMessage = errorString[err];
    } catch (const std::bad_alloc&) {
        // No memory for the message: the code says what went wrong.
        errorCode = VELK_ERROR_ALLOCATION;
        errorMessage.clear();
    }
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

void Report(VelkDocument* doc, int err, const char* position, VelkParsingData* data) {
    if (doc) doc->SetError(err, position, data);
}

// Moves the tracker over a short stretch that holds no line stop, as Stamp
// would; false, leaving it to Stamp, for a longer stretch or one with a line
// stop (or a byte below 14 that may be one).
bool StampPlainColumns(VelkParsingData& data, const char* now) {
    constexpr std::ptrdiff_t kShort = 64;
    const char*& stamp = VelkAccess::Stamped(data);
    if (now < stamp || now - stamp > kShort || VelkAccess::TabSize(data) < 1) return false;
    if (now - stamp >= 8) {
        // Words from the stamp on, the last one ending at now.
        for (const char* p = stamp; now - p > 8; p += 8) {
            if (BytesBelow14(LoadWord(p))) return false;
        }
        if (BytesBelow14(LoadWord(now - 8))) return false;
    } else {
        for (const char* p = stamp; p < now; ++p) {
            if (Is(*p, kLineStop)) return false;
        }
    }
    // The cursor is written whole, as Stamp writes it: it is read back whole.
    VelkCursor& cursor = VelkAccess::Cursor(data);
    const int both[2] = {cursor.row, cursor.col + static_cast<int>(now - stamp)};
    std::memcpy(static_cast<void*>(&cursor), both, sizeof both);
    stamp = now;
    return true;
}

// Stamps position and records it as where item begins.
void MarkLocation(VelkBase& item, const char* position, VelkParsingData* data) {
    if (!data) return;
    if (!StampPlainColumns(*data, position)) data->Stamp(position);
    VelkAccess::Location(item) = data->Cursor();
}

}  // namespace

// ---------------------------------------------------------------------------
// Kinds of markup and where they end
//
// One classifier tells what markup begins at a '<', and one scanner, fed a
// byte at a time, finds where it ends: the text parser and stream input use
// both, so a stream reads exactly the extent that the parser reads.

namespace {

enum class Markup {
    kUndecided,    // more bytes are needed to tell
    kElement,      // '<' and a name
    kEndTag,       // "</"
    kDeclaration,  // "<?xml" and white space or "?>"
    kInstruction,  // any other "<?"
    kComment,      // "<!--"
    kCData,        // "<![CDATA["
    kDoctype,      // "<!DOCTYPE"
    kOther,        // anything else, up to the first '>'
};

// How many bytes open markup of a kind; the scanner is fed the bytes after them.
size_t OpenerLength(Markup kind) {
    switch (kind) {
        case Markup::kEndTag:
        case Markup::kInstruction:
            return 2;
        case Markup::kComment:
            return 4;
        case Markup::kDeclaration:
            return 5;
        case Markup::kCData:
        case Markup::kDoctype:
            return 9;
        default:
            return 1;
    }
}

// Whether the n bytes at p begin with word: 1 yes, 0 no, -1 not known yet
// (they begin word, and more bytes may follow).
int BeginsWith(const char* p, size_t n, bool more, const char* word) {
    for (size_t i = 0; word[i]; ++i) {
        if (i == n) return more ? -1 : 0;
        if (p[i] != word[i]) return 0;
    }
    return 1;
}

Markup ClassifyInstruction(const char* p, size_t n, bool more) {
    const int xml = BeginsWith(p, n, more, "<?xml");
    if (xml <= 0) return xml < 0 ? Markup::kUndecided : Markup::kInstruction;
    // "<?xml-stylesheet" and the like are processing instructions.
    if (n < 6) return more ? Markup::kUndecided : Markup::kInstruction;
    if (Is(p[5], kSpace)) return Markup::kDeclaration;
    if (p[5] != '?') return Markup::kInstruction;
    if (n < 7) return more ? Markup::kUndecided : Markup::kInstruction;
    return p[6] == '>' ? Markup::kDeclaration : Markup::kInstruction;
}

Markup ClassifyBang(const char* p, size_t n, bool more) {
    static const struct {
        const char* opener;
        Markup kind;
    } kOpeners[] = {
        {"<!--", Markup::kComment}, {"<![CDATA[", Markup::kCData}, {"<!DOCTYPE", Markup::kDoctype}};
    bool undecided = false;
    for (const auto& o : kOpeners) {
        const int match = BeginsWith(p, n, more, o.opener);
        if (match > 0) return o.kind;
        undecided = undecided || match < 0;
    }
    return undecided ? Markup::kUndecided : Markup::kOther;
}

// The kind of markup that the n bytes at p begin (p[0] is '<'); more tells
// whether bytes may follow them (a stream being read).
Markup ClassifyMarkup(const char* p, size_t n, bool more, bool utf8) {
    if (n < 2) return more ? Markup::kUndecided : Markup::kOther;
    switch (p[1]) {
        case '/':
            return Markup::kEndTag;
        case '?':
            return ClassifyInstruction(p, n, more);
        case '!':
            return ClassifyBang(p, n, more);
        default:
            return Is(p[1], NamesOf(utf8).start) ? Markup::kElement : Markup::kOther;
    }
}

// The kind of the markup at p in NUL-terminated text; no opener is longer
// than the ten bytes looked at.
Markup ClassifyAt(const char* p, bool utf8) {
    size_t n = 0;
    while (n < 10 && p[n]) ++n;
    return ClassifyMarkup(p, n, false, utf8);
}

// Finds the last byte of markup of one kind, fed the bytes after its opener.
// Comments, CDATA sections and processing instructions end at "-->", "]]>" and
// "?>". A start tag, a declaration and a DOCTYPE end at the first '>' outside
// quotes; a DOCTYPE's internal subset, in brackets, is skipped whole, and so are
// the quoted strings, comments and processing instructions inside it, so that
// a '>' or ']' in them ends nothing. Anything else ends at the first '>'.
class MarkupEnd {
public:
    explicit MarkupEnd(Markup kind) : kind_(kind), state_(InitialState(kind)) {}

    // Takes the next byte; true when it is the last byte of the markup.
    bool Feed(char c) {
        bool closes = false;
        bool entered = false;  // an inner construct began: its opener is not part of its end
        switch (state_) {
            case State::kTerminator:
                closes = EndsTerminator(c);
                break;
            case State::kPlain:
                closes = c == '>';
                break;
            case State::kTag:
                if (c == '"' || c == '\'') {
                    Quote(c, State::kTag);
                } else if (c == '[' && kind_ == Markup::kDoctype) {
                    state_ = State::kSubset;
                } else {
                    closes = c == '>';
                }
                break;
            case State::kQuoted:
                if (c == quote_) state_ = resume_;
                break;
            case State::kSubset:
                if (c == '"' || c == '\'') {
                    Quote(c, State::kSubset);
                } else if (c == ']') {
                    state_ = State::kTag;
                } else if (c == '-' && h1_ == '-' && h2_ == '!' && h3_ == '<') {
                    state_ = State::kSubsetComment;
                    entered = true;
                } else if (c == '?' && h1_ == '<') {
                    state_ = State::kSubsetInstruction;
                    entered = true;
                }
                break;
            case State::kSubsetComment:
                if (c == '>' && h1_ == '-' && h2_ == '-') state_ = State::kSubset;
                break;
            case State::kSubsetInstruction:
                if (c == '>' && h1_ == '?') state_ = State::kSubset;
                break;
        }
        h3_ = entered ? 0 : h2_;
        h2_ = entered ? 0 : h1_;
        h1_ = entered ? 0 : c;
        return closes;
    }

private:
    enum class State {
        kTerminator,
        kPlain,
        kTag,
        kQuoted,
        kSubset,
        kSubsetComment,
        kSubsetInstruction
    };

    static State InitialState(Markup kind) {
        switch (kind) {
            case Markup::kComment:
            case Markup::kCData:
            case Markup::kInstruction:
                return State::kTerminator;
            case Markup::kElement:
            case Markup::kDeclaration:
            case Markup::kDoctype:
                return State::kTag;
            default:
                return State::kPlain;
        }
    }

    bool EndsTerminator(char c) const {
        if (c != '>') return false;
        switch (kind_) {
            case Markup::kComment:
                return h1_ == '-' && h2_ == '-';
            case Markup::kCData:
                return h1_ == ']' && h2_ == ']';
            default:
                return h1_ == '?';
        }
    }

    void Quote(char c, State resume) {
        quote_ = c;
        resume_ = resume;
        state_ = State::kQuoted;
    }

    Markup kind_;
    State state_;
    State resume_ = State::kTag;
    char quote_ = 0;
    char h1_ = 0, h2_ = 0, h3_ = 0;  // the last three bytes fed, most recent first
};

// The position after markup of kind whose opener ends at body, or null when
// the text ends first.
const char* SkipMarkup(Markup kind, const char* body) {
    MarkupEnd end(kind);
    for (const char* p = body; *p; ++p) {
        if (end.Feed(*p)) return p + 1;
    }
    return nullptr;
}

// A new, empty node for markup of a kind, in doc's memory: a CDATA section is
// a text node.
VelkNode* NewNode(Markup kind, VelkDocument* doc) {
    switch (kind) {
        case Markup::kDeclaration:
            return Create<VelkDeclaration>(doc);
        case Markup::kElement:
            return Create<VelkElement>(doc, "");
        case Markup::kComment:
            return Create<VelkComment>(doc);
        case Markup::kCData: {
            VelkText* text = Create<VelkText>(doc, "");
            if (text) text->SetCDATA(true);
            return text;
        }
        default:
            return Create<VelkUnknown>(doc);
    }
}

// Holds a node or an attribute that is not linked anywhere yet, and deletes it
// if its parse is cut short by an exception (a scratch text or index that
// cannot grow); the parse entry points turn that into error 3.
class Unlinked {
public:
    explicit Unlinked(VelkBase* item) : item_(item) {}
    ~Unlinked() { delete item_; }
    Unlinked(const Unlinked&) = delete;
    Unlinked& operator=(const Unlinked&) = delete;
    // The item is linked, or deleted, by the caller from now on.
    void Release() { item_ = nullptr; }

private:
    VelkBase* item_;
};

// Records that memory ran out, in doc if there is one.
void OutOfMemory(VelkDocument* doc) {
    if (doc) doc->SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
}

// What the parsers of one parse share: the tracker (may be null), the document
// that errors go to (may be null), the document's character model and whether
// text is condensed, read once when the parse starts.
struct ParseContext {
    VelkParsingData* data;
    VelkDocument* doc;
    bool utf8;
    bool condense;
    const char* end;        // the terminating NUL of the text, for scanners that read ahead
    std::string* scratch;   // where a text is decoded before it is kept
    Dtd* dtd = nullptr;     // the document's DTD, once its DOCTYPE is read
    bool inEntity = false;  // the text is an entity's, parsed as content
};

// The context of a parse that starts at p on node.
ParseContext ContextOf(const VelkNode& node, const char* p, VelkParsingData* data,
                       std::string* scratch) {
    VelkDocument* doc = ReportTarget(node, data);
    const bool condense = doc ? doc->CondenseWhiteSpace() : VelkBase::condenseWhiteSpace;
    return {data, doc, doc && doc->Utf8(), condense, p ? p + std::strlen(p) : nullptr, scratch};
}

// Keeps the n bytes at p as s in the parse's memory; false, with the error
// recorded, when memory runs out.
bool KeepText(VelkString* s, const char* p, size_t n, const ParseContext& ctx) {
    if (Keep(ctx.doc, s, p, n)) return true;
    Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
    return false;
}

const char* ParseElement(VelkElement* element, const char* p, const ParseContext& ctx);
const char* ParseComment(VelkComment* comment, const char* p, const ParseContext& ctx);
const char* ParseText(VelkText* text, const char* p, const ParseContext& ctx);
const char* ParseDeclaration(VelkDeclaration* declaration, const char* p, const ParseContext& ctx);
const char* ParseUnknown(VelkUnknown* unknown, const char* p, const ParseContext& ctx);

// Parses a node that NewNode made, in the context of the running parse.
const char* ParseNode(VelkNode* node, const char* p, const ParseContext& ctx) {
    switch (node->Type()) {
        case VelkNode::ELEMENT:
            return ParseElement(static_cast<VelkElement*>(node), p, ctx);
        case VelkNode::COMMENT:
            return ParseComment(static_cast<VelkComment*>(node), p, ctx);
        case VelkNode::TEXT:
            return ParseText(static_cast<VelkText*>(node), p, ctx);
        case VelkNode::DECLARATION:
            return ParseDeclaration(static_cast<VelkDeclaration*>(node), p, ctx);
        default:
            return ParseUnknown(static_cast<VelkUnknown*>(node), p, ctx);
    }
}

// Whether the document's XML declaration says standalone='yes'.
bool DeclaresStandalone(const VelkDocument& doc) {
    for (const VelkNode* node = doc.FirstChild(); node; node = node->NextSibling()) {
        if (node->Type() == VelkNode::DECLARATION)
            return VelkAccess::Standalone(*static_cast<const VelkDeclaration*>(node)) == "yes";
    }
    return false;
}

// The text after a UTF-8 byte-order mark at p, or p.
const char* SkipByteOrderMark(const char* p) {
    return std::strncmp(p, "\xEF\xBB\xBF", 3) == 0 ? p + 3 : p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Document parse and node identification

VelkNode* VelkNode::Identify(const char* p) {
    p = SkipWhiteSpace(p);
    if (!p || *p != '<') return nullptr;
    VelkDocument* doc = GetDocument();
    VelkNode* node = NewNode(ClassifyAt(p, doc && doc->Utf8()), doc);
    if (node) {
        node->parent = this;
    } else if (doc) {
        doc->SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
    }
    return node;
}

namespace {

// Whether markup of kind may stand at the top level of a document: text, a
// CDATA section among it, may not. An end tag with no element open, a '<'
// followed by no name and a further element are read as the lenient grammar
// reads them (unknown markup, more top-level elements); strict reading
// refuses them.
bool AllowedAtTopLevel(Markup kind) {
    return kind != Markup::kUndecided && kind != Markup::kCData;
}

}  // namespace

// What may not stand at the top level records VELK_ERROR_TEXT_OUTSIDE_ELEMENT
// at its position and ends the parse there, keeping the nodes read before it.
// A text of white space alone is an empty document.
const char* VelkDocument::Parse(const char* p, VelkParsingData* prevData) try {
    if (strict) return ParseStrict(this, p, p ? p + std::strlen(p) : nullptr, prevData);
    ClearError();
    if (p) p = SkipByteOrderMark(p);
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
    std::string scratch;
    ParseContext ctx{&data, this, utf8, CondenseWhiteSpace(), p + std::strlen(p), &scratch};
    Dtd dtd(this, &data, p, static_cast<size_t>(ctx.end - p));

    p = SkipWhiteSpace(p);
    while (p && *p) {
        const Markup kind = *p == '<' ? ClassifyAt(p, utf8) : Markup::kUndecided;
        if (!AllowedAtTopLevel(kind)) {
            SetError(VELK_ERROR_TEXT_OUTSIDE_ELEMENT, p, &data);
            return p;
        }
        VelkNode* node = NewNode(kind, this);
        if (!node) {
            SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
            break;
        }
        VelkAccess::Parent(*node) = this;
        Unlinked hold(node);
        const char* start = p;
        p = ParseNode(node, p, ctx);
        hold.Release();
        LinkEndChild(node);
        if (kind == Markup::kDoctype && utf8 && p) {
            p = dtd.ReadDoctype(start, p, DeclaresStandalone(*this));
            ctx.dtd = &dtd;
        }
        p = SkipWhiteSpace(p);
    }
    if (!FirstChild() && !Error()) SetError(VELK_ERROR_DOCUMENT_EMPTY, nullptr, nullptr);
    return p;
} catch (const std::bad_alloc&) {
    OutOfMemory(this);
    return nullptr;
}

namespace {

bool SameError(const VelkDocument& a, const VelkDocument& b) {
    return a.ErrorCode() == b.ErrorCode() && a.ErrorCursor().row == b.ErrorCursor().row &&
           a.ErrorCursor().col == b.ErrorCursor().col;
}

// Whether the first error that doc's parse of the text at p met came from the
// NUL at nul, where that parse saw the text end. An error found before the
// parse reached the NUL cannot depend on what follows it; so an error is taken
// to come from the NUL when it has no position (text running out has none) or
// when it moves as the text goes on past the NUL with bytes that close
// whatever markup may be open there (a comment, a CDATA section, an attribute
// value in either quotes, a tag).
bool RanIntoNul(const VelkDocument& doc, const char* p, const char* nul,
                VelkParsingData* prevData) {
    if (doc.ErrorCursor().row < 0) return true;
    static const char kClosers[] = "-->]]>'\"?>";
    const size_t length = static_cast<size_t>(nul - p);
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + sizeof kClosers]);
    if (!text) return false;
    std::memcpy(text.get(), p, length);
    std::memcpy(text.get() + length, kClosers, sizeof kClosers);
    VelkDocument probe;
    probe.SetTabSize(doc.TabSize());
    probe.SetUtf8(doc.Utf8());
    probe.SetStrict(doc.Strict());
    probe.SetCondenseWhiteSpace(doc.CondenseWhiteSpace());
    probe.Parse(text.get(), prevData);
    return !SameError(doc, probe);
}

}  // namespace

// Text given with its length may hold a NUL byte, which XML does not allow.
// The parsers stop at the first NUL, so the text is parsed up to it, and the
// NUL is then reported at its position unless the parse found an error of its
// own before reaching it. Text with no NUL among its bytes and none after them
// is parsed from a copy that has one. A returned position points into the
// caller's text.
const char* VelkDocument::ParseBytes(const char* p, std::size_t length, bool terminated,
                                     VelkParsingData* prevData) {
    if (length == 0) return Parse("", prevData);
    const char* nul = static_cast<const char*>(std::memchr(p, 0, length));
    if (!nul && !terminated) {
        std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
        if (!copy) {
            ClearError();
            SetError(VELK_ERROR_ALLOCATION, nullptr, nullptr);
            return nullptr;
        }
        std::memcpy(copy.get(), p, length);
        copy[length] = 0;
        const char* end = Parse(copy.get(), prevData);
        return end ? p + (end - copy.get()) : nullptr;
    }
    const char* end = Parse(p, prevData);
    if (!nul) return end;
    VelkParsingData data(SkipByteOrderMark(p), TabSize(), prevData ? prevData->Cursor().row : 0,
                         prevData ? prevData->Cursor().col : 0);
    data.Stamp(nul);
    // Memory running out is no fault of the text.
    if (Error() && (errorCode == VELK_ERROR_ALLOCATION || !RanIntoNul(*this, p, nul, prevData)))
        return end;
    ClearError();
    SetError(VELK_ERROR_CHARACTER, nul, &data);
    return nul;
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

    VelkAttribute* Find(std::string_view name) const {
        if (slots_.empty()) {
            for (size_t i = 0; i < listed_; ++i)
                if (SameName(NameOf(list_[i]), name)) return list_[i];
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

    static std::string_view NameOf(const VelkAttribute* attribute) {
        const VelkString& name = VelkAccess::Name(*attribute);
        return std::string_view(name.c_str(), name.size());
    }
    // Short names are compared with two overlapping loads from each, without
    // a library call.
    static bool SameName(std::string_view a, std::string_view b) {
        const size_t n = a.size();
        if (n != b.size()) return false;
        if (n >= 16) return a == b;
        if (n >= 8)
            return Load<std::uint64_t>(a.data()) == Load<std::uint64_t>(b.data()) &&
                   Load<std::uint64_t>(a.data() + n - 8) == Load<std::uint64_t>(b.data() + n - 8);
        if (n >= 4)
            return Load<std::uint32_t>(a.data()) == Load<std::uint32_t>(b.data()) &&
                   Load<std::uint32_t>(a.data() + n - 4) == Load<std::uint32_t>(b.data() + n - 4);
        for (size_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    template <class Word>
    static Word Load(const char* p) {
        Word word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    static size_t Hash(std::string_view name) { return std::hash<std::string_view>()(name); }

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

    VelkAttribute* Lookup(std::string_view name, size_t hash) const {
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (!slot.attribute) return nullptr;
            if (slot.hash == hash && NameOf(slot.attribute) == name) return slot.attribute;
        }
    }

    // Keeps the table at most half full, so every probe ends at an empty slot.
    void Insert(VelkAttribute* attribute) {
        if (2 * (count_ + 1) > slots_.size()) Grow();
        Place({Hash(NameOf(attribute)), attribute});
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

// The first byte of the eight in word (in memory order) that is zero or equal
// to a or b, or 8 when there is none. The flags can be wrong only above the
// first true one.
unsigned FirstZeroOr(std::uint64_t word, std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    const auto zeros = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
    const std::uint64_t flags = zeros(word) | zeros(word ^ a) | zeros(word ^ b);
    return flags ? FirstFlagged(flags) : 8;
}

// QuotedRunEnd of the byte model, eight bytes a step while at least eight
// remain before end, the input's terminating NUL.
const char* QuotedBytesEnd(const char* p, char quote, const char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t quotes = kOnes * static_cast<unsigned char>(quote);
    const std::uint64_t ampersands = kOnes * static_cast<unsigned char>('&');
    while (end - p >= 8) {
        const unsigned at = FirstZeroOr(LoadWord(p), quotes, ampersands);
        if (at < 8) return p + at;
        p += 8;
    }
    while (*p != quote && *p != '&' && *p != 0) ++p;
    return p;
}

// The end of the run of a quoted value's bytes that need no decoding.
const char* QuotedRunEnd(const char* p, char quote, bool utf8) {
    while (*p != quote && *p != '&' && (utf8 ? !Is(*p, kLineStop) : *p != 0)) ++p;
    return p;
}

// Reads an attribute value after its opening quote, decoding references, and
// returns the position after the closing quote (or the end of the input). In
// the UTF-8 model a tab or line end written as it is reads as one space, as
// XML readers normalise attribute values; a reference to one stays itself.
// entities, when not null, expands references to the entities of a DTD; null
// after an error it records.
const char* ReadQuotedValue(const char* p, char quote, std::string* value, bool utf8, Dtd* entities,
                            const char* end) {
    value->clear();
    for (;;) {
        const char* run = p;
        p = QuotedRunEnd(p, quote, utf8);
        value->append(run, static_cast<size_t>(p - run));
        if (*p == quote) return p + 1;
        if (!*p) return p;
        if (*p == '&' && entities && p[1] != '#') {
            const char* after = entities->InAttribute(p, end, value);
            if (!after) return nullptr;
            if (after != p) {
                p = after;
                continue;
            }
        }
        if (*p == '&') {
            p = DecodeReference(p, value, utf8);
        } else {
            *value += ' ';
            p += p[0] == '\r' && p[1] == '\n' ? 2 : 1;
        }
    }
}

// Reads name = value, the value quoted with ' or " (references decoded) or bare.
// end is the input's terminating NUL, or null when not known.
const char* ParseAttribute(VelkAttribute* attribute, const char* p, VelkDocument* doc,
                           VelkParsingData* data, bool utf8, const char* end,
                           Dtd* entities = nullptr) {
    p = VelkBase::SkipWhiteSpace(p);
    if (!p || !*p) return nullptr;
    MarkLocation(*attribute, p, data);

    // A name cut short by the end of the input is kept, with the error.
    const char* namePosition = p;
    p = NameEnd(NamesOf(utf8), p);
    if (!p) {
        VelkAccess::Name(*attribute).Assign("", 0);
    } else if (!Keep(doc, &VelkAccess::Name(*attribute), namePosition,
                     static_cast<size_t>(p - namePosition))) {
        Report(doc, VELK_ERROR_ALLOCATION, nullptr, data);
        return nullptr;
    }
    if (!p || !*p) {
        Report(doc, VELK_ERROR_ATTRIBUTES, namePosition, data);
        return nullptr;
    }
    p = VelkBase::SkipWhiteSpace(p);
    if (!p || !*p || *p != '=') {
        Report(doc, VELK_ERROR_ATTRIBUTES, p, data);
        return nullptr;
    }
    p = VelkBase::SkipWhiteSpace(p + 1);
    if (!p || !*p) {
        Report(doc, VELK_ERROR_ATTRIBUTES, p, data);
        return nullptr;
    }

    VelkString& value = VelkAccess::Value(*attribute);
    const char* start = p;
    const char* after;
    if (*p == '\'' || *p == '\"') {
        // Most values hold nothing to decode: they are kept straight from the text.
        const char quote = *p++;
        start = p;
        p = utf8 || !end ? QuotedRunEnd(p, quote, utf8) : QuotedBytesEnd(p, quote, end);
        after = p + 1;
        if (*p != quote) {
            // A reference, a line end to normalise or the end of the input:
            // the value is read again, decoded.
            std::string decoded;
            after = ReadQuotedValue(start, quote, &decoded, utf8, entities, end);
            if (!after) return nullptr;
            if (Keep(doc, &value, decoded.data(), decoded.size())) return after;
            Report(doc, VELK_ERROR_ALLOCATION, nullptr, data);
            return nullptr;
        }
    } else {
        // Unquoted: taken as it stands, up to white space, '/', '>' or the end.
        while (*p && !Is(*p, kSpace) && *p != '/' && *p != '>') ++p;
        after = p;
    }
    if (!Keep(doc, &value, start, static_cast<size_t>(p - start))) {
        Report(doc, VELK_ERROR_ALLOCATION, nullptr, data);
        return nullptr;
    }
    return after;
}

// Reads one attribute of element at p into its set; returns where the start tag
// goes on, or null (with the error recorded) when the element's parse ends.
const char* ReadAttribute(AttributeNames* names, const char* gap, const char* p,
                          const ParseContext& ctx) {
    VelkAttribute* attribute = Create<VelkAttribute>(ctx.doc);
    if (!attribute) {
        Report(ctx.doc, VELK_ERROR_ALLOCATION, gap, ctx.data);
        return nullptr;
    }
    Unlinked hold(attribute);
    VelkAccess::Utf8(*attribute) = ctx.utf8;
    const char* start = p;
    p = ParseAttribute(attribute, p, ctx.doc, ctx.data, ctx.utf8, ctx.end, ctx.dtd);
    hold.Release();
    if (!p || !*p) {
        Report(ctx.doc, VELK_ERROR_PARSE_ELEMENT, start, ctx.data);
        delete attribute;
        return nullptr;
    }
    const VelkString& name = VelkAccess::Name(*attribute);
    if (VelkAttribute* existing = names->Find(std::string_view(name.c_str(), name.size()))) {
        // A repeated name: the later value wins and the parse ends there.
        VelkAccess::Value(*existing).swap(VelkAccess::Value(*attribute));
        Report(ctx.doc, VELK_ERROR_ATTRIBUTES, start, ctx.data);
        delete attribute;
        return nullptr;
    }
    names->Add(attribute);
    return p;
}

// KeepText for what a DTD adds to the tree, out of the way of the hot paths.
VELK_NOINLINE bool KeepDeclared(VelkString* s, std::string_view text, const ParseContext& ctx) {
    if (Keep(ctx.doc, s, text.data(), text.size())) return true;
    Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
    return false;
}

// The DTD's declared attributes added to element; false when memory runs out.
VELK_NOINLINE bool AddDeclaredAttributes(VelkElement* element, const ParseContext& ctx) {
    if (ctx.dtd->AddDeclaredAttributes(element)) return true;
    Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
    return false;
}

// Reads the start tag of element from p, up to and including its "/>" or '>'.
StartTag ReadStartTag(VelkElement* element, const char** position, const ParseContext& ctx) {
    VelkDocument* doc = ctx.doc;
    VelkParsingData* data = ctx.data;
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

    // A name cut short by the end of the input is kept, with the error.
    VelkString& name = VelkAccess::Value(*element);
    const char* namePosition = VelkBase::SkipWhiteSpace(p + 1);
    p = namePosition ? NameEnd(NamesOf(ctx.utf8), namePosition) : nullptr;
    if (!p) {
        name.Assign("", 0);
    } else if (!KeepText(&name, namePosition, static_cast<size_t>(p - namePosition), ctx)) {
        return StartTag::kFailed;
    }
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
        p = ReadAttribute(&names, gap, p, ctx);
        if (!p) return StartTag::kFailed;
    }
}

// Whether the text at p is the end tag of element: "</", its name, white
// space, '>', letter case ignored. Compared in place, without building the tag
// text.
const char* MatchEndTag(const VelkElement& element, const char* p) {
    if (p[0] != '<' || p[1] != '/') return nullptr;
    p += 2;
    for (const char* name = element.Value(); *name; ++name, ++p) {
        if (ToLower(*p) != ToLower(*name)) return nullptr;
    }
    while (Is(*p, kSpace)) ++p;
    return *p == '>' ? p + 1 : nullptr;
}

// With condensing off, white space between the children of an element that
// holds no other text is layout, and is dropped as it is when condensing; in
// mixed content, or as the whole content of an element, it is text that a
// reader sees, and stays.
void DropLayoutText(VelkElement* element) {
    bool markup = false;
    for (const VelkNode* child = element->FirstChild(); child; child = child->NextSibling()) {
        const VelkText* text = child->ToText();
        if (text && (text->CDATA() || !text->Blank())) return;
        markup = markup || !text;
    }
    if (!markup) return;
    for (VelkNode* child = element->FirstChild(); child;) {
        VelkNode* next = child->NextSibling();
        if (child->ToText()) element->RemoveChild(child);
        child = next;
    }
}

// The next piece of content at or after p: white space before it is skipped
// when condensing; otherwise it is text, kept or dropped by DropLayoutText.
// When the tracker can be brought to p over the markup just read, the white
// space skipped is counted and the tracker moved past it, so that it does not
// walk those bytes again.
const char* NextPiece(const char* p, bool condense, VelkParsingData* data) {
    if (!condense) return p;
    if (!p || !*p) return nullptr;
    if (data && StampPlainColumns(*data, p)) {
        const VelkCursor at = VelkAccess::Cursor(*data);
        LineCount count{at.row, at.col, p, VelkAccess::TabSize(*data)};
        p = count.Skip(p);
        VelkAccess::Cursor(*data) = count.At(p);
        VelkAccess::Stamped(*data) = p;
        return p;
    }
    while (Is(*p, kSpace)) ++p;
    return p;
}

// Appends text to parent's last child when that is text too, as an entity's
// expansion leaves it; true when joined or empty. Condensed texts join with one space
// between them, as the runs of one condensed text do.
VELK_NOINLINE bool JoinText(VelkElement* parent, const VelkText* text, const ParseContext& ctx,
                            bool condense) {
    const VelkString& value = VelkAccess::Value(*text);
    if (value.size() == 0) return true;  // an empty entity: nothing to add
    if (text->CDATA()) return false;
    bool joined;
    if (ctx.dtd->JoinText(parent, value.c_str(), value.size(), condense, &joined)) return joined;
    Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
    return false;
}

// Reads a run of text into a new child of parent; null when it cannot be made.
const char* ReadTextChild(VelkElement* parent, const char* p, const ParseContext& ctx,
                          bool condense) {
    VelkText* text = Create<VelkText>(ctx.doc, "");
    if (!text) {
        Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
        return nullptr;
    }
    Unlinked hold(text);
    p = ParseText(text, p, ctx);
    // Joining it to the text before may run out of memory too.
    const bool dropped =
        (condense && text->Blank()) || (ctx.dtd && JoinText(parent, text, ctx, condense));
    hold.Release();
    if (dropped) {
        delete text;
    } else {
        parent->LinkEndChild(text);
    }
    return p;
}

const char* ReadContent(VelkElement* root, const char* p, const ParseContext& ctx);

// Puts what the entity reference at p ('&'), where text stopped, stands for
// among parent's children: the nodes its replacement text parses into, or a
// node that keeps the reference. Returns the position after it, or null after
// an error.
VELK_NOINLINE const char* ExpandInContent(VelkElement* parent, const char* p,
                                          const ParseContext& ctx) {
    VELK_ASSERT(ctx.dtd);
    Dtd& dtd = *ctx.dtd;
    std::string characters;
    const Dtd::Reference ref = dtd.InContent(p, ctx.end, &characters);
    switch (ref.action) {
        case Dtd::Action::kFailed:
            return nullptr;
        case Dtd::Action::kReference: {
            VelkText* node = Create<VelkText>(ctx.doc, "");
            if (!node) {
                Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
                return nullptr;
            }
            node->SetEntityReference(true);
            MarkLocation(*node, p, ctx.data);
            parent->LinkEndChild(node);
            const bool kept = KeepDeclared(&VelkAccess::Value(*node), ref.name, ctx);
            return kept ? ref.after : nullptr;
        }
        case Dtd::Action::kMarkup: {
            if (!dtd.Enter(ref.entity, p)) return nullptr;
            // The replacement text is parsed as content of its own, untracked:
            // its errors are placed at the reference.
            const std::string& text = ref.entity->text;
            ParseContext inner = ctx;
            inner.data = nullptr;
            inner.end = text.c_str() + text.size();
            inner.inEntity = true;
            const char* end = ReadContent(parent, text.c_str(), inner);
            if (end && *end) {
                dtd.Fail(VELK_ERROR_ENTITY_CONTENT, p);  // an end tag the entity did not open
                end = nullptr;
            }
            if (!end) dtd.PlaceError();
            dtd.Leave(ref.entity);
            return end ? ref.after : nullptr;
        }
        default:
            // Text would have read it: a reference it stops at is one of the above.
            VELK_ASSERT(false);
            dtd.Fail(VELK_ERROR_ENTITY_CONTENT, p);
            return nullptr;
    }
}

// Reads the content of root from p, descending into child elements. Returns the
// position of the "</" that ends root's content, or (with error 6 recorded)
// the end of the input when root's own content runs out, or null when the parse
// of root fails. An entity's text (ctx.inEntity) ends with the end of its input.
const char* ReadContent(VelkElement* root, const char* p, const ParseContext& ctx) {
    const bool condense = ctx.condense;
    VelkElement* current = root;
    p = NextPiece(p, condense, ctx.data);
    while (p && *p) {
        if (*p != '<') {
            // Text reads up to any reference that a DTD makes more than text.
            const char* at = p;
            p = ReadTextChild(current, p, ctx, condense);
            if (p == at) p = ExpandInContent(current, p, ctx);
            if (!p) return nullptr;
        } else {
            const Markup kind = ClassifyAt(p, ctx.utf8);
            if (kind == Markup::kEndTag) {
                if (!condense) DropLayoutText(current);
                if (current == root) return p;
                const char* after = MatchEndTag(*current, p);
                if (!after) {
                    Report(ctx.doc, VELK_ERROR_END_TAG, p, ctx.data);
                    return nullptr;
                }
                p = after;
                current = static_cast<VelkElement*>(current->Parent());
            } else {
                VelkNode* node = NewNode(kind, ctx.doc);
                if (!node) {
                    Report(ctx.doc, VELK_ERROR_ALLOCATION, nullptr, ctx.data);
                    return nullptr;
                }
                current->LinkEndChild(node);
                if (kind != Markup::kElement) {
                    p = ParseNode(node, p, ctx);
                } else {
                    VelkElement* child = static_cast<VelkElement*>(node);
                    StartTag tag = ReadStartTag(child, &p, ctx);
                    if (ctx.dtd && tag != StartTag::kFailed && !AddDeclaredAttributes(child, ctx))
                        tag = StartTag::kFailed;
                    if (tag == StartTag::kFailed) {
                        Report(ctx.doc, VELK_ERROR_ELEMENT_VALUE, nullptr, ctx.data);
                        return nullptr;
                    }
                    if (tag == StartTag::kOpen) current = child;
                }
            }
        }
        if (p) p = NextPiece(p, condense, ctx.data);
    }
    if (ctx.inEntity && current == root) return ctx.end;  // an entity's content ends with its text
    Report(ctx.doc, ctx.inEntity ? VELK_ERROR_ENTITY_CONTENT : VELK_ERROR_ELEMENT_VALUE, nullptr,
           ctx.data);
    return current == root ? p : nullptr;
}

const char* ParseElement(VelkElement* element, const char* p, const ParseContext& ctx) {
    StartTag tag = ReadStartTag(element, &p, ctx);
    if (ctx.dtd && tag != StartTag::kFailed && !AddDeclaredAttributes(element, ctx))
        tag = StartTag::kFailed;
    switch (tag) {
        case StartTag::kFailed:
            return nullptr;
        case StartTag::kEmpty:
            return p;
        case StartTag::kOpen:
            break;
    }
    p = ReadContent(element, p, ctx);
    if (!p || !*p) return nullptr;
    if (const char* after = MatchEndTag(*element, p)) return after;
    Report(ctx.doc, VELK_ERROR_END_TAG, p, ctx.data);
    return nullptr;
}

// Runs one of the parsers above on node as a parse of its own, with a context
// and a scratch text made for it.
template <class Node>
const char* ParseOnItsOwn(const char* (*parse)(Node*, const char*, const ParseContext&), Node* node,
                          const char* p, VelkParsingData* data) try {
    std::string scratch;
    return parse(node, p, ContextOf(*node, p, data, &scratch));
} catch (const std::bad_alloc&) {
    OutOfMemory(ReportTarget(*node, data));
    return nullptr;
}

}  // namespace

const char* VelkElement::Parse(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ParseElement, this, p, data);
}

const char* VelkElement::ReadValue(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ReadContent, this, p, data);
}

const char* VelkAttribute::Parse(const char* p, VelkParsingData* data) {
    VelkDocument* doc = data ? VelkAccess::Document(*data) : nullptr;
    try {
        return ParseAttribute(this, p, doc, data, utf8, nullptr);
    } catch (const std::bad_alloc&) {
        OutOfMemory(doc);
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Leaf parsing

namespace {

// Reports that markup opened at start never ends; always null.
const char* Unclosed(int err, const char* start, const ParseContext& ctx) {
    Report(ctx.doc, err, start, ctx.data);
    return nullptr;
}

const char* ParseComment(VelkComment* comment, const char* p, const ParseContext& ctx) {
    VelkString& value = VelkAccess::Value(*comment);
    value.Assign("", 0);
    p = VelkBase::SkipWhiteSpace(p);
    if (p) MarkLocation(*comment, p, ctx.data);
    if (!p || !VelkBase::StringEqual(p, "<!--", false)) {
        Report(ctx.doc, VELK_ERROR_PARSE_COMMENT, p, ctx.data);
        return nullptr;
    }
    const char* body = p + 4;
    const char* end = SkipMarkup(Markup::kComment, body);
    if (!end) return Unclosed(VELK_ERROR_PARSE_COMMENT, p, ctx);
    // The byte model decodes references in comments; the UTF-8 model keeps them
    // as written, as XML readers do.
    if (ctx.utf8)
        return KeepText(&value, body, static_cast<size_t>(end - 3 - body), ctx) ? end : nullptr;
    std::string& text = *ctx.scratch;
    VelkBase::ReadText(body, &text, false, "-->", false);
    return KeepText(&value, text.data(), text.size(), ctx) ? end : nullptr;
}

// A CDATA section's content is kept exactly: no reference is decoded and no
// white space condensed.
const char* ParseText(VelkText* text, const char* p, const ParseContext& ctx) {
    VelkString& value = VelkAccess::Value(*text);
    value.Assign("", 0);
    if (!p) return nullptr;
    MarkLocation(*text, p, ctx.data);
    const bool cdata = std::strncmp(p, "<![CDATA[", 9) == 0;
    text->SetCDATA(cdata);
    if (cdata) {
        const char* body = p + 9;
        const char* end = SkipMarkup(Markup::kCData, body);
        if (!end) return Unclosed(VELK_ERROR_CDATA_UNCLOSED, p, ctx);
        return KeepText(&value, body, static_cast<size_t>(end - 3 - body), ctx) ? end : nullptr;
    }
    // The '<' that ends the text is left for the caller: it begins the next markup.
    // Condensed text counts its own lines: the tracker, standing at p, is moved
    // to the end without a second walk.
    const bool condense = ctx.condense;
    VelkParsingData* data = ctx.data;
    LineCount count{};
    LineCount* lines = nullptr;
    if (condense && data && VelkAccess::TabSize(*data) >= 1 && VelkAccess::Stamped(*data) == p) {
        count = LineCount{VelkAccess::Cursor(*data).row, VelkAccess::Cursor(*data).col, p,
                          VelkAccess::TabSize(*data)};
        lines = &count;
    }
    std::string& decoded = *ctx.scratch;
    const char* end = ReadContentText(p, ctx.end, &decoded, condense, ctx.utf8, lines, ctx.dtd);
    if (!KeepText(&value, decoded.data(), decoded.size(), ctx)) return nullptr;
    if (!end) return p;
    if (lines) {
        VelkAccess::Cursor(*data) = count.At(end);
        VelkAccess::Stamped(*data) = end;
    }
    return end;
}

// Reads version, encoding and standalone in any order up to the first '>'
// outside their quoted values. A declaration that fails or never ends records
// error 12 at its start.
const char* ParseDeclaration(VelkDeclaration* declaration, const char* p, const ParseContext& ctx) {
    p = VelkBase::SkipWhiteSpace(p);
    if (!p || !*p || !VelkBase::StringEqual(p, "<?xml", true)) {
        Report(ctx.doc, VELK_ERROR_PARSE_DECLARATION, nullptr, ctx.data);
        return nullptr;
    }
    MarkLocation(*declaration, p, ctx.data);
    const char* start = p;
    p += 5;
    std::string& version = VelkAccess::Version(*declaration);
    std::string& encoding = VelkAccess::Encoding(*declaration);
    std::string& standalone = VelkAccess::Standalone(*declaration);
    version.clear();
    encoding.clear();
    standalone.clear();

    while (p && *p) {
        if (*p == '>') return p + 1;
        p = VelkBase::SkipWhiteSpace(p);
        std::string* field = nullptr;
        if (VelkBase::StringEqual(p, "version", true)) {
            field = &version;
        } else if (VelkBase::StringEqual(p, "encoding", true)) {
            field = &encoding;
        } else if (VelkBase::StringEqual(p, "standalone", true)) {
            field = &standalone;
        }
        if (field) {
            // Read untracked: an error found later is reported at the start.
            VelkAttribute attribute;
            p = attribute.Parse(p, nullptr);
            *field = attribute.Value();
        } else {
            while (*p && !Is(*p, kSpace) && *p != '>') ++p;
        }
    }
    return Unclosed(VELK_ERROR_PARSE_DECLARATION, start, ctx);
}

// Keeps the markup verbatim between its '<' and the '>' that ends it.
const char* ParseUnknown(VelkUnknown* unknown, const char* p, const ParseContext& ctx) {
    p = VelkBase::SkipWhiteSpace(p);
    if (p) MarkLocation(*unknown, p, ctx.data);
    if (!p || *p != '<') {
        Report(ctx.doc, VELK_ERROR_PARSE_UNKNOWN, p, ctx.data);
        return nullptr;
    }
    const Markup kind = ClassifyAt(p, ctx.utf8);
    const char* end = SkipMarkup(kind, p + OpenerLength(kind));
    if (!end) return Unclosed(VELK_ERROR_PARSE_UNKNOWN, p, ctx);
    const size_t length = static_cast<size_t>(end - 1 - (p + 1));
    return KeepText(&VelkAccess::Value(*unknown), p + 1, length, ctx) ? end : nullptr;
}

}  // namespace

const char* VelkComment::Parse(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ParseComment, this, p, data);
}

const char* VelkText::Parse(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ParseText, this, p, data);
}

const char* VelkDeclaration::Parse(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ParseDeclaration, this, p, data);
}

const char* VelkUnknown::Parse(const char* p, VelkParsingData* data) {
    return ParseOnItsOwn(ParseUnknown, this, p, data);
}

// ---------------------------------------------------------------------------
// Stream input
//
// A stream reader moves the characters of one node from the stream to a
// string, which the text parser then reads; it tells kinds and extents with
// the parser's own classifier and scanner.

namespace {

constexpr int kEndOfStream = std::char_traits<char>::eof();

// Moves the next character to tag; false at the end of the stream.
bool TakeChar(std::istream* in, std::string* tag) {
    if (!in->good()) return false;
    const int c = in->get();
    if (c == kEndOfStream) return false;
    *tag += static_cast<char>(c);
    return true;
}

bool EndsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Moves one piece of markup from the '<' that the stream stands at to its
// end, taking only the bytes needed to tell its kind before following it.
// False when the stream ends first.
bool StreamMarkup(std::istream* in, std::string* tag, bool utf8, Markup* kind) {
    const size_t start = tag->size();
    if (!TakeChar(in, tag)) return false;
    for (;;) {
        *kind = ClassifyMarkup(tag->data() + start, tag->size() - start, true, utf8);
        if (*kind != Markup::kUndecided) break;
        if (!TakeChar(in, tag)) {
            *kind = ClassifyMarkup(tag->data() + start, tag->size() - start, false, utf8);
            break;
        }
    }
    MarkupEnd end(*kind);
    for (size_t i = start + OpenerLength(*kind); i < tag->size(); ++i) {
        if (end.Feed((*tag)[i])) return true;
    }
    while (TakeChar(in, tag)) {
        if (end.Feed(tag->back())) return true;
    }
    return false;
}

// Moves the content of an element whose start tag has been read, nested
// elements included, through its end tag: each start tag that is not empty
// adds a level, each end tag (whatever its name) takes one away.
void StreamContent(std::istream* in, std::string* tag, bool utf8) {
    size_t depth = 1;
    while (depth > 0) {
        Markup kind;
        if (!VelkBase::StreamTo(in, '<', tag) || !StreamMarkup(in, tag, utf8, &kind)) return;
        if (kind == Markup::kEndTag) {
            --depth;
        } else if (kind == Markup::kElement && !EndsWith(*tag, "/>")) {
            ++depth;
        }
    }
}

bool Utf8Model(const VelkNode& node) {
    const VelkDocument* doc = node.GetDocument();
    return doc && doc->Utf8();
}

// Moves the rest of the stream: a strict reading takes the whole document
// entity, so that what follows the document element is checked too. The end
// of the stream is where the document ends, not a failure.
void ReadToEnd(std::istream* in, std::string* tag) {
    char buffer[4096];
    while (in->good()) {
        in->read(buffer, sizeof buffer);
        tag->append(buffer, static_cast<size_t>(in->gcount()));
    }
    if (in->eof() && !in->bad()) in->clear(std::ios::eofbit);
}

// Moves the text up to the next markup and that markup.
void StreamLeaf(std::istream* in, std::string* tag, bool utf8) {
    Markup kind;
    if (VelkBase::StreamTo(in, '<', tag)) StreamMarkup(in, tag, utf8, &kind);
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
    StreamTo(in, '<', tag);
}

void VelkUnknown::StreamIn(std::istream* in, std::string* tag) {
    StreamLeaf(in, tag, Utf8Model(*this));
}

void VelkDeclaration::StreamIn(std::istream* in, std::string* tag) {
    StreamLeaf(in, tag, Utf8Model(*this));
}

void VelkComment::StreamIn(std::istream* in, std::string* tag) {
    StreamLeaf(in, tag, Utf8Model(*this));
}

void VelkElement::StreamIn(std::istream* in, std::string* tag) {
    const bool utf8 = Utf8Model(*this);
    Markup kind;
    if (!StreamTo(in, '<', tag) || !StreamMarkup(in, tag, utf8, &kind)) return;
    if (kind == Markup::kElement && !EndsWith(*tag, "/>")) StreamContent(in, tag, utf8);
}

// Reads the top-level markup (and any text between, which the parse then
// refuses) up to the end of the first element.
void VelkDocument::StreamIn(std::istream* in, std::string* tag) {
    if (strict) {
        ReadToEnd(in, tag);
        return;
    }
    if (!StreamTo(in, '<', tag)) {
        SetError(VELK_ERROR_EMPTY_TAG, nullptr, nullptr);
        return;
    }
    Markup kind;
    while (StreamMarkup(in, tag, utf8, &kind)) {
        if (kind == Markup::kElement) {
            if (!EndsWith(*tag, "/>")) StreamContent(in, tag, utf8);
            return;
        }
        if (!StreamTo(in, '<', tag)) break;
    }
    SetError(VELK_ERROR, nullptr, nullptr);
}

std::istream& operator>>(std::istream& in, VelkNode& base) try {
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

    if (doc && doc->Strict()) {
        ParseStrict(doc, tag.c_str(), tag.c_str() + tag.size(), nullptr);
    } else {
        base.Parse(tag.c_str(), nullptr);
    }

    if (streamError != VELK_NO_ERROR && !doc->Error()) doc->SetError(streamError, nullptr, nullptr);
    return in;
} catch (const std::bad_alloc&) {
    OutOfMemory(base.GetDocument());
    return in;
}

}  // namespace TAVARO

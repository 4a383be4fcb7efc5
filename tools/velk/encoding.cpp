#include "encoding.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace velktool {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char kUtf16BeBom[] = "\xFE\xFF";

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool IsUtf8(const std::string& name) {
    return strcasecmp(name.c_str(), "UTF-8") == 0 || strcasecmp(name.c_str(), "UTF8") == 0;
}

bool IsAscii(const std::string& name) {
    return strcasecmp(name.c_str(), "US-ASCII") == 0 || strcasecmp(name.c_str(), "ASCII") == 0;
}

// The offset of the first byte from 0x80 up in text, or its size.
size_t FirstNonAscii(const std::string& text) {
    const unsigned char* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        uint64_t word;
        std::memcpy(&word, begin + at, 8);
        if (word & 0x8080808080808080u) break;
    }
    while (at < size && begin[at] < 0x80) ++at;
    return at;
}

bool IsDeclarationSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The encoding pseudo-attribute of the declaration that text starts with.
struct EncodingDeclaration {
    std::string value;  // empty when there is no declaration or it names no encoding
    size_t begin = 0;   // of the word "encoding"
    size_t end = 0;     // after the closing quote of the value
    // Whether it stands as XML places it: after white space, right after the
    // version, which comes first.
    bool inPlace = false;
};

bool IsEncodingName(const std::string& name) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (name.empty() || !letter(name[0])) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '.' && c != '_' && c != '-') return false;
    return true;
}

EncodingDeclaration FindEncodingDeclaration(const std::string& text) {
    EncodingDeclaration found;
    if (!StartsWith(text, "<?xml") || text.size() < 6 || !IsDeclarationSpace(text[5])) return found;
    const size_t end = text.find("?>");
    if (end == std::string::npos) return found;
    size_t p = 5;
    for (std::string previous;;) {
        const size_t spaceStart = p;
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        const size_t nameStart = p;
        while (p < end && text[p] >= 'a' && text[p] <= 'z') ++p;
        std::string name = text.substr(nameStart, p - nameStart);
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        if (name.empty() || p == end || text[p] != '=') return found;
        ++p;
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        if (p == end || (text[p] != '"' && text[p] != '\'')) return found;
        const size_t close = text.find(text[p], p + 1);
        if (close == std::string::npos || close > end) return found;
        if (name == "encoding") {
            found.value = text.substr(p + 1, close - p - 1);
            found.begin = nameStart;
            found.end = close + 1;
            found.inPlace = previous == "version" && nameStart > spaceStart;
            return found;
        }
        previous = std::move(name);
        p = close + 1;
    }
}

// The value of the encoding pseudo-attribute of the declaration that text
// starts with; empty when there is no declaration or it names no encoding.
std::string DeclaredEncoding(const std::string& text) {
    return FindEncodingDeclaration(text).value;
}

// Text converted to UTF-8 no longer is in the encoding its declaration names,
// and a reader that takes its bytes as they are would refuse the name: the
// pseudo-attribute is overwritten with white space (line ends and tabs stay,
// so every position stays), which leaves a declaration of UTF-8. Only one
// that stands where XML places it, with a well-formed name, is taken out, so
// that a misplaced one is still reported. Returns the name taken out.
std::string UnnameEncoding(std::string* text) {
    const EncodingDeclaration found = FindEncodingDeclaration(*text);
    if (!found.inPlace || !IsEncodingName(found.value)) return "";
    for (size_t i = found.begin; i < found.end; ++i)
        if (!IsDeclarationSpace((*text)[i])) (*text)[i] = ' ';
    return found.value;
}

// Decodes the UTF-8 sequence at p (n bytes available) into *c; returns its
// length, or 0 when no well-formed sequence of a Unicode scalar value starts there.
size_t DecodeUtf8(const unsigned char* p, size_t n, unsigned long* c) {
    size_t length;
    unsigned long least;
    if (p[0] < 0x80) {
        *c = p[0];
        return 1;
    } else if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        length = 2;
        least = 0x80;
        *c = p[0] & 0x1Fu;
    } else if ((p[0] & 0xF0) == 0xE0) {
        length = 3;
        least = 0x800;
        *c = p[0] & 0x0Fu;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        length = 4;
        least = 0x10000;
        *c = p[0] & 0x07u;
    } else {
        return 0;
    }
    if (n < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        *c = (*c << 6) | (p[i] & 0x3Fu);
    }
    if (*c < least || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
    return length;
}

// Whether the 8 bytes at p are all printable ASCII, 0x20 to 0x7F: none has
// its high bit set, and none is below 0x20 (a byte below 0x20 borrows from
// its high bit when 0x20 is taken from it).
bool IsPlainAscii(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    constexpr uint64_t kHigh = 0x8080808080808080u;
    constexpr uint64_t kSpaces = 0x2020202020202020u;
    return ((word | (word - kSpaces)) & kHigh) == 0;
}

// Checks that text is well-formed UTF-8 of characters XML allows; on the first
// fault sets status, faultAt and character of decoded.
void CheckCharacters(Decoded* decoded) {
    const std::string& text = decoded->text;
    const unsigned char* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t at = 0; at < size;) {
        if (at + 8 <= size && IsPlainAscii(begin + at)) {
            at += 8;
            continue;
        }
        if (begin[at] < 0x80 && IsXmlCharacter(begin[at])) {
            ++at;
            continue;
        }
        unsigned long c = 0;
        const size_t length = DecodeUtf8(begin + at, text.size() - at, &c);
        if (length == 0 || !IsXmlCharacter(c)) {
            decoded->status =
                length == 0 ? DecodeStatus::kInvalidBytes : DecodeStatus::kDisallowedCharacter;
            decoded->faultAt = at;
            decoded->character = c;
            return;
        }
        at += length;
    }
}

// Checks bytes of an unknown encoding for the control characters XML does not
// allow, assuming ASCII below 0x80 as nearly every encoding has it.
void CheckControlBytes(Decoded* decoded) {
    const std::string& text = decoded->text;
    for (size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (!IsXmlCharacter(c)) {
            decoded->status = DecodeStatus::kDisallowedCharacter;
            decoded->faultAt = at;
            decoded->character = c;
            return;
        }
    }
}

// Converts [*in, *in + *left) through cd, appending to out; stops at the end
// or at the first sequence it cannot convert. Returns 0 or the errno of iconv.
int Convert(iconv_t cd, const char** in, size_t* left, std::string* out) {
    char buffer[4096];
    while (*left > 0) {
        char* next = buffer;
        size_t room = sizeof buffer;
        char* source = const_cast<char*>(*in);  // iconv's interface is not const
        const size_t result = iconv(cd, &source, left, &next, &room);
        const int error = errno;
        *in = source;
        out->append(buffer, static_cast<size_t>(next - buffer));
        if (result == static_cast<size_t>(-1) && error != E2BIG) return error;
    }
    return 0;
}

// Writes the shift sequence that returns a stateful encoding to its initial state.
bool FinishConversion(iconv_t cd, std::string* out) {
    char buffer[64];
    char* next = buffer;
    size_t room = sizeof buffer;
    if (iconv(cd, nullptr, nullptr, &next, &room) == static_cast<size_t>(-1)) return false;
    out->append(buffer, static_cast<size_t>(next - buffer));
    return true;
}

// The encoding named by a byte-order mark or the declaration; removes the
// mark from bytes.
Encoding EncodingOf(std::string* bytes) {
    Encoding encoding;
    if (StartsWith(*bytes, kUtf8Bom)) {
        encoding.name = "UTF-8";
        encoding.byteOrderMark = kUtf8Bom;
    } else if (StartsWith(*bytes, kUtf16LeBom)) {
        encoding.name = "UTF-16LE";
        encoding.byteOrderMark = kUtf16LeBom;
    } else if (StartsWith(*bytes, kUtf16BeBom)) {
        encoding.name = "UTF-16BE";
        encoding.byteOrderMark = kUtf16BeBom;
    } else {
        encoding.name = DeclaredEncoding(*bytes);
        if (encoding.name.empty()) encoding.name = "UTF-8";
    }
    bytes->erase(0, encoding.byteOrderMark.size());
    return encoding;
}

// Whether text, read as ASCII, starts with a declaration that names an
// encoding in which those bytes do not read as that declaration (UTF-16 in a
// file of single bytes, say).
bool Misdeclared(const std::string& text, iconv_t cd) {
    constexpr char kOpener[] = "<?xml";
    if (!StartsWith(text, kOpener)) return false;
    const char* in = text.data();
    size_t left = sizeof kOpener - 1;
    std::string opener;
    return Convert(cd, &in, &left, &opener) != 0 || opener != kOpener;
}

}  // namespace

bool IsXmlCharacter(unsigned long c) {
    if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
    return (c < 0xD800 || c > 0xDFFF) && c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

Decoded Decode(std::string&& bytes) {
    Decoded decoded;
    decoded.encoding = EncodingOf(&bytes);
    const std::string& name = decoded.encoding.name;
    if (IsUtf8(name) || IsAscii(name)) {
        decoded.text = std::move(bytes);
        const size_t nonAscii = IsAscii(name) ? FirstNonAscii(decoded.text) : decoded.text.size();
        if (nonAscii < decoded.text.size()) {
            decoded.status = DecodeStatus::kInvalidBytes;
            decoded.faultAt = nonAscii;
            decoded.text.resize(nonAscii);
            return decoded;
        }
        CheckCharacters(&decoded);
        return decoded;
    }
    const iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        decoded.text = std::move(bytes);
        CheckControlBytes(&decoded);
        if (decoded.status == DecodeStatus::kOk) decoded.status = DecodeStatus::kUnknownEncoding;
        return decoded;
    }
    if (decoded.encoding.byteOrderMark.empty() && Misdeclared(bytes, cd)) {
        iconv_close(cd);
        decoded.text = std::move(bytes);
        decoded.status = DecodeStatus::kMisdeclared;
        return decoded;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const char* in = bytes.data();
    size_t left = bytes.size();
    if (Convert(cd, &in, &left, &decoded.text) != 0) {
        decoded.status = DecodeStatus::kInvalidBytes;
        decoded.faultAt = decoded.text.size();
    }
    iconv_close(cd);
    if (decoded.status == DecodeStatus::kOk) CheckCharacters(&decoded);
    if (decoded.status == DecodeStatus::kOk)
        decoded.unnamedEncoding = UnnameEncoding(&decoded.text);
    return decoded;
}

bool IsUtf8OrAscii(const Encoding& encoding) {
    return IsUtf8(encoding.name) || IsAscii(encoding.name);
}

bool WrittenAsIs(const std::string& text, const Encoding& encoding) {
    if (IsUtf8(encoding.name)) return true;
    return IsAscii(encoding.name) && FirstNonAscii(text) == text.size();
}

bool Encode(const std::string& text, const Encoding& encoding, std::string* bytes) {
    *bytes = encoding.byteOrderMark;
    if (WrittenAsIs(text, encoding)) {
        *bytes += text;
        return true;
    }
    const iconv_t cd = iconv_open(encoding.name.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    const char* in = text.data();
    size_t left = text.size();
    bool converted = true;
    while (converted && left > 0) {
        if (Convert(cd, &in, &left, bytes) == 0) break;
        unsigned long c = 0;
        const size_t length = DecodeUtf8(reinterpret_cast<const unsigned char*>(in), left, &c);
        char reference[16];
        const int referenceLength = std::snprintf(reference, sizeof reference, "&#x%lX;", c);
        const char* ascii = reference;
        size_t asciiLeft = static_cast<size_t>(referenceLength);
        converted = length > 0 && Convert(cd, &ascii, &asciiLeft, bytes) == 0;
        in += length;
        left -= length;
    }
    converted = converted && FinishConversion(cd, bytes);
    iconv_close(cd);
    return converted;
}

}  // namespace velktool

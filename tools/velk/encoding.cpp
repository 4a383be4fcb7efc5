#include "encoding.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
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

bool IsDeclarationSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The value of the encoding pseudo-attribute of the declaration that text
// starts with; empty when there is no declaration or it names no encoding.
std::string DeclaredEncoding(const std::string& text) {
    if (!StartsWith(text, "<?xml") || text.size() < 6 || !IsDeclarationSpace(text[5])) return "";
    const size_t end = text.find("?>");
    if (end == std::string::npos) return "";
    size_t p = 5;
    for (;;) {
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        const size_t nameStart = p;
        while (p < end && text[p] >= 'a' && text[p] <= 'z') ++p;
        const std::string name = text.substr(nameStart, p - nameStart);
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        if (name.empty() || p == end || text[p] != '=') return "";
        ++p;
        while (p < end && IsDeclarationSpace(text[p])) ++p;
        if (p == end || (text[p] != '"' && text[p] != '\'')) return "";
        const size_t close = text.find(text[p], p + 1);
        if (close == std::string::npos || close > end) return "";
        if (name == "encoding") return text.substr(p + 1, close - p - 1);
        p = close + 1;
    }
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

// Checks that text is well-formed UTF-8 of characters XML allows; on the first
// fault sets status, faultAt and character of decoded.
void CheckCharacters(Decoded* decoded) {
    const std::string& text = decoded->text;
    const unsigned char* const begin = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t at = 0; at < text.size();) {
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

// The encoding named by a byte-order mark or the declaration; sets *body to
// the bytes after the mark.
Encoding EncodingOf(const std::string& bytes, std::string* body) {
    Encoding encoding;
    if (StartsWith(bytes, kUtf8Bom)) {
        encoding.name = "UTF-8";
        encoding.byteOrderMark = kUtf8Bom;
    } else if (StartsWith(bytes, kUtf16LeBom)) {
        encoding.name = "UTF-16LE";
        encoding.byteOrderMark = kUtf16LeBom;
    } else if (StartsWith(bytes, kUtf16BeBom)) {
        encoding.name = "UTF-16BE";
        encoding.byteOrderMark = kUtf16BeBom;
    } else {
        encoding.name = DeclaredEncoding(bytes);
        if (encoding.name.empty()) encoding.name = "UTF-8";
    }
    *body = bytes.substr(encoding.byteOrderMark.size());
    return encoding;
}

}  // namespace

bool IsXmlCharacter(unsigned long c) {
    if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
    return (c < 0xD800 || c > 0xDFFF) && c != 0xFFFE && c != 0xFFFF && c <= 0x10FFFF;
}

Decoded Decode(const std::string& bytes) {
    Decoded decoded;
    std::string body;
    decoded.encoding = EncodingOf(bytes, &body);
    if (IsUtf8(decoded.encoding.name)) {
        decoded.text = std::move(body);
        CheckCharacters(&decoded);
        return decoded;
    }
    const iconv_t cd = iconv_open("UTF-8", decoded.encoding.name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        decoded.text = std::move(body);
        CheckControlBytes(&decoded);
        if (decoded.status == DecodeStatus::kOk) decoded.status = DecodeStatus::kUnknownEncoding;
        return decoded;
    }
    const char* in = body.data();
    size_t left = body.size();
    if (Convert(cd, &in, &left, &decoded.text) != 0) {
        decoded.status = DecodeStatus::kInvalidBytes;
        decoded.faultAt = decoded.text.size();
    }
    iconv_close(cd);
    if (decoded.status == DecodeStatus::kOk) CheckCharacters(&decoded);
    return decoded;
}

bool Encode(const std::string& text, const Encoding& encoding, std::string* bytes) {
    *bytes = encoding.byteOrderMark;
    if (IsUtf8(encoding.name)) {
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

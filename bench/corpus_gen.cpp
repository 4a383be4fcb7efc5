// Writes the benchmark corpora: deterministic XML documents of a chosen size,
// plain ASCII, inside the grammar every library under test accepts (quoted
// attributes, the five named entities and two-digit character references, no
// CDATA, no namespaces).
//
//   velk_corpus KIND MEGABYTES OUTPUT [SEED]
//
// KIND is "attr" (many small elements with 3 to 6 attributes), "text"
// (paragraphs with entity and character references) or "mixed" (mixed
// content, comments, nesting about 12 deep).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// splitmix64: small, fast and identical on every platform, unlike the
// standard distributions.
class Random {
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number in [lo, hi].
    int Between(int lo, int hi) { return lo + static_cast<int>(Next() % (hi - lo + 1)); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }

private:
    uint64_t state;
};

const char* const kWords[] = {
    "alpha",   "bravo",  "charlie", "delta",    "echo",    "foxtrot",  "golf",    "hotel",
    "india",   "juliet", "kilo",    "lima",     "mike",    "november", "oscar",   "papa",
    "quebec",  "romeo",  "sierra",  "tango",    "uniform", "victor",   "whiskey", "xray",
    "yankee",  "zulu",   "river",   "mountain", "forest",  "valley",   "harbour", "bridge",
    "lantern", "copper", "granite", "meadow",   "signal",  "pattern",  "ledger",  "orbit",
    "cascade", "ember",  "quartz",  "willow",   "falcon",  "prairie",  "summit",  "canyon",
    "the",     "of",     "and",     "a",        "to",      "in",       "is",      "that",
    "for",     "it",     "as",      "with",     "was",     "on",       "be",      "at"};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

const char* const kTags[] = {"item",  "entry", "record", "node",  "part", "row",
                             "field", "value", "cell",   "group", "unit", "block"};
constexpr int kTagCount = sizeof(kTags) / sizeof(kTags[0]);

const char* const kAttrNames[] = {"id",    "name", "type", "price", "qty",   "ref",
                                  "class", "lang", "date", "flag",  "owner", "rank"};
constexpr int kAttrNameCount = sizeof(kAttrNames) / sizeof(kAttrNames[0]);

// Entity and character references that every library decodes alike: only
// printable ASCII, so that no library has to pick an encoding for them.
const char* const kReferences[] = {"&amp;",  "&lt;",   "&gt;",   "&quot;", "&apos;",
                                   "&#x41;", "&#x7a;", "&#x2B;", "&#x9;",  "&#x23;"};
constexpr int kReferenceCount = sizeof(kReferences) / sizeof(kReferences[0]);

class Writer {
public:
    Writer(uint64_t seed, size_t target) : random(seed), target(target) { out.reserve(1 << 20); }

    bool Full() const { return written + out.size() >= target; }
    size_t Written() const { return written + out.size(); }

    // Moves what was built so far to the file in big blocks.
    bool Flush(FILE* file) {
        if (out.empty()) return true;
        bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
        written += out.size();
        out.clear();
        return ok;
    }

    Random random;
    std::string out;

    void Word() { out += kWords[random.Between(0, kWordCount - 1)]; }
    void Indent(int depth) {
        out += '\n';
        // A tab now and then so that column tracking meets tab stops too.
        if (depth > 2 && random.Chance(20)) {
            out += '\t';
            depth -= 2;
        }
        out.append(static_cast<size_t>(depth) * 2, ' ');
    }
    // Words with the occasional reference, as found in both text and attribute values.
    void Words(int count, int referencePercent) {
        for (int i = 0; i < count; ++i) {
            if (i) out += ' ';
            if (random.Chance(referencePercent)) {
                out += kReferences[random.Between(0, kReferenceCount - 1)];
                if (random.Chance(50)) Word();
            } else {
                Word();
            }
        }
    }
    void Number() { out += std::to_string(random.Between(0, 99999)); }

    void Attribute(const char* name) {
        bool single = random.Chance(25);
        out += ' ';
        out += name;
        out += single ? "='" : "=\"";
        switch (random.Between(0, 3)) {
            case 0:
                Number();
                break;
            case 1:
                Word();
                break;
            case 2:
                Number();
                out += '.';
                out += std::to_string(random.Between(10, 99));
                break;
            default:
                Words(random.Between(1, 4), 10);
                break;
        }
        out += single ? '\'' : '"';
    }
    // 3 to 6 distinct attributes, picked from a window of the name list.
    void Attributes() {
        int count = random.Between(3, 6);
        int first = random.Between(0, kAttrNameCount - 1);
        for (int i = 0; i < count; ++i) Attribute(kAttrNames[(first + i) % kAttrNameCount]);
    }

private:
    size_t target;
    size_t written = 0;
};

// Many small elements with 3 to 6 attributes each, in groups of about 20.
void AttributeHeavyBlock(Writer& w) {
    w.Indent(1);
    w.out += "<group";
    w.Attribute("id");
    w.out += '>';
    int items = w.random.Between(10, 30);
    for (int i = 0; i < items; ++i) {
        const char* tag = kTags[w.random.Between(0, kTagCount - 1)];
        w.Indent(2);
        w.out += '<';
        w.out += tag;
        w.Attributes();
        if (w.random.Chance(15)) {
            w.out += "><note";
            w.Attribute("text");
            w.out += "/></";
            w.out += tag;
            w.out += '>';
        } else {
            w.out += w.random.Chance(50) ? "/>" : " />";
        }
    }
    w.Indent(1);
    w.out += "</group>";
}

// Chapters of paragraphs: long runs of text with references and line breaks.
void TextHeavyBlock(Writer& w) {
    w.Indent(1);
    w.out += "<chapter title=\"";
    w.Words(3, 0);
    w.out += "\">";
    int paragraphs = w.random.Between(3, 8);
    for (int p = 0; p < paragraphs; ++p) {
        w.Indent(2);
        w.out += "<para>";
        int lines = w.random.Between(3, 10);
        for (int l = 0; l < lines; ++l) {
            w.Words(w.random.Between(8, 16), 6);
            w.out += l + 1 < lines ? (w.random.Chance(20) ? "  \n\t" : "\n    ") : "";
        }
        w.out += "</para>";
    }
    w.Indent(1);
    w.out += "</chapter>";
}

// Mixed content about 12 deep: text around inline elements, comments, and
// sections nested in sections.
void MixedElement(Writer& w, int depth, int maxDepth) {
    const char* tag = kTags[(depth + w.random.Between(0, 2)) % kTagCount];
    w.Indent(depth);
    w.out += '<';
    w.out += tag;
    if (w.random.Chance(60)) w.Attribute("id");
    if (w.random.Chance(30)) w.Attribute("class");
    w.out += '>';
    int pieces = depth + 1 >= maxDepth ? w.random.Between(1, 3) : w.random.Between(2, 4);
    for (int i = 0; i < pieces; ++i) {
        int kind = w.random.Between(0, 9);
        if (kind < 4 || depth + 1 >= maxDepth) {
            w.Words(w.random.Between(3, 10), 5);
            if (w.random.Chance(40)) {
                const char* inl = w.random.Chance(50) ? "b" : "em";
                w.out += " <";
                w.out += inl;
                w.out += '>';
                w.Words(w.random.Between(1, 3), 0);
                w.out += "</";
                w.out += inl;
                w.out += "> ";
            }
        } else if (kind < 5) {
            w.Indent(depth + 1);
            w.out += "<!-- ";
            w.Words(w.random.Between(2, 6), 0);
            w.out += " -->";
        } else {
            // Deeper nesting is likelier near the top, so most branches reach about 12.
            MixedElement(w, depth + 1, maxDepth);
        }
    }
    w.Indent(depth);
    w.out += "</";
    w.out += tag;
    w.out += '>';
}

void MixedBlock(Writer& w) {
    MixedElement(w, 1, w.random.Between(10, 13));
}

bool Generate(const char* kind, size_t target, uint64_t seed, FILE* file) {
    void (*block)(Writer&) = nullptr;
    const char* root = nullptr;
    if (std::strcmp(kind, "attr") == 0) {
        block = AttributeHeavyBlock;
        root = "catalog";
    } else if (std::strcmp(kind, "text") == 0) {
        block = TextHeavyBlock;
        root = "book";
    } else if (std::strcmp(kind, "mixed") == 0) {
        block = MixedBlock;
        root = "document";
    } else {
        std::fprintf(stderr, "velk_corpus: unknown kind '%s' (attr, text or mixed)\n", kind);
        return false;
    }
    Writer w(seed, target);
    w.out += "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<!-- velk benchmark corpus: ";
    w.out += kind;
    w.out += " -->\n<";
    w.out += root;
    w.out += " generator=\"velk_corpus\" seed=\"" + std::to_string(seed) + "\">";
    bool ok = true;
    while (ok && !w.Full()) {
        block(w);
        if (w.out.size() >= (1u << 20)) ok = w.Flush(file);
    }
    w.out += "\n</";
    w.out += root;
    w.out += ">\n";
    return ok && w.Flush(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: velk_corpus attr|text|mixed MEGABYTES OUTPUT [SEED]\n");
        return 2;
    }
    double megabytes = std::atof(argv[2]);
    if (!(megabytes > 0 && megabytes <= 4096)) {
        std::fprintf(stderr, "velk_corpus: size must be between 0 and 4096 MB\n");
        return 2;
    }
    uint64_t seed = argc == 5 ? std::strtoull(argv[4], nullptr, 10) : 20240601u;
    FILE* file = std::fopen(argv[3], "wb");
    if (!file) {
        std::perror(argv[3]);
        return 1;
    }
    bool ok = Generate(argv[1], static_cast<size_t>(megabytes * 1e6), seed, file);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}

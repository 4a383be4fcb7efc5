// The benchmark: our library against pugixml, libxml2 and expat on the same
// inputs in the same run. Each library and operation runs in a process of its
// own (this program started again in "run" or "memory" mode), so that one
// library's heap never shapes another's timings.
//
//   velk_bench table   CORPUS_DIR RESULTS_DIR [--reps N] [--note TEXT] [--clock wall|cpu]
//   velk_bench scaling CORPUS_DIR RESULTS_DIR [--reps N] [--note TEXT] [--clock wall|cpu]
//   velk_bench run     LIBRARY OPERATION FILE REPS [OUTPUT_FILE]
//   velk_bench_mem memory LIBRARY FILE
//   velk_bench_mem unit   LIBRARY
//
// table reads CORPUS_DIR/{attr,text,mixed}.xml and writes RESULTS_DIR/latest.md
// and latest.svg; scaling reads the same files and CORPUS_DIR/scale/KIND-MB.xml
// (MB = 2, 20, 200) and writes RESULTS_DIR/scaling.md.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "heap.h"
#include "subject.h"

namespace bench {

std::unique_ptr<Subject> MakeSubject(const std::string& name) {
    if (name == "velk") return MakeVelk();
    if (name == "pugixml") return MakePugixml();
    if (name == "libxml2") return MakeLibxml2();
    if (name == "expat") return MakeExpat();
    return nullptr;
}

namespace {

const char* const kCorpora[] = {"attr", "text", "mixed"};
const char* const kCorpusTitles[] = {"attribute-heavy", "text-heavy", "mixed"};
constexpr int kCorpusCount = 3;

// The timed operations, in table order.
struct Operation {
    const char* name;   // as given to "run"
    const char* title;  // as shown in the table
};
const Operation kOperations[] = {{"parse", "parse (buffer to tree, freed)"},
                                 {"pretty", "pretty print to memory"},
                                 {"compact", "compact form to memory"},
                                 {"load", "load file (and free)"},
                                 {"save", "save file (pretty)"}};
constexpr int kOperationCount = 5;

// Wall time by default; the CPU time of the process (user and system) when the
// driver was asked for it, which a busy machine disturbs much less.
bool CpuClock() {
    const char* clock = std::getenv("VELK_BENCH_CLOCK");
    return clock && std::strcmp(clock, "cpu") == 0;
}

double Seconds() {
    static const bool cpu = CpuClock();
    if (cpu) {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool ReadFile(const std::string& path, std::string* text) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text->clear();
    char block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text->append(block, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// ---------------------------------------------------------------------------
// Child side: one library, one operation, several timed repetitions. Prints one
// line: "ok BYTES ELEMENTS ATTRIBUTES T1 T2 ...", "n/a" or "fail WHAT".

int Fail(const char* what) {
    std::printf("fail %s\n", what);
    return 1;
}

int RunChild(const std::string& library, const std::string& operation, const std::string& file,
             int reps, const std::string& output) {
    std::unique_ptr<Subject> subject = MakeSubject(library);
    if (!subject) return Fail("unknown-library");
    bool tracking = operation != "parse-notrack";
    if (!tracking && !subject->DisableTracking()) return std::printf("n/a\n"), 0;
    bool writes = operation == "pretty" || operation == "compact" || operation == "save";
    if (writes && !subject->HasTree()) return std::printf("n/a\n"), 0;

    std::string text;
    if (!ReadFile(file, &text)) return Fail("read-input");

    // A first parse checks the input and counts the tree; the first round of
    // the loop is untimed too, to warm the caches.
    if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
    TreeCounts counts = subject->Count();
    bool parses = operation == "parse" || operation == "parse-notrack" || operation == "load";
    if (parses) subject->Free();
    size_t bytes = 0;
    std::vector<double> times;
    for (int i = 0; i <= reps; ++i) {
        double start = 0, stop = 0;
        bool ok = true;
        if (operation == "parse" || operation == "parse-notrack") {
            start = Seconds();
            ok = subject->Parse(text.c_str(), text.size());
            subject->Free();
            stop = Seconds();
        } else if (operation == "load") {
            start = Seconds();
            ok = subject->Load(file.c_str());
            subject->Free();
            stop = Seconds();
        } else if (operation == "pretty") {
            start = Seconds();
            bytes = subject->Pretty();
            stop = Seconds();
            ok = bytes > 0;
        } else if (operation == "compact") {
            start = Seconds();
            bytes = subject->Compact();
            stop = Seconds();
            ok = bytes > 0;
        } else if (operation == "save") {
            start = Seconds();
            ok = subject->Save(output.c_str());
            stop = Seconds();
        } else {
            return Fail("unknown-operation");
        }
        if (!ok) return Fail("operation-failed");
        if (i) times.push_back(stop - start);
    }
    if (operation == "save") std::remove(output.c_str());
    std::printf("ok %zu %zu %zu", bytes, counts.elements, counts.attributes);
    for (double t : times) std::printf(" %.9f", t);
    std::printf("\n");
    return 0;
}

// Memory of the tree: heap held after the parse (the input text excluded) and
// the peak while parsing. Prints "ok TREE PEAK ELEMENTS ATTRIBUTES".
int MemoryChild(const std::string& library, const std::string& file) {
    if (!HeapCounting()) return Fail("no-heap-counter");
    std::unique_ptr<Subject> subject = MakeSubject(library);
    if (!subject) return Fail("unknown-library");
    if (!subject->HasTree()) return std::printf("n/a\n"), 0;
    std::string text;
    if (!ReadFile(file, &text)) return Fail("read-input");
    HeapUse before = Heap();
    ResetHeapPeak();
    if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
    HeapUse after = Heap();
    TreeCounts counts = subject->Count();
    std::printf("ok %zu %zu %zu %zu\n", after.live - before.live, after.peak - before.live,
                counts.elements, counts.attributes);
    subject->Free();
    return 0;
}

// Cost of one element and of one attribute: the tree of N empty elements
// <e/>, and of N elements <e a="1"/>, divided and differenced. Short names
// and values, so this is the fixed cost of the node itself.
int UnitChild(const std::string& library) {
    if (!HeapCounting()) return Fail("no-heap-counter");
    std::unique_ptr<Subject> subject = MakeSubject(library);
    if (!subject) return Fail("unknown-library");
    if (!subject->HasTree()) return std::printf("n/a\n"), 0;
    const int n = 100000;
    double treeBytes[2];
    for (int attributes = 0; attributes < 2; ++attributes) {
        std::string text = "<r>";
        for (int i = 0; i < n; ++i) text += attributes ? "<e a=\"1\"/>" : "<e/>";
        text += "</r>";
        size_t before = Heap().live;
        if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
        treeBytes[attributes] = static_cast<double>(Heap().live - before);
        subject->Free();
    }
    std::printf("ok %.1f %.1f\n", treeBytes[0] / n, (treeBytes[1] - treeBytes[0]) / n);
    return 0;
}

// ---------------------------------------------------------------------------
// Driver side.

struct Measure {
    bool ok = false;      // measured
    bool applies = true;  // false: the library has no such operation
    double seconds = 0;   // median
    size_t elements = 0, attributes = 0;
    std::string failure;
};

std::string SelfPath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "velk_bench";
    path[n] = '\0';
    return path;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs one child and returns its single output line.
std::string Spawn(const std::string& command) {
    std::string line;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "fail spawn";
    char buffer[1 << 14];
    while (std::fgets(buffer, sizeof buffer, pipe)) line += buffer;
    int status = pclose(pipe);
    if (line.empty()) line = "fail exit-status-" + std::to_string(status);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

class Driver {
public:
    Driver(std::string corpusDir, std::string resultsDir, int reps)
        : corpusDir(std::move(corpusDir)), resultsDir(std::move(resultsDir)), reps(reps) {
        self = SelfPath();
        memoryProgram = self + "_mem";
    }

    Measure Time(const std::string& library, const std::string& operation,
                 const std::string& file) {
        std::string output = resultsDir + "/.save-" + library + ".xml";
        std::string command = Quote(self) + " run " + library + " " + operation + " " +
                              Quote(file) + " " + std::to_string(reps) + " " + Quote(output);
        std::fprintf(stderr, "  %-8s %-14s %s ... ", library.c_str(), operation.c_str(),
                     Basename(file).c_str());
        std::string line = Spawn(command);
        Measure m;
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "n/a") {
            m.applies = false;
            std::fprintf(stderr, "n/a\n");
            return m;
        }
        if (word != "ok") {
            m.failure = line;
            std::fprintf(stderr, "%s\n", line.c_str());
            return m;
        }
        size_t bytes;
        in >> bytes >> m.elements >> m.attributes;
        std::vector<double> times;
        double t;
        while (in >> t) times.push_back(t);
        m.seconds = Median(times);
        m.ok = m.seconds > 0;
        std::fprintf(stderr, "%.1f ms\n", m.seconds * 1e3);
        return m;
    }

    struct Memory {
        bool ok = false, applies = true;
        double tree = 0, peak = 0;  // bytes
        size_t elements = 0, attributes = 0;
    };
    Memory HeapOf(const std::string& library, const std::string& file) {
        std::string line = Spawn(Quote(memoryProgram) + " memory " + library + " " + Quote(file));
        Memory m;
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "n/a") m.applies = false;
        if (word == "ok")
            m.ok = static_cast<bool>(in >> m.tree >> m.peak >> m.elements >> m.attributes);
        if (!m.ok && m.applies)
            std::fprintf(stderr, "  %s memory: %s\n", library.c_str(), line.c_str());
        return m;
    }
    bool UnitCost(const std::string& library, double* perElement, double* perAttribute) {
        std::string line = Spawn(Quote(memoryProgram) + " unit " + library);
        std::istringstream in(line);
        std::string word;
        in >> word;
        return word == "ok" && static_cast<bool>(in >> *perElement >> *perAttribute);
    }

    static std::string Basename(const std::string& path) {
        size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    std::string CorpusFile(const std::string& name) const {
        return corpusDir + "/" + name + ".xml";
    }
    static double FileMegabytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        return in ? static_cast<double>(in.tellg()) / 1e6 : 0;
    }

    std::string corpusDir, resultsDir, self, memoryProgram;
    int reps;
};

// ---------------------------------------------------------------------------
// Reporting.

std::string Format(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string Ratio(double ours, double theirs) {
    if (ours <= 0 || theirs <= 0) return "-";
    return Format(ours / theirs, 2);
}

std::string Today() {
    char buffer[32];
    std::time_t now = std::time(nullptr);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return buffer;
}

std::string LoadAverage() {
    std::string text;
    if (!ReadFile("/proc/loadavg", &text)) return "unknown";
    std::istringstream in(text);
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " / " + five + " / " + fifteen;
}

std::string Machine() {
    std::string cpu = "unknown CPU", text;
    if (ReadFile("/proc/cpuinfo", &text)) {
        size_t at = text.find("model name");
        if (at != std::string::npos) {
            size_t colon = text.find(':', at), end = text.find('\n', at);
            cpu = text.substr(colon + 2, end - colon - 2);
        }
    }
    struct utsname names;
    std::string system = uname(&names) == 0 ? std::string(names.sysname) + " " + names.release : "";
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return std::to_string(cores) + " cores (" + cpu + "), " + system;
}

std::string Versions() {
    std::string out;
    for (const char* name : kLibraries) {
        std::unique_ptr<Subject> subject = MakeSubject(name);
        if (!subject) continue;
        if (!out.empty()) out += ", ";
        out += std::string(name) + " " + subject->Version();
    }
    return out;
}

// One row of the chart: a label and one bar per library.
struct ChartRow {
    std::string label;
    double values[kLibraryCount] = {0, 0, 0, 0};
};
struct ChartPanel {
    std::string title, unit;
    std::vector<ChartRow> rows;
};

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// Horizontal grouped bars, one panel per corpus, each panel on its own scale.
std::string Svg(const std::vector<ChartPanel>& panels, const std::string& caption) {
    const char* colors[kLibraryCount] = {"#d1495b", "#00798c", "#edae49", "#66a182"};
    const int width = 760, labelWidth = 190, barHeight = 11, rowGap = 10, barArea = 470;
    std::ostringstream body;
    int y = 56;
    for (const ChartPanel& panel : panels) {
        double max = 0;
        for (const ChartRow& row : panel.rows) {
            for (double v : row.values) max = std::max(max, v);
        }
        if (max <= 0) max = 1;
        body << "<text x=\"10\" y=\"" << y + 4 << "\" font-weight=\"bold\">" << Escape(panel.title)
             << ", " << Escape(panel.unit) << "</text>\n";
        y += 14;
        for (const ChartRow& row : panel.rows) {
            int rowHeight = barHeight * kLibraryCount;
            body << "<text x=\"" << labelWidth - 8 << "\" y=\"" << y + rowHeight / 2 + 4
                 << "\" text-anchor=\"end\">" << Escape(row.label) << "</text>\n";
            for (int l = 0; l < kLibraryCount; ++l) {
                int barY = y + l * barHeight;
                double v = row.values[l];
                if (v <= 0) continue;
                int length = std::max(1, static_cast<int>(barArea * v / max));
                body << "<rect x=\"" << labelWidth << "\" y=\"" << barY << "\" width=\"" << length
                     << "\" height=\"" << barHeight - 2 << "\" fill=\"" << colors[l] << "\"/>"
                     << "<text x=\"" << labelWidth + length + 4 << "\" y=\"" << barY + 8
                     << "\" font-size=\"9\">" << Format(v, v < 10 ? 2 : 0) << "</text>\n";
            }
            y += rowHeight + rowGap;
        }
        y += 10;
    }
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << y
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"10\" y=\"18\" font-size=\"13\" font-weight=\"bold\">" << Escape(caption)
        << "</text>\n";
    for (int l = 0; l < kLibraryCount; ++l) {
        int x = 10 + l * 110;
        svg << "<rect x=\"" << x << "\" y=\"28\" width=\"12\" height=\"12\" fill=\"" << colors[l]
            << "\"/><text x=\"" << x + 16 << "\" y=\"38\">" << kLibraries[l] << "</text>\n";
    }
    svg << body.str() << "</svg>\n";
    return svg.str();
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

std::string Header(const std::string& title, const std::string& note, int reps,
                   const std::string& loadBefore) {
    std::ostringstream md;
    md << "# " << title << "\n\n"
       << "- Date: " << Today() << "\n"
       << "- Machine: " << Machine() << "\n"
       << "- Libraries: " << Versions() << "\n";
    const char* revision = std::getenv("VELK_BENCH_REVISION");
    if (revision && *revision) md << "- Source: " << revision << "\n";
    md << "- Method: each library and operation in a process of its own; median of " << reps
       << " timed runs after one untimed run; MB/s is input megabytes (10^6 bytes) over the "
          "median time.\n"
       << "- Clock: "
       << (CpuClock() ? "CPU time of the process (user + system), chosen with --clock cpu"
                      : "wall time (steady clock)")
       << "\n"
       << "- Load average (1/5/15 min) before the run: " << loadBefore
       << "; after: " << LoadAverage() << "\n";
    if (!note.empty()) md << "- Note: " << note << "\n";
    md << "\n";
    return md.str();
}

// A measured ratio against the bound it must reach, as one line of the target list.
std::string Target(const std::string& what, double ratio, double bound, bool atLeast) {
    if (ratio <= 0) return "- " + what + ": not measured\n";
    bool met = atLeast ? ratio >= bound : ratio <= bound;
    return "- " + what + ": " + Format(ratio, 2) + (atLeast ? " (needs >= " : " (needs <= ") +
           Format(bound, 2) + ") " + (met ? "met" : "**not met**") + "\n";
}

int Table(Driver& driver, const std::string& note) {
    std::string loadBefore = LoadAverage();
    // results[corpus][operation][library]
    Measure results[kCorpusCount][kOperationCount][kLibraryCount];
    Driver::Memory memory[kCorpusCount][kLibraryCount];
    double megabytes[kCorpusCount];
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string file = driver.CorpusFile(kCorpora[c]);
        megabytes[c] = Driver::FileMegabytes(file);
        if (megabytes[c] <= 0) {
            std::fprintf(stderr, "velk_bench: missing corpus %s\n", file.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s (%.1f MB)\n", file.c_str(), megabytes[c]);
        for (int o = 0; o < kOperationCount; ++o) {
            for (int l = 0; l < kLibraryCount; ++l) {
                results[c][o][l] = driver.Time(kLibraries[l], kOperations[o].name, file);
            }
        }
        for (int l = 0; l < kLibraryCount; ++l) memory[c][l] = driver.HeapOf(kLibraries[l], file);
    }

    std::ostringstream md;
    md << Header("Benchmark: velk against pugixml, libxml2 and expat", note, driver.reps,
                 loadBefore);
    md << "Throughput in MB/s (higher is better) and tree memory in MB (lower is better). "
          "The ratio columns are ours over the peer's figure on the same row.\n\n"
       << "| corpus | measure | velk | pugixml | libxml2 | expat | velk/pugixml | velk/libxml2 | "
          "velk/expat |\n"
       << "|---|---|---:|---:|---:|---:|---:|---:|---:|\n";
    std::vector<ChartPanel> panels;
    ChartPanel memoryPanel{"tree memory", "MB (lower is better)", {}};
    std::string warnings;
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string corpus =
            std::string(kCorpusTitles[c]) + " (" + Format(megabytes[c], 1) + " MB)";
        ChartPanel panel{corpus, "MB/s (higher is better)", {}};
        for (int o = 0; o < kOperationCount; ++o) {
            double speed[kLibraryCount];
            std::string cells[kLibraryCount];
            ChartRow row{kOperations[o].name};
            for (int l = 0; l < kLibraryCount; ++l) {
                const Measure& m = results[c][o][l];
                speed[l] = m.ok ? megabytes[c] / m.seconds : 0;
                cells[l] = m.ok ? Format(speed[l], 1) : m.applies ? "failed" : "n/a";
                row.values[l] = speed[l];
            }
            panel.rows.push_back(row);
            md << "| " << corpus << " | " << kOperations[o].title << ", MB/s";
            for (const std::string& cell : cells) md << " | " << cell;
            for (int l = 1; l < kLibraryCount; ++l) md << " | " << Ratio(speed[0], speed[l]);
            md << " |\n";
        }
        for (int kind = 0; kind < 2; ++kind) {
            double mb[kLibraryCount];
            md << "| " << corpus << " | " << (kind ? "peak heap while parsing" : "tree memory")
               << ", MB";
            for (int l = 0; l < kLibraryCount; ++l) {
                const Driver::Memory& m = memory[c][l];
                mb[l] = m.ok ? (kind ? m.peak : m.tree) / 1e6 : 0;
                md << " | " << (m.ok ? Format(mb[l], 1) : m.applies ? "failed" : "n/a");
            }
            for (int l = 1; l < kLibraryCount; ++l) md << " | " << Ratio(mb[0], mb[l]);
            md << " |\n";
        }
        panels.push_back(panel);
        ChartRow row{kCorpusTitles[c]};
        for (int l = 0; l < kLibraryCount; ++l) {
            if (memory[c][l].ok) row.values[l] = memory[c][l].tree / 1e6;
        }
        memoryPanel.rows.push_back(row);
        // Every library must have read the same document.
        const Measure& ours = results[c][0][0];
        for (int l = 1; l < kLibraryCount; ++l) {
            const Measure& peer = results[c][0][l];
            if (ours.ok && peer.ok &&
                (ours.elements != peer.elements || ours.attributes != peer.attributes)) {
                warnings += "- " + corpus + ": velk read " + std::to_string(ours.elements) +
                            " elements and " + std::to_string(ours.attributes) + " attributes, " +
                            kLibraries[l] + " " + std::to_string(peer.elements) + " and " +
                            std::to_string(peer.attributes) + "\n";
            }
        }
    }

    md << "\nFixed cost of one element and one attribute in the tree (heap bytes, from trees of "
          "100000 `<e/>` and `<e a=\"1\"/>`), and per element and attribute of each corpus "
          "(tree memory over the count):\n\n"
       << "| library | bytes per element | bytes per attribute |";
    for (int c = 0; c < kCorpusCount; ++c)
        md << " " << kCorpora[c] << ": elements, attributes, bytes per (element + attribute) |";
    md << "\n|---|---:|---:|";
    for (int c = 0; c < kCorpusCount; ++c) md << "---|";
    md << "\n";
    for (int l = 0; l < kLibraryCount; ++l) {
        double perElement = 0, perAttribute = 0;
        if (!driver.UnitCost(kLibraries[l], &perElement, &perAttribute)) continue;
        md << "| " << kLibraries[l] << " | " << Format(perElement, 1) << " | "
           << Format(perAttribute, 1) << " |";
        for (int c = 0; c < kCorpusCount; ++c) {
            const Driver::Memory& m = memory[c][l];
            size_t items = m.elements + m.attributes;
            md << " " << m.elements << ", " << m.attributes << ", "
               << (items ? Format(m.tree / items, 1) : "-") << " |";
        }
        md << "\n";
    }

    // The targets, each with its measured ratio.
    md << "\n## Targets\n\n";
    for (int c = 0; c < kCorpusCount; ++c) {
        auto speed = [&](int o, int l) {
            const Measure& m = results[c][o][l];
            return m.ok ? megabytes[c] / m.seconds : 0;
        };
        auto ratio = [&](int o, int l) {
            return speed(o, 0) > 0 && speed(o, l) > 0 ? speed(o, 0) / speed(o, l) : 0;
        };
        std::string name = kCorpusTitles[c];
        md << Target(name + ": parse, velk/libxml2", ratio(0, 2), 3, true)
           << Target(name + ": parse, velk/pugixml", ratio(0, 1), 0.5, true)
           << Target(name + ": pretty print, velk/libxml2", ratio(1, 2), 1, true)
           << Target(name + ": pretty print, velk/pugixml", ratio(1, 1), 0.5, true)
           << Target(name + ": compact form, velk/libxml2", ratio(2, 2), 1, true)
           << Target(name + ": compact form, velk/pugixml", ratio(2, 1), 0.5, true)
           << Target(name + ": load file over parse from memory (velk, throughput)",
                     speed(0, 0) > 0 ? speed(3, 0) / speed(0, 0) : 0, 0.9, true);
        double ours = memory[c][0].ok ? memory[c][0].tree : 0;
        double theirs = memory[c][2].ok ? memory[c][2].tree : 0;
        md << Target(name + ": tree memory, velk/libxml2",
                     ours > 0 && theirs > 0 ? ours / theirs : 0, 1, false);
    }
    md << "\nThe tracking cost and the scaling run are in scaling.md (`bench/run --mode "
          "scaling`).\n";
    if (!warnings.empty()) md << "\n## Warnings: the libraries disagree\n\n" << warnings;
    md << "\nMemory is counted by a wrapper around malloc, calloc, realloc, free and the "
          "aligned allocators (velk_bench_mem, bench/heap_count.cpp): each block counts its "
          "usable size plus one word of chunk header. Tree memory is the heap held after the "
          "parse, less what was held before it (the input text is not counted; pugixml's copy "
          "of it is). Peak is the most held at once during the parse. expat builds no tree.\n";

    std::string table = md.str();
    std::fputs(table.c_str(), stdout);
    panels.push_back(memoryPanel);
    bool ok = WriteText(driver.resultsDir + "/latest.md", table);
    ok = WriteText(driver.resultsDir + "/latest.svg",
                   Svg(panels, "velk against pugixml, libxml2 and expat, " + Today())) &&
         ok;
    std::fprintf(stderr, "wrote %s/latest.md and latest.svg\n", driver.resultsDir.c_str());
    return ok ? 0 : 1;
}

int Scaling(Driver& driver, const std::string& note) {
    std::string loadBefore = LoadAverage();
    std::ostringstream md;
    md << Header("Benchmark: location tracking and scaling (velk)", note, driver.reps, loadBefore);
    md << "## Cost of location tracking\n\n"
          "Parse (buffer to tree, freed) with tab size 4, the default, against tab size 0, with "
          "which the tracker never moves.\n\n"
          "| corpus | tracking on, MB/s | tracking off, MB/s | time added by tracking |\n"
          "|---|---:|---:|---:|\n";
    std::string targets;
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string file = driver.CorpusFile(kCorpora[c]);
        double mb = Driver::FileMegabytes(file);
        Measure on = driver.Time("velk", "parse", file);
        Measure off = driver.Time("velk", "parse-notrack", file);
        double added = on.ok && off.ok ? on.seconds / off.seconds - 1 : 0;
        md << "| " << kCorpusTitles[c] << " (" << Format(mb, 1) << " MB) | "
           << (on.ok ? Format(mb / on.seconds, 1) : "failed") << " | "
           << (off.ok ? Format(mb / off.seconds, 1) : "failed") << " | "
           << (on.ok && off.ok ? Format(added * 100, 1) + " %" : "-") << " |\n";
        if (on.ok && off.ok) {
            targets +=
                Target(std::string(kCorpusTitles[c]) + ": parse time with tracking over without",
                       on.seconds / off.seconds, 1.10, false);
        }
    }
    const int sizes[] = {2, 20, 200};
    md << "\n## Scaling\n\nParse throughput (MB/s) of the same kind of document at three sizes.\n\n"
          "| corpus | 2 MB | 20 MB | 200 MB | 200 MB over 2 MB |\n|---|---:|---:|---:|---:|\n";
    for (int c = 0; c < kCorpusCount; ++c) {
        double speed[3] = {0, 0, 0};
        md << "| " << kCorpusTitles[c];
        for (int s = 0; s < 3; ++s) {
            std::string file = driver.corpusDir + "/scale/" + kCorpora[c] + "-" +
                               std::to_string(sizes[s]) + ".xml";
            double mb = Driver::FileMegabytes(file);
            Measure m = mb > 0 ? driver.Time("velk", "parse", file) : Measure();
            speed[s] = m.ok ? mb / m.seconds : 0;
            md << " | " << (m.ok ? Format(speed[s], 1) : "missing");
        }
        md << " | " << Ratio(speed[2], speed[0]) << " |\n";
        if (speed[0] > 0 && speed[2] > 0) {
            targets += Target(std::string(kCorpusTitles[c]) + ": throughput at 200 MB over 2 MB",
                              speed[2] / speed[0], 0.85, true);
        }
    }
    md << "\n## Targets\n\n" << targets;
    std::string text = md.str();
    std::fputs(text.c_str(), stdout);
    bool ok = WriteText(driver.resultsDir + "/scaling.md", text);
    std::fprintf(stderr, "wrote %s/scaling.md\n", driver.resultsDir.c_str());
    return ok ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: velk_bench table|scaling CORPUS_DIR RESULTS_DIR [--reps N] [--note TEXT]\n"
                 "                 [--clock wall|cpu]\n"
                 "       velk_bench run LIBRARY OPERATION FILE REPS [OUTPUT_FILE]\n"
                 "       velk_bench_mem memory LIBRARY FILE | unit LIBRARY\n");
    return 2;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    using namespace bench;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    const std::string& mode = args[0];
    if (mode == "run" && (args.size() == 5 || args.size() == 6)) {
        return RunChild(args[1], args[2], args[3], std::atoi(args[4].c_str()),
                        args.size() == 6 ? args[5] : "/dev/null");
    }
    if (mode == "memory" && args.size() == 3) return MemoryChild(args[1], args[2]);
    if (mode == "unit" && args.size() == 2) return UnitChild(args[1]);
    if ((mode == "table" || mode == "scaling") && args.size() >= 3) {
        int reps = 7;
        std::string note;
        for (size_t i = 3; i + 1 < args.size(); i += 2) {
            if (args[i] == "--reps")
                reps = std::max(1, std::atoi(args[i + 1].c_str()));
            else if (args[i] == "--note")
                note = args[i + 1];
            else if (args[i] == "--clock" && (args[i + 1] == "cpu" || args[i + 1] == "wall"))
                setenv("VELK_BENCH_CLOCK", args[i + 1].c_str(), 1);  // the children inherit it
            else
                return Usage();
        }
        Driver driver(args[1], args[2], reps);
        return mode == "table" ? Table(driver, note) : Scaling(driver, note);
    }
    return Usage();
}

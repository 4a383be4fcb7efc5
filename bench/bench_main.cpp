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
// table reads CORPUS_DIR/{attr,text,mixed}.xml and writes RESULTS_DIR/latest.md,
// latest.svg and readme-table.md; scaling reads the same files and
// CORPUS_DIR/scale/KIND-MB.xml (MB = 2, 20, 200) and writes RESULTS_DIR/scaling.md.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
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

// The timed operations, in table order. The realistic ones are what users
// meet and what the README shows; the others are the best case.
struct Operation {
    const char* name;   // as given to "run"
    const char* title;  // as shown in the tables
    bool realistic;
};
const Operation kOperations[] = {
    {"parse-cold", "parse, first document in a fresh process", true},
    {"parse", "parse, repeated in one process", true},
    {"load", "load file, repeated in one process", true},
    {"compact-grow", "compact form into a growing string, aged heap", true},
    {"pretty-memstream", "pretty print into a memory FILE, aged heap", true},
    {"compact", "compact form into a pre-sized string, fresh tree", false},
    {"pretty", "pretty print into a pre-sized buffer, fresh tree", false},
    {"save", "save file (pretty), fresh tree", false},
};
constexpr int kOperationCount = sizeof kOperations / sizeof kOperations[0];

int OperationIndex(const std::string& name) {
    for (int o = 0; o < kOperationCount; ++o) {
        if (name == kOperations[o].name) return o;
    }
    return -1;
}

// Parse-and-free cycles in the process before the tree that the aged-heap
// outputs write is built: a process that has read and dropped documents
// before, as most long-running ones have.
constexpr int kAgingCycles = 12;

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
    // Reserved at the file's size, so that reading leaves no freed blocks
    // behind for a cold parse to reuse (files in /proc report size 0).
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long size = std::ftell(file);
        if (size > 0) text->reserve(static_cast<size_t>(size));
        std::rewind(file);
    }
    char block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text->append(block, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// Bytes of the process resident in memory, to check that the heap counter sees
// everything a tree takes.
size_t ResidentBytes() {
    std::string text;
    size_t pages = 0, resident = 0;
    if (ReadFile("/proc/self/statm", &text)) std::istringstream(text) >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// ---------------------------------------------------------------------------
// Child side: one library, one operation, several timed repetitions. Prints one
// line: "ok BYTES ELEMENTS ATTRIBUTES T1 T2 ...", "n/a" or "fail WHAT".

int Fail(const char* what) {
    std::printf("fail %s\n", what);
    return 1;
}

int NotApplicable() {
    std::printf("n/a\n");
    return 0;
}

// Room for either output form of a text of the given size: the pretty form
// indents by four spaces a level where the corpora use two.
size_t OutputCapacity(size_t inputSize) {
    return 3 * inputSize + (1u << 20);
}

// The parses that only velk has, outside the table: without location
// tracking, and in the lax UTF-8 and strict readings.
bool IsParseVariant(const std::string& operation) {
    return operation == "parse-notrack" || operation == "parse-utf8" || operation == "parse-strict";
}

// One operation on one library, timed a round at a time.
class Rounds {
public:
    Rounds(Subject& subject, const std::string& operation, const std::string& text,
           const std::string& file, const std::string& output)
        : subject(subject), operation(operation), text(text), file(file), output(output) {
        if (operation == "pretty") presized.resize(OutputCapacity(text.size()));
        if (operation == "compact") reserved.reserve(OutputCapacity(text.size()));
    }

    // Runs the operation once; false when it failed. What is timed ends when the
    // output is complete: releasing a growing sink afterwards is not counted.
    bool Once(double* seconds) {
        double start = Seconds();
        bool ok = Run();
        *seconds = Seconds() - start;
        if (memstreamData) std::free(memstreamData);
        memstreamData = nullptr;
        grown = std::string();
        return ok;
    }
    size_t Bytes() const { return bytes; }

private:
    bool Run() {
        if (operation == "parse" || IsParseVariant(operation) || operation == "parse-cold") {
            bool ok = subject.Parse(text.c_str(), text.size());
            subject.Free();
            return ok;
        }
        if (operation == "load") {
            bool ok = subject.Load(file.c_str());
            subject.Free();
            return ok;
        }
        if (operation == "save") return subject.Save(output.c_str());
        if (operation == "compact") {
            reserved.clear();
            bool ok = subject.CompactTo(&reserved);
            bytes = reserved.size();
            return ok && bytes > 0;
        }
        if (operation == "compact-grow") {
            bool ok = subject.CompactTo(&grown);
            bytes = grown.size();
            return ok && bytes > 0;
        }
        if (operation == "pretty") {
            FILE* sink = fmemopen(presized.data(), presized.size(), "w");
            if (!sink) return false;
            bool ok = subject.PrettyTo(sink) && std::fflush(sink) == 0;
            long size = std::ftell(sink);
            std::fclose(sink);
            // A full buffer means the output was cut short: no valid measure.
            bytes = size > 0 ? static_cast<size_t>(size) : 0;
            return ok && bytes > 0 && bytes + 1 < presized.size();
        }
        if (operation == "pretty-memstream") {
            size_t size = 0;
            FILE* sink = open_memstream(&memstreamData, &size);
            if (!sink) return false;
            bool ok = subject.PrettyTo(sink);
            ok = std::fclose(sink) == 0 && ok;
            bytes = size;
            return ok && bytes > 0;
        }
        return false;
    }

    Subject& subject;
    const std::string &operation, &text, &file, &output;
    std::vector<char> presized;
    std::string reserved, grown;
    char* memstreamData = nullptr;
    size_t bytes = 0;
};

int RunChild(const std::string& library, const std::string& operation, const std::string& file,
             int reps, const std::string& output) {
    std::unique_ptr<Subject> subject = MakeSubject(library);
    if (!subject) return Fail("unknown-library");
    if (!IsParseVariant(operation) && OperationIndex(operation) < 0) {
        return Fail("unknown-operation");
    }
    const bool cold = operation == "parse-cold";
    const bool parses =
        cold || operation == "parse" || IsParseVariant(operation) || operation == "load";
    const bool aged = operation == "compact-grow" || operation == "pretty-memstream";
    if (operation == "parse-notrack" && !subject->DisableTracking()) return NotApplicable();
    if (operation == "parse-utf8" && !subject->SetReading("utf8")) return NotApplicable();
    if (operation == "parse-strict" && !subject->SetReading("strict")) return NotApplicable();
    if (!parses && !subject->HasTree()) return NotApplicable();

    std::string text;
    if (!ReadFile(file, &text)) return Fail("read-input");

    // Except for a cold parse, which must be the first, a first parse checks
    // the input and counts the tree, and the first round is untimed, to warm the
    // caches. The outputs write this tree, built on a fresh heap, or for the
    // aged heap the one built after kAgingCycles parse-and-free cycles.
    TreeCounts counts;
    if (!cold) {
        if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
        counts = subject->Count();
    }
    for (int i = 0; aged && i < kAgingCycles; ++i) {
        subject->Free();
        if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
    }
    if (parses) subject->Free();

    Rounds rounds(*subject, operation, text, file, output);
    const int untimed = cold ? 0 : 1;
    std::vector<double> times;
    for (int i = 0; i < untimed + reps; ++i) {
        double seconds;
        if (!rounds.Once(&seconds)) return Fail("operation-failed");
        if (i >= untimed) times.push_back(seconds);
    }
    if (operation == "save") std::remove(output.c_str());
    std::printf("ok %zu %zu %zu", rounds.Bytes(), counts.elements, counts.attributes);
    for (double t : times) std::printf(" %.9f", t);
    std::printf("\n");
    return 0;
}

// Memory of the tree: heap held after the parse (the input text excluded) and
// the peak while parsing, and how much the resident set grew meanwhile. Prints
// "ok TREE PEAK RESIDENT ELEMENTS ATTRIBUTES".
int MemoryChild(const std::string& library, const std::string& file) {
    if (!HeapCounting()) return Fail("no-heap-counter");
    std::unique_ptr<Subject> subject = MakeSubject(library);
    if (!subject) return Fail("unknown-library");
    if (!subject->HasTree()) return NotApplicable();
    std::string text;
    if (!ReadFile(file, &text)) return Fail("read-input");
    HeapUse before = Heap();
    size_t residentBefore = ResidentBytes();
    ResetHeapPeak();
    if (!subject->Parse(text.c_str(), text.size())) return Fail("parse-error");
    HeapUse after = Heap();
    size_t residentAfter = ResidentBytes();
    size_t resident = residentAfter > residentBefore ? residentAfter - residentBefore : 0;
    TreeCounts counts = subject->Count();
    std::printf("ok %zu %zu %zu %zu %zu\n", after.live - before.live, after.peak - before.live,
                resident, counts.elements, counts.attributes);
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
    if (!subject->HasTree()) return NotApplicable();
    const int n = 100000;
    std::string texts[2];
    for (int attributes = 0; attributes < 2; ++attributes) {
        std::string& text = texts[attributes];
        text = "<r>";
        for (int i = 0; i < n; ++i) text += attributes ? "<e a=\"1\"/>" : "<e/>";
        text += "</r>";
    }
    // Both trees are measured from the heap before the first: memory that a
    // library keeps for reuse when the smaller first tree is freed (free slabs)
    // stays live, and the larger second tree takes it up again.
    const size_t before = Heap().live;
    double treeBytes[2];
    for (int attributes = 0; attributes < 2; ++attributes) {
        const std::string& text = texts[attributes];
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
    size_t bytes = 0;     // written by an output
    size_t elements = 0, attributes = 0;
};

struct Memory {
    bool ok = false, applies = true;
    double tree = 0, peak = 0, resident = 0;  // bytes
    size_t elements = 0, attributes = 0;
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

// The C library's allocator with its fast bins off: freed blocks merge at once,
// so a tree built after another was freed is laid out much as the first was.
const char* const kSteadyHeap = "GLIBC_TUNABLES=glibc.malloc.mxfast=0";

class Driver {
public:
    Driver(std::string corpusDir, std::string resultsDir, int reps)
        : corpusDir(std::move(corpusDir)), resultsDir(std::move(resultsDir)), reps(reps) {
        self = SelfPath();
        memoryProgram = self + "_mem";
    }

    // Times one library and operation in runs timed runs (reps when 0), with
    // environment (NAME=VALUE) set for the child. A cold parse happens once per
    // process, so it takes as many processes.
    Measure Time(const std::string& library, const std::string& operation, const std::string& file,
                 const std::string& environment = "", int runs = 0) {
        bool cold = operation == "parse-cold";
        if (runs <= 0) runs = reps;
        std::string output = resultsDir + "/.save-" + library + ".xml";
        std::string command = (environment.empty() ? "" : "env " + environment + " ") +
                              Quote(self) + " run " + library + " " + operation + " " +
                              Quote(file) + " " + std::to_string(cold ? 1 : runs) + " " +
                              Quote(output);
        std::fprintf(stderr, "  %-8s %-16s %s%s ... ", library.c_str(), operation.c_str(),
                     Basename(file).c_str(), environment.empty() ? "" : " (steady heap)");
        Measure m;
        std::vector<double> times;
        for (int process = 0; process < (cold ? runs : 1); ++process) {
            std::string line = Spawn(command);
            std::istringstream in(line);
            std::string word;
            in >> word;
            if (word == "n/a") {
                m.applies = false;
                std::fprintf(stderr, "n/a\n");
                return m;
            }
            if (word != "ok" || !(in >> m.bytes >> m.elements >> m.attributes)) {
                std::fprintf(stderr, "%s\n", line.c_str());
                return m;
            }
            double t;
            while (in >> t) times.push_back(t);
        }
        m.seconds = Median(times);
        m.ok = m.seconds > 0;
        std::fprintf(stderr, "%.1f ms\n", m.seconds * 1e3);
        return m;
    }

    Memory HeapOf(const std::string& library, const std::string& file) {
        std::string line = Spawn(Quote(memoryProgram) + " memory " + library + " " + Quote(file));
        Memory m;
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "n/a") m.applies = false;
        if (word == "ok") {
            m.ok = static_cast<bool>(in >> m.tree >> m.peak >> m.resident >> m.elements >>
                                     m.attributes);
        }
        if (!m.ok && m.applies) {
            std::fprintf(stderr, "  %s memory: %s\n", library.c_str(), line.c_str());
        }
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

// The libraries' versions, from the first-th on (1: the peers only).
std::string Versions(int first = 0) {
    std::string out;
    for (int l = first; l < kLibraryCount; ++l) {
        const char* name = kLibraries[l];
        std::unique_ptr<Subject> subject = MakeSubject(name);
        if (!subject) continue;
        if (!out.empty()) out += ", ";
        out += std::string(name) + " " + subject->Version();
    }
    return out;
}

std::string Revision() {
    const char* revision = std::getenv("VELK_BENCH_REVISION");
    return revision && *revision ? revision : "";
}

std::string ClockName() {
    return CpuClock() ? "CPU time of the process (user + system), chosen with --clock cpu"
                      : "wall time (steady clock)";
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
    const int width = 860, labelWidth = 290, barHeight = 11, rowGap = 10, barArea = 470;
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
    if (!Revision().empty()) md << "- Source: " << Revision() << "\n";
    md << "- Method: each library and operation in a process of its own; median of " << reps
       << " timed runs after one untimed run (a cold parse: one run in each of " << reps
       << " processes); MB/s is input megabytes (10^6 bytes) over the median time.\n"
       << "- Clock: " << ClockName() << "\n"
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

// One figure of one library: positive when measured.
struct Figure {
    double value = 0;
    bool applies = true;
};
using Figures = std::array<Figure, kLibraryCount>;

// A table row: the figure of each library, then ours over each of the first
// `peers` peers.
std::string Row(const std::string& corpus, const std::string& measure, const Figures& figures,
                int peers) {
    std::string row = "| " + corpus + " | " + measure;
    for (const Figure& f : figures) {
        row += " | " + (f.value > 0 ? Format(f.value, 1) : f.applies ? "failed" : "n/a");
    }
    for (int l = 1; l <= peers; ++l) row += " | " + Ratio(figures[0].value, figures[l].value);
    return row + " |\n";
}

std::string TableHead(int peers) {
    std::string head = "| corpus | measure |", rule = "|---|---|";
    for (const char* library : kLibraries) head += std::string(" ") + library + " |";
    for (int l = 1; l <= peers; ++l) head += std::string(" velk/") + kLibraries[l] + " |";
    for (int l = 0; l < kLibraryCount + peers; ++l) rule += "---:|";
    return head + "\n" + rule + "\n";
}

// Everything the table mode measures.
struct Results {
    double megabytes[kCorpusCount] = {};
    Measure times[kCorpusCount][kOperationCount][kLibraryCount];
    Memory memory[kCorpusCount][kLibraryCount];
    bool unitOk[kLibraryCount] = {};
    double perElement[kLibraryCount] = {}, perAttribute[kLibraryCount] = {};

    double Speed(int c, int o, int l) const {
        const Measure& m = times[c][o][l];
        return m.ok ? megabytes[c] / m.seconds : 0;
    }
    Figures Speeds(int c, int o) const {
        Figures f;
        for (int l = 0; l < kLibraryCount; ++l) f[l] = {Speed(c, o, l), times[c][o][l].applies};
        return f;
    }
    // Tree memory, or the peak while parsing, in MB.
    Figures Megabytes(int c, bool peak) const {
        Figures f;
        for (int l = 0; l < kLibraryCount; ++l) {
            const Memory& m = memory[c][l];
            f[l] = {m.ok ? (peak ? m.peak : m.tree) / 1e6 : 0, m.applies};
        }
        return f;
    }
    // Ours over a peer's speed for one operation (by name).
    double SpeedRatio(int c, const char* operation, int peer) const {
        int o = OperationIndex(operation);
        double ours = Speed(c, o, 0), theirs = Speed(c, o, peer);
        return ours > 0 && theirs > 0 ? ours / theirs : 0;
    }
    double MemoryRatio(int c, int peer) const {
        const Memory &ours = memory[c][0], &theirs = memory[c][peer];
        return ours.ok && theirs.ok && theirs.tree > 0 ? ours.tree / theirs.tree : 0;
    }
};

std::string CorpusTitle(const Results& r, int c) {
    return std::string(kCorpusTitles[c]) + " (" + Format(r.megabytes[c], 1) + " MB)";
}

// The timing rows of one kind (realistic or best case) for every corpus, the
// memory rows with the realistic ones; tree memory only for the README.
std::string SpeedTable(const Results& r, bool realistic, int peers, bool readme) {
    std::string md = TableHead(peers);
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string corpus = readme ? kCorpusTitles[c] : CorpusTitle(r, c);
        for (int o = 0; o < kOperationCount; ++o) {
            if (kOperations[o].realistic != realistic) continue;
            md += Row(corpus, std::string(kOperations[o].title) + ", MB/s", r.Speeds(c, o), peers);
        }
        if (!realistic) continue;
        md += Row(corpus, "tree memory, MB", r.Megabytes(c, false), peers);
        if (!readme) md += Row(corpus, "peak heap while parsing, MB", r.Megabytes(c, true), peers);
    }
    return md;
}

std::string UnitTable(const Results& r, bool perCorpus) {
    std::string md = "| library | bytes per element | bytes per attribute |";
    std::string rule = "|---|---:|---:|";
    for (int c = 0; perCorpus && c < kCorpusCount; ++c) {
        md += std::string(" ") + kCorpora[c] + ": elements, attributes, bytes per (element + " +
              "attribute) |";
        rule += "---|";
    }
    md += "\n" + rule + "\n";
    for (int l = 0; l < kLibraryCount; ++l) {
        if (!r.unitOk[l]) continue;
        md += std::string("| ") + kLibraries[l] + " | " + Format(r.perElement[l], 1) + " | " +
              Format(r.perAttribute[l], 1) + " |";
        for (int c = 0; perCorpus && c < kCorpusCount; ++c) {
            const Memory& m = r.memory[c][l];
            size_t items = m.elements + m.attributes;
            md += " " + std::to_string(m.elements) + ", " + std::to_string(m.attributes) + ", " +
                  (items ? Format(m.tree / items, 1) : "-") + " |";
        }
        md += "\n";
    }
    return md;
}

std::string Targets(const Results& r) {
    std::string md;
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string name = kCorpusTitles[c];
        md +=
            Target(name + ": parse, first in a process, velk/pugixml",
                   r.SpeedRatio(c, "parse-cold", 1), 0.5, true) +
            Target(name + ": parse, first in a process, velk/libxml2",
                   r.SpeedRatio(c, "parse-cold", 2), 3, true) +
            Target(name + ": parse, repeated, velk/pugixml", r.SpeedRatio(c, "parse", 1), 0.5,
                   true) +
            Target(name + ": parse, repeated, velk/libxml2", r.SpeedRatio(c, "parse", 2), 3, true) +
            Target(name + ": compact form into a growing string, aged heap, velk/pugixml",
                   r.SpeedRatio(c, "compact-grow", 1), 0.8, true) +
            Target(name + ": pretty print into a memory FILE, aged heap, velk/pugixml",
                   r.SpeedRatio(c, "pretty-memstream", 1), 0.8, true);
        double parse = r.Speed(c, OperationIndex("parse"), 0);
        double load = r.Speed(c, OperationIndex("load"), 0);
        md += Target(name + ": load file over parse from memory (velk, throughput)",
                     parse > 0 ? load / parse : 0, 0.9, true) +
              Target(name + ": tree memory, velk/pugixml", r.MemoryRatio(c, 1), 1.5, false) +
              Target(name + ": tree memory, velk/libxml2", r.MemoryRatio(c, 2), 1, false);
    }
    return md;
}

// Checks that would make the figures meaningless if they failed.
std::string Warnings(const Results& r) {
    std::string md;
    const int parse = OperationIndex("parse");
    const std::pair<const char*, const char*> sameOutput[] = {{"compact", "compact-grow"},
                                                              {"pretty", "pretty-memstream"}};
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string corpus = kCorpusTitles[c];
        const Measure& ours = r.times[c][parse][0];
        for (int l = 0; l < kLibraryCount; ++l) {
            const Measure& peer = r.times[c][parse][l];
            if (ours.ok && peer.ok &&
                (ours.elements != peer.elements || ours.attributes != peer.attributes)) {
                md += "- " + corpus + ": velk read " + std::to_string(ours.elements) +
                      " elements and " + std::to_string(ours.attributes) + " attributes, " +
                      kLibraries[l] + " " + std::to_string(peer.elements) + " and " +
                      std::to_string(peer.attributes) + "\n";
            }
            for (const auto& pair : sameOutput) {
                const Measure& best = r.times[c][OperationIndex(pair.first)][l];
                const Measure& aged = r.times[c][OperationIndex(pair.second)][l];
                if (best.ok && aged.ok && best.bytes != aged.bytes) {
                    md += "- " + corpus + ": " + kLibraries[l] + " wrote " +
                          std::to_string(best.bytes) + " bytes for " + pair.first + " but " +
                          std::to_string(aged.bytes) + " for " + pair.second + "\n";
                }
            }
            // Memory the counting allocator did not see (mapped directly, say)
            // still grows the resident set.
            const Memory& m = r.memory[c][l];
            if (m.ok && m.resident > 2 * m.peak + 4e6) {
                md += "- " + corpus + ": " + kLibraries[l] + "'s resident set grew by " +
                      Format(m.resident / 1e6, 1) + " MB while parsing, the counted peak is " +
                      Format(m.peak / 1e6, 1) + " MB: the memory rows miss some of its memory\n";
            }
        }
    }
    return md;
}

// The table to paste into the README: what users meet, with date, machine and commit.
std::string ReadmeTable(const Results& r, int reps, const std::string& note) {
    std::string revision = Revision().empty() ? "an unknown commit" : Revision();
    std::string md =
        "Measured on " + Today() + " on " + Machine() + ": velk " + MakeVelk()->Version() + " at " +
        revision + " (Release build) against " + Versions(1) + ", on three generated " +
        Format(r.megabytes[0], 0) +
        " MB documents. Each library and operation ran in a process of its own; medians of " +
        std::to_string(reps) + " runs, timed by " +
        (CpuClock() ? "process CPU time" : "wall clock") + ". Outputs write a tree built after " +
        std::to_string(kAgingCycles) +
        " parse-and-free cycles into a sink that grows. MB/s is input size over time; the "
        "ratio columns are ours over the peer's. Best-case figures (a fresh tree written "
        "into a pre-sized buffer), tracking cost and scaling: bench/results/." +
        (note.empty() ? "" : " Note: " + note + ".") + "\n\n";
    md += SpeedTable(r, true, 2, true) + "\nHeap bytes per element and per attribute:\n\n" +
          UnitTable(r, false);
    return md;
}

int Table(Driver& driver, const std::string& note) {
    std::string loadBefore = LoadAverage();
    Results r;
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string file = driver.CorpusFile(kCorpora[c]);
        r.megabytes[c] = Driver::FileMegabytes(file);
        if (r.megabytes[c] <= 0) {
            std::fprintf(stderr, "velk_bench: missing corpus %s\n", file.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s (%.1f MB)\n", file.c_str(), r.megabytes[c]);
        for (int o = 0; o < kOperationCount; ++o) {
            for (int l = 0; l < kLibraryCount; ++l) {
                r.times[c][o][l] = driver.Time(kLibraries[l], kOperations[o].name, file);
            }
        }
        for (int l = 0; l < kLibraryCount; ++l) r.memory[c][l] = driver.HeapOf(kLibraries[l], file);
    }
    for (int l = 0; l < kLibraryCount; ++l) {
        r.unitOk[l] = driver.UnitCost(kLibraries[l], &r.perElement[l], &r.perAttribute[l]);
    }

    std::ostringstream md;
    md << Header("Benchmark: velk against pugixml, libxml2 and expat", note, driver.reps,
                 loadBefore)
       << "Throughput in MB/s (higher is better) and tree memory in MB (lower is better). "
          "The ratio columns are ours over the peer's figure on the same row.\n\n"
       << "## What users meet\n\n"
          "A cold parse is the first of its process: the heap is new and its pages are "
          "not yet mapped. A repeated parse (and load) follows two parse-and-free cycles of the "
          "same document. The outputs write the tree built after "
       << kAgingCycles
       << " parse-and-free cycles in the process (an aged heap): the compact form "
          "into a `std::string` that starts empty and grows as it is written (velk: `s << doc`; "
          "pugixml: a writer appending to the string; libxml2: a save context writing to it), "
          "the pretty form into a `FILE` from `open_memstream` (velk: `Print`; pugixml: "
          "`xml_writer_file`; libxml2: `xmlDocFormatDump`).\n\n"
       << SpeedTable(r, true, 3, false)
       << "\n## Best case\n\n"
          "The outputs write the tree of the first parse of the process (a fresh heap) into a "
          "sink made once, big enough for the whole output: a reserved string, a buffer opened "
          "with `fmemopen`.\n\n"
       << SpeedTable(r, false, 3, false)
       << "\n## Memory per element and attribute\n\n"
          "Fixed cost of one element and one attribute in the tree (heap bytes, from trees of "
          "100000 `<e/>` and `<e a=\"1\"/>`), and per element and attribute of each corpus "
          "(tree memory over the count):\n\n"
       << UnitTable(r, true) << "\n## Targets\n\n"
       << Targets(r)
       << "\nThe tracking cost and the scaling run are in scaling.md (`bench/run --mode "
          "scaling`).\n";
    std::string warnings = Warnings(r);
    if (!warnings.empty()) md << "\n## Warnings\n\n" << warnings;
    md << "\nMemory is counted by a wrapper around malloc, calloc, realloc, free and the "
          "aligned allocators (velk_bench_mem, bench/heap_count.cpp): each block counts its "
          "usable size plus one word of chunk header. Tree memory is the heap held after the "
          "parse, less what was held before it (the input text is not counted; pugixml's copy "
          "of it is). Peak is the most held at once during the parse. expat builds no tree.\n";

    // The chart shows what users meet.
    std::vector<ChartPanel> panels;
    ChartPanel memoryPanel{"tree memory", "MB (lower is better)", {}};
    for (int c = 0; c < kCorpusCount; ++c) {
        ChartPanel panel{CorpusTitle(r, c), "MB/s (higher is better)", {}};
        for (int o = 0; o < kOperationCount; ++o) {
            if (!kOperations[o].realistic) continue;
            ChartRow row{kOperations[o].title};
            for (int l = 0; l < kLibraryCount; ++l) row.values[l] = r.Speed(c, o, l);
            panel.rows.push_back(row);
        }
        panels.push_back(panel);
        ChartRow row{kCorpusTitles[c]};
        Figures mb = r.Megabytes(c, false);
        for (int l = 0; l < kLibraryCount; ++l) row.values[l] = mb[l].value;
        memoryPanel.rows.push_back(row);
    }
    panels.push_back(memoryPanel);

    std::string table = md.str();
    std::fputs(table.c_str(), stdout);
    const std::string& dir = driver.resultsDir;
    bool ok = WriteText(dir + "/latest.md", table);
    ok = WriteText(dir + "/latest.svg",
                   Svg(panels, "velk against pugixml, libxml2 and expat, " + Today())) &&
         ok;
    ok = WriteText(dir + "/readme-table.md", ReadmeTable(r, driver.reps, note)) && ok;
    std::fprintf(stderr, "wrote %s/latest.md, latest.svg and readme-table.md\n", dir.c_str());
    return ok ? 0 : 1;
}

// Parse seconds with tracking on and off, in three alternating pairs of
// processes so that a change in the machine's load moves both sides alike: the
// median of each side's medians.
bool TrackingCost(Driver& driver, const std::string& file, const char* environment, double* on,
                  double* off) {
    std::vector<double> ons, offs;
    for (int pair = 0; pair < 3; ++pair) {
        Measure with = driver.Time("velk", "parse", file, environment);
        Measure without = driver.Time("velk", "parse-notrack", file, environment);
        if (!with.ok || !without.ok) return false;
        ons.push_back(with.seconds);
        offs.push_back(without.seconds);
    }
    *on = Median(ons);
    *off = Median(offs);
    return true;
}

// Parse seconds in the lax UTF-8 reading and the strict one, in three
// alternating pairs of processes, as for the tracking cost.
bool StrictCost(Driver& driver, const std::string& file, double* lax, double* strict) {
    std::vector<double> laxes, stricts;
    for (int pair = 0; pair < 3; ++pair) {
        Measure a = driver.Time("velk", "parse-utf8", file, kSteadyHeap);
        Measure b = driver.Time("velk", "parse-strict", file, kSteadyHeap);
        if (!a.ok || !b.ok) return false;
        laxes.push_back(a.seconds);
        stricts.push_back(b.seconds);
    }
    *lax = Median(laxes);
    *strict = Median(stricts);
    return true;
}

int Scaling(Driver& driver, const std::string& note) {
    std::string loadBefore = LoadAverage();
    std::ostringstream md;
    md << "## Cost of location tracking\n\n"
          "Parse (buffer to tree, freed, repeated in one process) with tab size 4, the default, "
          "against tab size 0, with which the tracker never moves, in three alternating pairs "
          "of processes (the median of the three medians). Measured with the C "
          "library's fast bins off (`"
       << kSteadyHeap
       << "`), so that freed blocks merge at once and each parse meets a heap laid out as the "
          "first did, and with the default heap, where the layout earlier parses left behind "
          "moves the figures as much as tracking does. The target uses the first.\n\n"
          "| corpus | heap | tracking on, MB/s | tracking off, MB/s | time added by tracking |\n"
          "|---|---|---:|---:|---:|\n";
    std::string targets;
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string file = driver.CorpusFile(kCorpora[c]);
        double mb = Driver::FileMegabytes(file);
        for (const char* environment : {kSteadyHeap, ""}) {
            double on = 0, off = 0;
            bool both = TrackingCost(driver, file, environment, &on, &off);
            md << "| " << kCorpusTitles[c] << " (" << Format(mb, 1) << " MB) | "
               << (*environment ? "fast bins off" : "default") << " | "
               << (both ? Format(mb / on, 1) + " | " + Format(mb / off, 1) + " | " +
                              Format((on / off - 1) * 100, 1) + " %"
                        : "failed | failed | -")
               << " |\n";
            if (both && *environment) {
                targets += Target(std::string(kCorpusTitles[c]) +
                                      ": parse time with tracking over without (fast bins off)",
                                  on / off, 1.10, false);
            }
        }
    }
    md << "\n## Cost of strict reading\n\n"
          "Parse in the UTF-8 model, lax and strict (XML 1.0 well-formedness checked), "
          "condensing on, with the fast bins off, in three alternating pairs of processes.\n\n"
          "| corpus | lax UTF-8, MB/s | strict, MB/s | time added by strict reading |\n"
          "|---|---:|---:|---:|\n";
    for (int c = 0; c < kCorpusCount; ++c) {
        std::string file = driver.CorpusFile(kCorpora[c]);
        double mb = Driver::FileMegabytes(file);
        double lax = 0, strict = 0;
        bool both = StrictCost(driver, file, &lax, &strict);
        md << "| " << kCorpusTitles[c] << " (" << Format(mb, 1) << " MB) | "
           << (both ? Format(mb / lax, 1) + " | " + Format(mb / strict, 1) + " | " +
                          Format((strict / lax - 1) * 100, 1) + " %"
                    : "failed | failed | -")
           << " |\n";
        if (both) {
            targets += Target(std::string(kCorpusTitles[c]) +
                                  ": parse time strict over lax UTF-8 (fast bins off)",
                              strict / lax, 1.15, false);
        }
    }
    const int sizes[] = {2, 20, 200};
    const int treeLibraries = 3;  // velk, pugixml, libxml2: expat keeps no tree to grow
    md << "\n## Scaling\n\nParse throughput (MB/s, repeated in one process) of the same kind of "
          "document at three sizes; the 2 MB ones are parsed ten times as often, so that "
          "noise moves their median no more than the others'.\n\n"
          "| corpus | library | 2 MB | 20 MB | 200 MB | 200 MB over 2 MB |\n"
          "|---|---|---:|---:|---:|---:|\n";
    for (int c = 0; c < kCorpusCount; ++c) {
        for (int l = 0; l < treeLibraries; ++l) {
            double speed[3] = {0, 0, 0};
            md << "| " << kCorpusTitles[c] << " | " << kLibraries[l];
            for (int s = 0; s < 3; ++s) {
                std::string file = driver.corpusDir + "/scale/" + kCorpora[c] + "-" +
                                   std::to_string(sizes[s]) + ".xml";
                double mb = Driver::FileMegabytes(file);
                int runs = driver.reps * 20 / sizes[s];
                Measure m =
                    mb > 0 ? driver.Time(kLibraries[l], "parse", file, "", runs) : Measure();
                speed[s] = m.ok ? mb / m.seconds : 0;
                md << " | " << (m.ok ? Format(speed[s], 1) : "missing");
            }
            md << " | " << Ratio(speed[2], speed[0]) << " |\n";
            if (l == 0 && speed[0] > 0 && speed[2] > 0) {
                targets +=
                    Target(std::string(kCorpusTitles[c]) + ": velk throughput at 200 MB over 2 MB",
                           speed[2] / speed[0], 0.85, true);
            }
        }
    }
    md << "\n## Targets\n\n" << targets;
    // The header last, so that it records the load average after the run.
    std::string text = Header("Benchmark: location tracking, strict reading and scaling", note,
                              driver.reps, loadBefore) +
                       md.str();
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

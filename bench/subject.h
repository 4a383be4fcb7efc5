// One library under test, behind the same small interface, so that the
// benchmark times every library with the same loop.
#ifndef VELK_BENCH_SUBJECT_H
#define VELK_BENCH_SUBJECT_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace bench {

// What a parse saw: used to check that every library read the same document.
struct TreeCounts {
    size_t elements = 0;
    size_t attributes = 0;
};

class Subject {
public:
    virtual ~Subject() = default;

    // Parses a NUL-terminated text of size bytes into a tree that the subject
    // keeps until Free; false when the library reports an error.
    virtual bool Parse(const char* text, size_t size) = 0;
    // Parses the named file into a kept tree.
    virtual bool Load(const char* path) = 0;
    // Frees the kept tree.
    virtual void Free() = 0;

    // Writes the kept tree pretty-printed (indented by four spaces) to file, and
    // appends its compact form to out, the way the library's users do; false
    // when the library cannot. The benchmark chooses the sinks: pre-sized for
    // the best case, growing as they are written for what users meet.
    virtual bool PrettyTo(FILE*) { return false; }
    virtual bool CompactTo(std::string*) { return false; }
    // Writes the kept tree pretty-printed to the named file.
    virtual bool Save(const char*) { return false; }
    // Whether the library builds a tree that can be written out at all.
    virtual bool HasTree() const { return true; }

    // The library's version, for the results file.
    virtual std::string Version() const = 0;
    // Counts the elements and attributes of the kept tree.
    virtual TreeCounts Count() const = 0;

    // Turns row and column tracking off (only the library that has it).
    virtual bool DisableTracking() { return false; }
    // Chooses the reading of the text, "utf8" (lax) or "strict" (only the
    // library that has them).
    virtual bool SetReading(const std::string&) { return false; }
};

// The libraries in the order the tables show them; ours first.
constexpr const char* kLibraries[] = {"velk", "pugixml", "libxml2", "expat"};
constexpr int kLibraryCount = 4;

std::unique_ptr<Subject> MakeVelk();
std::unique_ptr<Subject> MakePugixml();
std::unique_ptr<Subject> MakeLibxml2();
std::unique_ptr<Subject> MakeExpat();

// The subject of the given name, or null.
std::unique_ptr<Subject> MakeSubject(const std::string& name);

}  // namespace bench

#endif  // VELK_BENCH_SUBJECT_H

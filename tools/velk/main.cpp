// velk: checks XML files and writes them pretty-printed or compact.
//
//   velk check FILE...
//   velk format [-o OUT | -i] [FILE | -]
//   velk compact [FILE | -]
//
// A thin program over the library's public API: the library parses, reports
// errors and prints; the tool converts encodings, checks that a written form
// reads as the document it came from, and handles arguments, files and messages.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "encoding.h"
#include "fidelity.h"
#include "output.h"

using TAVARO::VelkBase;
using TAVARO::VelkCursor;
using TAVARO::VelkDocument;
using TAVARO::VelkElement;
using TAVARO::VelkParsingData;

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The name of standard input in arguments and in messages.
constexpr const char kStdinArg[] = "-";
constexpr const char kStdinName[] = "<stdin>";
constexpr const char kStdoutName[] = "<stdout>";

constexpr const char kUsageText[] =
    "Usage: velk check [--keep-whitespace] FILE...\n"
    "       velk format [--keep-whitespace] [-o OUT | -i] [FILE | -]\n"
    "       velk compact [--keep-whitespace] [FILE | -]\n"
    "       velk --help | --version\n"
    "\n"
    "Commands:\n"
    "  check    parse each FILE; print one line per broken file, nothing otherwise\n"
    "  format   write the document pretty-printed: each node on a line of its own,\n"
    "           indented by four spaces a level\n"
    "  compact  write the document on one line, up to the end of its first element\n"
    "\n"
    "Options:\n"
    "  -o OUT             write to OUT instead of standard output\n"
    "  -i                 rewrite FILE in place\n"
    "  --keep-whitespace  change no text: white space alone goes only between the\n"
    "                     children of an element that holds no text, and an element\n"
    "                     that holds text is written as it stands\n"
    "  --help             print this help and exit\n"
    "  --version          print the library version and exit\n"
    "\n"
    "What format and compact change: the layout (line breaks and indentation\n"
    "between nodes); white space in text, unless --keep-whitespace (leading and\n"
    "trailing white space dropped, inner runs made one space, white space alone\n"
    "dropped); the spelling of markup (the declaration, quotes and spaces in tags,\n"
    "<a></a> as <a />, characters as themselves save & < > \" ' as entities, and\n"
    "control characters and white space that would read otherwise as references).\n"
    "Elements, attributes, text, comments, processing instructions, DOCTYPE, CDATA\n"
    "sections and the encoding stay: a document that declares an encoding other\n"
    "than UTF-8 is converted to UTF-8 and back with iconv.\n"
    "\n"
    "Nothing is written, and the exit status is 1, when the written form would not\n"
    "read the same (it is read back and compared first), when the document uses\n"
    "entities other than the five predefined ones (they are not expanded), or when\n"
    "iconv does not know its encoding; check reads such a document as it stands.\n"
    "Bytes not valid in the encoding, and characters and references that XML does\n"
    "not allow, are errors for every command.\n"
    "\n"
    "FILE '-' or no FILE reads standard input, named <stdin> in messages.\n"
    "Errors read FILE:ROW:COL: error: MESSAGE (counted from 1).\n"
    "Exit status: 0 success, 1 a file is broken, unreadable or refused, 2 usage\n"
    "error.\n";

enum class Command { kNone, kCheck, kFormat, kCompact };

struct Options {
    Command command = Command::kNone;
    std::vector<std::string> files;
    std::string output;  // -o OUT; empty for standard output
    bool inPlace = false;
    bool keepWhiteSpace = false;
};

enum class ArgsResult { kRun, kHelp, kVersion, kUsageError };

Command CommandNamed(const std::string& word) {
    if (word == "check") return Command::kCheck;
    if (word == "format") return Command::kFormat;
    if (word == "compact") return Command::kCompact;
    return Command::kNone;
}

// Fills options from the arguments; on a usage error, reason says why.
ArgsResult ParseArguments(int argc, char** argv, Options* options, std::string* reason) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (isOption && arg == "--help") return ArgsResult::kHelp;
        if (isOption && arg == "--version") return ArgsResult::kVersion;
        if (isOption && arg == "--") {
            optionsEnded = true;
        } else if (isOption && arg == "--keep-whitespace") {
            options->keepWhiteSpace = true;
        } else if (isOption && arg == "-i") {
            options->inPlace = true;
        } else if (isOption && arg == "-o") {
            if (i + 1 == argc) {
                *reason = "option -o needs a file name";
                return ArgsResult::kUsageError;
            }
            options->output = argv[++i];
        } else if (isOption) {
            *reason = "unknown option '" + arg + "'";
            return ArgsResult::kUsageError;
        } else if (options->command == Command::kNone) {
            options->command = CommandNamed(arg);
            if (options->command == Command::kNone) {
                *reason = "unknown command '" + arg + "'";
                return ArgsResult::kUsageError;
            }
        } else {
            options->files.push_back(arg);
        }
    }
    return ArgsResult::kRun;
}

// The checks that need the whole command line; empty when it is usable.
std::string UsageProblem(const Options& options) {
    if (options.command == Command::kNone) return "no command given";
    const bool writesFile = options.inPlace || !options.output.empty();
    if (options.command == Command::kCheck) {
        if (writesFile) return "check writes nothing: -o and -i do not apply";
        if (options.files.empty()) return "check needs at least one FILE";
        return "";
    }
    if (options.files.size() > 1) return "only one FILE can be given";
    if (options.command == Command::kCompact && writesFile)
        return "compact writes to standard output: -o and -i do not apply";
    if (options.inPlace && !options.output.empty()) return "-o and -i cannot be used together";
    if (options.inPlace && (options.files.empty() || options.files[0] == kStdinArg))
        return "-i needs a FILE to rewrite";
    return "";
}

const std::string& DisplayName(const std::string& file) {
    static const std::string stdinName = kStdinName;
    return file == kStdinArg ? stdinName : file;
}

// Why a file is not read or written; where is (-1, -1) when the fault has no position.
struct Fault {
    std::string message;
    VelkCursor where;
};

// Prints FILE:ROW:COL: error: MESSAGE, or FILE: error: MESSAGE for a fault
// without a position. The library counts rows and columns from 0.
void Report(const std::string& name, const Fault& fault) {
    if (fault.where.row < 0 || fault.where.col < 0) {
        std::fprintf(stderr, "%s: error: %s\n", name.c_str(), fault.message.c_str());
    } else {
        std::fprintf(stderr, "%s:%d:%d: error: %s\n", name.c_str(), fault.where.row + 1,
                     fault.where.col + 1, fault.message.c_str());
    }
}

void Report(const std::string& name, const std::string& message) {
    Report(name, Fault{message, VelkCursor()});
}

// The row and column of offset in text, counted as the library counts them.
VelkCursor CursorAt(const std::string& text, size_t offset, const VelkDocument& doc) {
    VelkParsingData data(text.c_str(), doc.TabSize(), 0, 0);
    data.Stamp(text.c_str() + offset);
    return data.Cursor();
}

bool ReadStream(FILE* file, std::string* bytes) {
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, got);
    return !std::ferror(file);
}

// Reads the whole of file ("-" for standard input) into bytes.
bool ReadBytes(const std::string& file, std::string* bytes, Fault* fault) {
    bool read;
    if (file == kStdinArg) {
        read = ReadStream(stdin, bytes);
    } else {
        FILE* stream = std::fopen(file.c_str(), "rb");
        read = stream && ReadStream(stream, bytes);
        const int error = errno;
        if (stream) std::fclose(stream);
        errno = error;
    }
    if (!read) {
        fault->message = std::string(VelkBase::errorString[TAVARO::VELK_ERROR_OPEN_FILE]) + ": " +
                         std::strerror(errno);
    }
    return read;
}

// Whether a document read without a parse error is one: a single element,
// with nothing but markup around it.
bool HasOneElement(const VelkDocument& doc, Fault* fault) {
    const VelkElement* first = doc.FirstChildElement();
    if (!first) {
        fault->message = VelkBase::errorString[TAVARO::VELK_ERROR_DOCUMENT_EMPTY];
        return false;
    }
    if (const VelkElement* second = first->NextSiblingElement()) {
        fault->message = "Error: more than one document element.";
        fault->where = second->Location();
        return false;
    }
    return true;
}

// How a document is read.
struct Reading {
    bool writeBack;  // refuse what cannot be written back as it was read
    bool keepText;   // keep text as it stands instead of condensing it
};

// A document read from a file, with what writing it back needs.
struct Source {
    velktool::Encoding encoding;
    std::string text;  // UTF-8
    VelkDocument doc;
};

// Turns bytes into text; fails on faults of the encoding, and for writing
// back on an encoding that iconv cannot convert.
bool DecodeBytes(const std::string& bytes, bool writeBack, Source* source, Fault* fault) {
    velktool::Decoded decoded = velktool::Decode(bytes);
    source->encoding = decoded.encoding;
    source->text = std::move(decoded.text);
    const std::string& encoding = decoded.encoding.name;
    char message[128];
    switch (decoded.status) {
        case velktool::DecodeStatus::kOk:
            return true;
        case velktool::DecodeStatus::kUnknownEncoding:
            if (!writeBack) return true;  // checked as it stands
            fault->message = "iconv does not know the encoding '" + encoding +
                             "', so the file cannot be written back in it";
            return false;
        case velktool::DecodeStatus::kInvalidBytes:
            fault->message = "bytes not valid in the encoding '" + encoding + "'";
            break;
        case velktool::DecodeStatus::kDisallowedCharacter:
            std::snprintf(message, sizeof message, "character U+%04lX is not allowed in XML",
                          decoded.character);
            fault->message = message;
            break;
    }
    fault->where = CursorAt(source->text, decoded.faultAt, source->doc);
    return false;
}

// Parses UTF-8 text into doc in the UTF-8 model.
void ParseText(const std::string& text, bool keepText, VelkDocument* doc) {
    VelkBase::condenseWhiteSpace = !keepText;
    doc->SetUtf8(true);
    doc->Parse(text.c_str(), nullptr);
}

// Reads bytes into source as UTF-8 text and parses it. A reference that XML
// does not allow is an error; for writing back, so is an entity reference.
bool ReadDocument(const std::string& bytes, const Reading& reading, Source* source, Fault* fault) {
    if (!DecodeBytes(bytes, reading.writeBack, source, fault)) return false;
    VelkDocument& doc = source->doc;
    ParseText(source->text, reading.keepText, &doc);
    if (doc.Error()) {
        fault->message = doc.ErrorMessage();
        fault->where = doc.ErrorCursor();
        return false;
    }
    if (!HasOneElement(doc, fault)) return false;
    velktool::UnreadReference reference;
    if (!velktool::FindUnreadReference(source->text, reading.writeBack, &reference)) return true;
    if (reference.entity) {
        fault->message = "cannot write back the entity reference '" + reference.reference +
                         "': velk expands only the five predefined entities";
    } else {
        fault->message = "'" + reference.reference + "' is not a reference XML allows";
    }
    fault->where = CursorAt(source->text, reference.at, doc);
    return false;
}

// Loads file ("-" for standard input) into source; on failure reports why.
bool LoadDocument(const std::string& file, const Reading& reading, Source* source) {
    std::string bytes;
    Fault fault;
    if (ReadBytes(file, &bytes, &fault) && ReadDocument(bytes, reading, source, &fault))
        return true;
    Report(DisplayName(file), fault);
    return false;
}

// A short quotation of a view item for messages, cut at a character boundary.
std::string Quote(const std::string& what) {
    constexpr size_t kMost = 60;
    if (what.size() <= kMost) return what;
    size_t cut = kMost;
    while (cut > 0 && (static_cast<unsigned char>(what[cut]) & 0xC0) == 0x80) --cut;
    return what.substr(0, cut) + "...";
}

// The bytes that write source back in its encoding, in the form a command writes.
bool WrittenForm(const Source& source, Command command, bool keepText, std::string* bytes,
                 Fault* fault) {
    std::string text;
    if (command == Command::kCompact) {
        text = velktool::CompactForm(source.doc);
    } else if (!velktool::PrettyForm(source.doc, keepText, &text)) {
        fault->message = std::strerror(ENOMEM);
        return false;
    }
    if (velktool::Encode(text, source.encoding, bytes)) return true;
    fault->message = "the written form cannot be converted to the encoding '" +
                     source.encoding.name + "'; nothing written";
    return false;
}

// Checks that bytes, the written form of source, read as source does; says
// where they do not. Both are read with their text whole, as readers see it,
// and compared with the white space in text collapsed unless keepText. Uses
// up the tree of source, so that no more than one tree is held at a time.
bool ReadsTheSame(Source* source, const std::string& bytes, bool keepText, bool firstElementOnly,
                  Fault* fault) {
    if (!keepText) {
        source->doc.Clear();
        ParseText(source->text, true, &source->doc);
    }
    const auto before = velktool::ReaderView(source->doc, keepText, firstElementOnly);
    source->doc.Clear();
    Source again;
    if (!ReadDocument(bytes, Reading{false, true}, &again, fault)) {
        fault->message =
            "the written form would not read back (" + fault->message + "); nothing written";
        fault->where = VelkCursor();
        return false;
    }
    const auto after = velktool::ReaderView(again.doc, keepText, firstElementOnly);
    const size_t at = velktool::FirstDifference(before, after);
    if (at == std::string::npos) return true;
    const bool beforeEnds = at == before.size();
    fault->message = "the written form would read differently here: " +
                     Quote(beforeEnds ? "nothing" : before[at].what) + " would read as " +
                     Quote(at == after.size() ? "nothing" : after[at].what) + "; nothing written";
    if (!keepText) fault->message += " (--keep-whitespace writes text as it stands)";
    if (!beforeEnds) fault->where = before[at].where;
    return false;
}

// The file that writing to path should replace: a symbolic link is followed,
// so that the link stays and its target gets the new content.
std::string ResolveTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The permissions of a new file: those of the file it replaces, or the
// ordinary ones for a new file.
mode_t ModeFor(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) return info.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes through write() into a temporary file in path's folder, then renames
// it over path, so that path holds either its old or its complete new content.
bool WriteFileAtomically(const std::string& path, const std::function<void(FILE*)>& write) {
    const std::string target = ResolveTarget(path);
    std::string temporary = FolderOf(target) + "/.velk-XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        Report(path, std::strerror(errno));
        return false;
    }
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        Report(path, std::strerror(errno));
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    write(file);
    const bool written = std::fflush(file) == 0 && !std::ferror(file) &&
                         fchmod(fd, ModeFor(target)) == 0 && fsync(fd) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
        Report(path, std::strerror(written && closed ? errno : writeErrno));
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool FinishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    Report(kStdoutName, std::strerror(errno));
    return false;
}

int RunCheck(const Options& options) {
    int status = kOk;
    for (const std::string& file : options.files) {
        Source source;
        if (!LoadDocument(file, Reading{false, options.keepWhiteSpace}, &source)) status = kFailed;
    }
    return status;
}

// format and compact: read the document, write it to standard output, OUT or
// back into FILE.
int RunWrite(const Options& options) {
    const std::string input = options.files.empty() ? kStdinArg : options.files[0];
    Source source;
    if (!LoadDocument(input, Reading{true, options.keepWhiteSpace}, &source)) return kFailed;
    std::string bytes;
    Fault fault;
    const bool keepText = options.keepWhiteSpace;
    if (!WrittenForm(source, options.command, keepText, &bytes, &fault) ||
        !ReadsTheSame(&source, bytes, keepText, options.command == Command::kCompact, &fault)) {
        Report(DisplayName(input), fault);
        return kFailed;
    }
    const auto write = [&bytes](FILE* file) { std::fwrite(bytes.data(), 1, bytes.size(), file); };
    if (options.inPlace) return WriteFileAtomically(input, write) ? kOk : kFailed;
    if (!options.output.empty() && options.output != kStdinArg)
        return WriteFileAtomically(options.output, write) ? kOk : kFailed;
    write(stdout);
    return FinishStandardOutput() ? kOk : kFailed;
}

int UsageError(const std::string& reason) {
    std::fprintf(stderr, "velk: %s\n%s", reason.c_str(), kUsageText);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string reason;
    switch (ParseArguments(argc, argv, &options, &reason)) {
        case ArgsResult::kHelp:
            std::fputs(kUsageText, stdout);
            return FinishStandardOutput() ? kOk : kFailed;
        case ArgsResult::kVersion:
            std::printf("velk %d.%d.%d\n", VELK_VERSION_MAJOR, VELK_VERSION_MINOR,
                        VELK_VERSION_PATCH);
            return FinishStandardOutput() ? kOk : kFailed;
        case ArgsResult::kUsageError:
            return UsageError(reason);
        case ArgsResult::kRun:
            break;
    }
    reason = UsageProblem(options);
    if (!reason.empty()) return UsageError(reason);

    switch (options.command) {
        case Command::kCheck:
            return RunCheck(options);
        case Command::kFormat:
        case Command::kCompact:
            return RunWrite(options);
        case Command::kNone:
            break;
    }
    return kUsage;
}

// velk: checks XML files and writes them pretty-printed or compact.
//
//   velk check FILE...
//   velk format [-o OUT | -i] [FILE | -]
//   velk compact [FILE | -]
//
// A thin program over the library's public API: the library parses, reports
// errors and prints; this file only handles arguments, files and messages.
#include "Velk/base/velk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

using TAVARO::VelkBase;
using TAVARO::VelkCursor;
using TAVARO::VelkDocument;

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
    "  format   write the document pretty-printed (the form a saved document has)\n"
    "  compact  write the document compact, on one line\n"
    "\n"
    "Options:\n"
    "  -o OUT             write to OUT instead of standard output\n"
    "  -i                 rewrite FILE in place\n"
    "  --keep-whitespace  keep text content as it stands instead of condensing it\n"
    "  --help             print this help and exit\n"
    "  --version          print the library version and exit\n"
    "\n"
    "FILE '-' or no FILE reads standard input, named <stdin> in messages.\n"
    "Errors read FILE:ROW:COL: error: MESSAGE (counted from 1).\n"
    "Exit status: 0 success, 1 a file is broken or unreadable, 2 usage error.\n";

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

// Prints FILE:ROW:COL: error: MESSAGE, or FILE: error: MESSAGE for an error
// without a position. The library counts rows and columns from 0.
void ReportError(const std::string& name, const char* message, const VelkCursor& where) {
    if (where.row < 0 || where.col < 0) {
        std::fprintf(stderr, "%s: error: %s\n", name.c_str(), message);
    } else {
        std::fprintf(stderr, "%s:%d:%d: error: %s\n", name.c_str(), where.row + 1, where.col + 1,
                     message);
    }
}

void ReportError(const std::string& name, const char* message) {
    ReportError(name, message, VelkCursor());
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Parses standard input, read whole, as one document. (Stream input would stop
// after the first element.)
void ParseStandardInput(VelkDocument* doc) {
    const std::string text((std::istreambuf_iterator<char>(std::cin)),
                           std::istreambuf_iterator<char>());
    doc->Parse(text.c_str(), nullptr);
}

// Loads file ("-" for standard input) into doc; on failure reports why and
// returns false.
bool LoadDocument(const std::string& file, VelkDocument* doc) {
    const std::string& name = DisplayName(file);
    if (file == kStdinArg) {
        ParseStandardInput(doc);
    } else if (IsDirectory(file)) {
        ReportError(name, VelkBase::errorString[TAVARO::VELK_ERROR_OPEN_FILE]);
        return false;
    } else if (!doc->LoadFile(file.c_str()) && !doc->Error()) {
        // An empty file: the library declines it without recording an error.
        ReportError(name, VelkBase::errorString[TAVARO::VELK_ERROR_DOCUMENT_EMPTY]);
        return false;
    }
    if (!doc->Error()) return true;
    ReportError(name, doc->ErrorMessage(), doc->ErrorCursor());
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
        ReportError(path, std::strerror(errno));
        return false;
    }
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        ReportError(path, std::strerror(errno));
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
        ReportError(path, std::strerror(written && closed ? errno : writeErrno));
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool FinishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    ReportError(kStdoutName, std::strerror(errno));
    return false;
}

int RunCheck(const Options& options) {
    int status = kOk;
    for (const std::string& file : options.files) {
        VelkDocument doc;
        if (!LoadDocument(file, &doc)) status = kFailed;
    }
    return status;
}

int RunFormat(const Options& options) {
    const std::string input = options.files.empty() ? kStdinArg : options.files[0];
    VelkDocument doc;
    if (!LoadDocument(input, &doc)) return kFailed;

    const auto print = [&doc](FILE* file) { doc.Print(file, 0); };
    if (options.inPlace) return WriteFileAtomically(input, print) ? kOk : kFailed;
    if (!options.output.empty() && options.output != kStdinArg)
        return WriteFileAtomically(options.output, print) ? kOk : kFailed;
    print(stdout);
    return FinishStandardOutput() ? kOk : kFailed;
}

int RunCompact(const Options& options) {
    const std::string input = options.files.empty() ? kStdinArg : options.files[0];
    VelkDocument doc;
    if (!LoadDocument(input, &doc)) return kFailed;

    std::string compact;
    compact << doc;
    compact += '\n';
    std::fwrite(compact.data(), 1, compact.size(), stdout);
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

    if (options.keepWhiteSpace) VelkBase::condenseWhiteSpace = false;
    switch (options.command) {
        case Command::kCheck:
            return RunCheck(options);
        case Command::kFormat:
            return RunFormat(options);
        case Command::kCompact:
            return RunCompact(options);
        case Command::kNone:
            break;
    }
    return kUsage;
}

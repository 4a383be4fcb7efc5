// velk: checks XML files and writes them pretty-printed or compact.
//
//   velk check FILE...
//   velk format [-o OUT | -i] [FILE | -]
//   velk compact [FILE | -]
//
// A thin program over the library's public API: the library parses, reports
// errors and prints; the tool converts encodings, checks that a written form
// reads as the document it came from, and handles arguments, files and messages.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Velk/base/velk.h"
#include "encoding.h"
#include "fidelity.h"
#include "files.h"
#include "output.h"
#include "tree.h"

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
    "Usage: velk check [--lax] FILE...\n"
    "       velk format [--lax] [--condense] [-o OUT | -i [--follow-symlinks]] [FILE | -]\n"
    "       velk compact [--lax] [--condense] [FILE | -]\n"
    "       velk --help | --version\n"
    "\n"
    "Commands:\n"
    "  check    read each FILE as XML; print the first error of each broken file\n"
    "           (where it is and the rule it breaks), nothing otherwise\n"
    "  format   write the document pretty-printed: the children of an element\n"
    "           that holds no text each on a line of their own, indented by four\n"
    "           spaces a level; an element that holds text written as it stands\n"
    "  compact  write the document on one line, up to the end of its first element\n"
    "\n"
    "Options:\n"
    "  --lax              read with the library's own, more lenient grammar (in\n"
    "                     UTF-8) instead of as XML 1.0 demands\n"
    "  --condense         change white space in text as well: trim each text,\n"
    "                     make inner runs one space and drop white space alone, so\n"
    "                     that every element goes on a line of its own\n"
    "  --keep-whitespace  change no text (the default; accepted for old scripts)\n"
    "  -o OUT             write to OUT instead of standard output (through a\n"
    "                     symbolic link, to the file it leads to)\n"
    "  -i                 rewrite FILE in place, as sed -i does: a new file takes\n"
    "                     its place with its owner, group and mode (the owner as\n"
    "                     far as the system allows); a hard link to FILE keeps the\n"
    "                     old content, and a symbolic link FILE becomes a file\n"
    "  --follow-symlinks  with -i, rewrite the file a symbolic link leads to and\n"
    "                     keep the link\n"
    "  --help             print this help and exit\n"
    "  --version          print the library version and exit\n"
    "\n"
    "What format and compact change: the layout (line breaks and indentation\n"
    "between the children of an element that holds no text but white space);\n"
    "the spelling of markup (the declaration, quotes and spaces in tags,\n"
    "<a></a> as <a />, characters as themselves save & < > \" ' as entities, and\n"
    "control characters and white space that would read otherwise as references);\n"
    "with --condense, white space in text. Elements, attributes, text, comments,\n"
    "processing instructions, DOCTYPE, CDATA sections and the encoding stay: a\n"
    "document that declares an encoding other than UTF-8 is converted to UTF-8\n"
    "and back with iconv. Entities declared in the DOCTYPE are written expanded\n"
    "where the library expands them.\n"
    "\n"
    "Nothing is written, and the exit status is 1, when the written form would not\n"
    "read the same (it is read back and compared first), or when the document\n"
    "refers to an entity that is external, not declared or not expanded. Bytes\n"
    "not valid in the encoding, an encoding iconv does not know, and characters\n"
    "and references that XML does not allow are errors for every command. With\n"
    "--lax, so are an end tag with no element open, a '<' followed by no name\n"
    "and a second document element, which that grammar reads without an error.\n"
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
    bool followSymlinks = false;
    bool condense = false;
    bool lax = false;
};

enum class ArgsResult { kRun, kHelp, kVersion, kUsageError };

Command CommandNamed(const std::string& word) {
    if (word == "check") return Command::kCheck;
    if (word == "format") return Command::kFormat;
    if (word == "compact") return Command::kCompact;
    return Command::kNone;
}

// Sets the flag that a flag option names; false for any other argument.
bool TakeFlag(const std::string& arg, Options* options) {
    const struct {
        const char* name;
        bool Options::*flag;
        bool value;
    } kFlags[] = {{"-i", &Options::inPlace, true},
                  {"--follow-symlinks", &Options::followSymlinks, true},
                  {"--condense", &Options::condense, true},
                  {"--keep-whitespace", &Options::condense, false},
                  {"--lax", &Options::lax, true}};
    for (const auto& f : kFlags) {
        if (arg != f.name) continue;
        options->*f.flag = f.value;
        return true;
    }
    return false;
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
        } else if (isOption && TakeFlag(arg, options)) {
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
        if (options.condense) return "check writes nothing: --condense does not apply";
        if (options.files.empty()) return "check needs at least one FILE";
        return "";
    }
    if (options.files.size() > 1) return "only one FILE can be given";
    if (options.command == Command::kCompact && writesFile)
        return "compact writes to standard output: -o and -i do not apply";
    if (options.inPlace && !options.output.empty()) return "-o and -i cannot be used together";
    if (options.inPlace && (options.files.empty() || options.files[0] == kStdinArg))
        return "-i needs a FILE to rewrite";
    if (options.followSymlinks && !options.inPlace) return "--follow-symlinks needs -i";
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

// The message as it follows the file and position: "error: MESSAGE". Most of
// the library's messages begin with the word already ("Error: ...", "Error
// reading ..."), which then stands for it instead of being said twice.
std::string ErrorText(const std::string& message) {
    for (const char* lead : {"Error: ", "Error "}) {
        const size_t length = std::strlen(lead);
        if (message.compare(0, length, lead) == 0 && message.size() > length)
            return "error" + message.substr(5);
    }
    return "error: " + message;
}

// Prints FILE:ROW:COL: error: MESSAGE, or FILE: error: MESSAGE for a fault
// without a position. The library counts rows and columns from 0.
void Report(const std::string& name, const Fault& fault) {
    const std::string text = ErrorText(fault.message);
    if (fault.where.row < 0 || fault.where.col < 0) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), text.c_str());
    } else {
        std::fprintf(stderr, "%s:%d:%d: %s\n", name.c_str(), fault.where.row + 1,
                     fault.where.col + 1, text.c_str());
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

// How a document is read.
struct Reading {
    bool strict;     // as XML 1.0, not the library's lenient grammar
    bool condense;   // white space in text condensed
    bool writeBack;  // refuse what cannot be written back as it was read
};

// A document read from a file, with what writing it back needs.
struct Source {
    std::string file;  // as named in the arguments, "-" for standard input
    velktool::Encoding encoding;
    std::string text;  // UTF-8
    size_t size = 0;   // of the text, which is dropped once the document is read
    // The encoding that the declaration named before the text was converted
    // (taken out of the text, which is UTF-8 now); empty when it names none.
    std::string unnamedEncoding;
    VelkDocument doc;
};

// Turns bytes into text; fails on faults of the encoding.
bool DecodeBytes(std::string&& bytes, Source* source, Fault* fault) {
    velktool::Decoded decoded = velktool::Decode(std::move(bytes));
    source->encoding = decoded.encoding;
    source->text = std::move(decoded.text);
    source->unnamedEncoding = std::move(decoded.unnamedEncoding);
    const std::string& encoding = decoded.encoding.name;
    char message[128];
    switch (decoded.status) {
        case velktool::DecodeStatus::kOk:
            return true;
        case velktool::DecodeStatus::kUnknownEncoding:
            fault->message = "iconv does not know the encoding '" + encoding +
                             "' that the file declares, so it cannot be read";
            return false;
        case velktool::DecodeStatus::kMisdeclared:
            fault->message = "the file declares the encoding '" + encoding +
                             "', but its declaration is not written in it";
            fault->where.row = fault->where.col = 0;  // the declaration
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

// Puts the encoding that converted text no longer names back into the
// declaration of the document read from it, so that it is written back.
void RenameEncoding(const std::string& encoding, VelkDocument* doc) {
    TAVARO::VelkNode* first = doc->FirstChild();
    if (encoding.empty() || !first || first->Type() != TAVARO::VelkNode::DECLARATION) return;
    const auto* declaration = static_cast<const TAVARO::VelkDeclaration*>(first);
    doc->ReplaceChild(first, TAVARO::VelkDeclaration(declaration->Version(), encoding.c_str(),
                                                     declaration->Standalone()));
}

// Parses UTF-8 text into doc in the UTF-8 model; unnamedEncoding, when the
// text was converted, goes back into its declaration.
void ParseText(const std::string& text, const Reading& reading, VelkDocument* doc,
               const std::string& unnamedEncoding = std::string()) {
    VelkBase::condenseWhiteSpace = reading.condense;
    doc->SetUtf8(true);
    doc->SetStrict(reading.strict);
    doc->Parse(text.c_str(), nullptr);
    if (!doc->Error()) RenameEncoding(unnamedEncoding, doc);
}

constexpr const char kNoElement[] = "no document element";

// Whether a document read without a parse error has an element.
bool HasElement(const VelkDocument& doc, Fault* fault) {
    if (doc.FirstChildElement()) return true;
    fault->message = kNoElement;
    return false;
}

// What is wrong with unknown markup of the given text (between its '<' and
// '>') that the lenient grammar reads in place of a tag; null for the markup
// it keeps as such ("<!...>", "<?...?>").
const char* MisreadTag(const char* value) {
    if (value[0] == '!' || value[0] == '?') return nullptr;
    if (value[0] == '/') return "end tag without a start tag";
    return "tag without a name";
}

// Finds what the lenient grammar reads without an error and XML refuses: an
// end tag with no element open and a '<' followed by no name, both read as
// unknown markup, and a second top-level element. The first of them in
// document order, where its node stands.
bool FindMisreadMarkup(const VelkDocument& doc, Fault* fault) {
    const TAVARO::VelkNode* found = nullptr;
    const char* what = nullptr;
    bool elementSeen = false;
    const auto enter = [&](const TAVARO::VelkNode& node) {
        if (found) return false;
        if (node.Type() == TAVARO::VelkNode::UNKNOWN) {
            what = MisreadTag(node.Value());
        } else if (node.Parent() == &doc && node.ToElement()) {
            if (elementSeen) what = "more than one document element";
            elementSeen = true;
        }
        if (what) found = &node;
        return !found;
    };
    velktool::Walk(doc, enter, [](const TAVARO::VelkNode&) {});
    if (!found) return false;
    fault->message = what;
    fault->where = found->Location();
    return true;
}

std::string UnreadMessage(const velktool::UnreadReference& reference) {
    const std::string quoted = "'" + reference.reference + "'";
    switch (reference.kind) {
        case velktool::UnreadReference::kUndeclared:
            return "cannot write back the entity reference " + quoted +
                   ": the document does not declare the entity";
        case velktool::UnreadReference::kUnexpanded:
            return "cannot write back the entity reference " + quoted +
                   ": this version of the library does not expand the entities that a "
                   "DOCTYPE declares";
        case velktool::UnreadReference::kExternal:
            return "cannot write back the reference " + quoted +
                   " to an external entity: velk reads no external entity";
        case velktool::UnreadReference::kNotAllowed:
            break;
    }
    return quoted + " is not a reference XML allows";
}

// Whether the library, reading strictly or not, expands the general entities
// that the internal subset of a DOCTYPE declares, which the tool then writes
// expanded; where it keeps their references as text, writing that text would
// change them. Asked of the library once per reading.
bool ExpandsDeclaredEntities(bool strict) {
    static int expands[2] = {-1, -1};
    int& known = expands[strict ? 1 : 0];
    if (known < 0) {
        VelkDocument probe;
        probe.SetUtf8(true);
        probe.SetStrict(strict);
        probe.Parse("<!DOCTYPE r [<!ENTITY e \"x\">]><r>&e;</r>", nullptr);
        const VelkElement* root = probe.FirstChildElement();
        const TAVARO::VelkNode* text = root ? root->FirstChild() : nullptr;
        known = !probe.Error() && text && text->ToText() && std::strcmp(text->Value(), "x") == 0;
    }
    return known == 1;
}

// Parses source's text into its document. A reference that XML does not
// allow is an error; for writing back, so is one to an entity that is not
// expanded; in the lenient reading, so is markup it misreads.
bool ParseSource(const Reading& reading, Source* source, Fault* fault) {
    VelkDocument& doc = source->doc;
    ParseText(source->text, reading, &doc, source->unnamedEncoding);
    // The lenient parse stops at its error, so what it read holds any markup
    // it misread before that error.
    if (!reading.strict && FindMisreadMarkup(doc, fault)) return false;
    if (doc.Error()) {
        // Markup with no element is not an empty document: say what it lacks.
        const bool noElement =
            doc.ErrorCode() == TAVARO::VELK_ERROR_DOCUMENT_EMPTY && doc.FirstChild();
        fault->message = noElement ? kNoElement : doc.ErrorMessage();
        fault->where = doc.ErrorCursor();
        return false;
    }
    if (!HasElement(doc, fault)) return false;
    velktool::UnreadReference reference;
    if (!velktool::FindUnreadReference(source->text, reading.writeBack,
                                       ExpandsDeclaredEntities(reading.strict), &reference))
        return true;
    fault->message = UnreadMessage(reference);
    fault->where = CursorAt(source->text, reference.at, doc);
    return false;
}

// Reads source's file into its text; on failure says why.
bool LoadText(Source* source, Fault* fault) {
    std::string bytes;
    int error = 0;
    if (!velktool::ReadWhole(source->file, &bytes, &error)) {
        fault->message = std::string(VelkBase::errorString[TAVARO::VELK_ERROR_OPEN_FILE]) + ": " +
                         std::strerror(error);
        return false;
    }
    if (!DecodeBytes(std::move(bytes), source, fault)) return false;
    source->size = source->text.size();
    return true;
}

// Reads file ("-" for standard input) into source; on failure says why.
bool LoadDocument(const std::string& file, const Reading& reading, Source* source, Fault* fault) {
    source->file = file;
    return LoadText(source, fault) && ParseSource(reading, source, fault);
}

// Gives the memory of text back (assigning an empty string may keep it).
void Release(std::string* text) {
    std::string().swap(*text);
}

// A short quotation of a view item for messages, cut at a character boundary.
std::string Quote(const std::string& what) {
    constexpr size_t kMost = 60;
    if (what.size() <= kMost) return what;
    size_t cut = kMost;
    while (cut > 0 && (static_cast<unsigned char>(what[cut]) & 0xC0) == 0x80) --cut;
    return what.substr(0, cut) + "...";
}

velktool::Form FormOf(Command command) {
    return command == Command::kCompact ? velktool::Form::kCompact : velktool::Form::kPretty;
}

// The form a command writes, as UTF-8 text, whole. Room for twice the source's
// text is taken up front, so that a large form is not copied as it grows
// (pages that stay unwritten cost no memory).
bool WrittenText(const Source& source, Command command, bool condense, std::string* text,
                 Fault* fault) {
    text->reserve(2 * source.size + 4096);
    if (velktool::WriteForm(source.doc, FormOf(command), condense, text)) return true;
    fault->message = std::strerror(ENOMEM);
    return false;
}

// What is compared of a document and of its written form read again: the
// reader's view, with the white space in text collapsed when it is condensed,
// and up to the end of the first element for the compact form.
struct Comparison {
    bool exactText;
    bool firstElementOnly;
};

// The view digest of source as a reader sees it. A condensed tree has lost the
// text a reader sees: the text is read again whole for it.
velktool::ViewDigest DigestOfSource(Source* source, const Reading& reading,
                                    const Comparison& compare) {
    if (reading.condense) {
        source->doc.Clear();
        ParseText(source->text, Reading{reading.strict, false, false}, &source->doc,
                  source->unnamedEncoding);
    }
    return velktool::DigestOfView(source->doc, compare.exactText, compare.firstElementOnly);
}

// Reads the written form back into again's document as the source was read:
// UTF-8 text as it is, the bytes of another encoding decoded into again's
// text first.
bool ReadBack(const std::string& written, bool utf8, const Reading& reading, Source* again,
              Fault* fault) {
    const std::string& text = utf8 ? written : again->text;
    if (utf8 || DecodeBytes(std::string(written), again, fault)) {
        ParseText(text, Reading{reading.strict, false, false}, &again->doc, again->unnamedEncoding);
        if (!again->doc.Error() && HasElement(again->doc, fault)) return true;
        if (again->doc.Error()) fault->message = again->doc.ErrorMessage();
    }
    fault->message =
        "the written form would not read back (" + fault->message + "); nothing written";
    fault->where = VelkCursor();
    return false;
}

// Says where the written form reads differently from the source, both read
// again and compared item by item.
void LocateDifference(Source* source, const std::string& written, const Reading& reading,
                      const Comparison& compare, Fault* fault) {
    fault->message = "the written form would read differently; nothing written";
    fault->where = VelkCursor();
    if (source->text.empty() && !LoadText(source, fault)) return;
    const Reading whole{reading.strict, false, false};
    VelkDocument before, after;
    ParseText(source->text, whole, &before);
    ParseText(written, whole, &after);
    const auto was = velktool::ReaderView(before, compare.exactText, compare.firstElementOnly);
    const auto is = velktool::ReaderView(after, compare.exactText, compare.firstElementOnly);
    const size_t at = velktool::FirstDifference(was, is);
    if (at == std::string::npos) return;
    const bool wasEnds = at == was.size();
    fault->message = "the written form would read differently here: " +
                     Quote(wasEnds ? "nothing" : was[at].what) + " would read as " +
                     Quote(at == is.size() ? "nothing" : is[at].what) + "; nothing written";
    if (!wasEnds) fault->where = was[at].where;
}

// Whether a written form is read back and compared with its source before it
// is written. A strict reading holds only what XML can represent, which the
// library writes so that it reads back the same; the lenient grammar accepts
// more, and condensing changes text, so their written forms are checked.
bool Verified(const Reading& reading) {
    return !reading.strict || reading.condense;
}

// Encodes text, the written form, into head (the byte-order mark) and body.
bool EncodeWritten(std::string&& text, const velktool::Encoding& encoding, std::string* head,
                   std::string* body, Fault* fault) {
    if (velktool::WrittenAsIs(text, encoding)) {
        *head = encoding.byteOrderMark;
        *body = std::move(text);
        return true;
    }
    if (velktool::Encode(text, encoding, body)) return true;
    fault->message = "the written form cannot be converted to the encoding '" + encoding.name +
                     "'; nothing written";
    return false;
}

// The bytes a command writes for source, in its encoding: head (the
// byte-order mark) and body. When they are verified, checks first that they
// read as the source does, one tree held at a time: the source's view is kept
// as a digest, its tree dropped, and the written form read back and digested
// in turn.
bool WrittenForm(Source* source, const Reading& reading, Command command, std::string* head,
                 std::string* body, Fault* fault) {
    // A file can be read again should the written form read otherwise; the
    // text of standard input is kept for that, and a condensed source's text
    // until its view is taken.
    const bool dropText = source->file != kStdinArg;
    if (dropText && !reading.condense) Release(&source->text);
    std::string text;
    if (!WrittenText(*source, command, reading.condense, &text, fault)) return false;
    if (!Verified(reading)) {
        source->doc.Clear();
        return EncodeWritten(std::move(text), source->encoding, head, body, fault);
    }
    const Comparison compare{!reading.condense, command == Command::kCompact};
    const velktool::ViewDigest before = DigestOfSource(source, reading, compare);
    source->doc.Clear();
    if (dropText) Release(&source->text);
    const bool asIs = velktool::WrittenAsIs(text, source->encoding);
    if (!EncodeWritten(std::move(text), source->encoding, head, body, fault)) return false;
    Source again;
    if (!ReadBack(*body, asIs, reading, &again, fault)) return false;
    const velktool::ViewDigest after =
        velktool::DigestOfView(again.doc, compare.exactText, compare.firstElementOnly);
    again.doc.Clear();
    if (before == after) return true;
    LocateDifference(source, asIs ? *body : again.text, reading, compare, fault);
    return false;
}

bool FinishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    Report(kStdoutName, std::strerror(errno));
    return false;
}

Reading ReadingFor(const Options& options, bool writeBack) {
    return Reading{!options.lax, options.condense, writeBack};
}

int RunCheck(const Options& options) {
    int status = kOk;
    for (const std::string& file : options.files) {
        Source source;
        Fault fault;
        if (!LoadDocument(file, ReadingFor(options, false), &source, &fault)) {
            Report(DisplayName(file), fault);
            status = kFailed;
        }
    }
    return status;
}

// Writes the form of source to file as it is made, a piece at a time, in
// an encoding that UTF-8 text is written in as it is (UTF-8, or ASCII, where a
// piece that holds other characters goes through iconv), so that the whole
// form is never held. On failure, fault says why, or is empty for a failed
// write, which errno explains.
bool StreamForm(const Source& source, Command command, FILE* file, Fault* fault) {
    const velktool::Encoding& encoding = source.encoding;
    const velktool::Encoding unmarked{encoding.name, ""};
    std::fwrite(encoding.byteOrderMark.data(), 1, encoding.byteOrderMark.size(), file);
    std::string converted;
    const velktool::Drain drain = [&](std::string* text) {
        const std::string* bytes = text;
        if (!velktool::WrittenAsIs(*text, encoding)) {
            if (!velktool::Encode(*text, unmarked, &converted)) {
                fault->message =
                    "the written form cannot be converted to the encoding '" + encoding.name + "'";
                return false;
            }
            bytes = &converted;
        }
        std::fwrite(bytes->data(), 1, bytes->size(), file);
        text->clear();
        return !std::ferror(file);
    };
    std::string piece;
    if (velktool::WriteForm(source.doc, FormOf(command), false, &piece, drain)) return true;
    if (fault->message.empty() && !std::ferror(file)) fault->message = std::strerror(ENOMEM);
    return false;
}

// Writes through write() to standard output, OUT or back into FILE; a file is
// replaced only when write() succeeds. Reports what fails.
bool Emit(const Options& options, const std::string& input,
          const std::function<bool(FILE*, Fault*)>& write) {
    Fault fault;
    const bool toStdout =
        !options.inPlace && (options.output.empty() || options.output == kStdinArg);
    const std::string& path = toStdout ? kStdoutName : options.inPlace ? input : options.output;
    int error = 0;
    velktool::Replacement replacement;
    const velktool::Replace how = !options.inPlace         ? velktool::Replace::kNewFile
                                  : options.followSymlinks ? velktool::Replace::kInPlaceLinks
                                                           : velktool::Replace::kInPlace;
    if (!toStdout && !replacement.Begin(path, how, &error)) {
        Report(path, std::strerror(error));
        return false;
    }
    FILE* file = toStdout ? stdout : replacement.File();
    if (!write(file, &fault)) {
        if (fault.message.empty()) {
            Report(path, std::strerror(errno));
        } else {
            Report(DisplayName(input), fault);
        }
        return false;
    }
    if (toStdout) return FinishStandardOutput();
    if (replacement.Commit(&error)) return true;
    Report(path, std::strerror(error));
    return false;
}

// format and compact: read the document, write it to standard output, OUT or
// back into FILE. A form that is not checked before it is written goes out as
// it is made when its encoding allows.
int RunWrite(const Options& options) {
    const std::string input = options.files.empty() ? kStdinArg : options.files[0];
    const Reading reading = ReadingFor(options, true);
    Source source;
    Fault fault;
    if (!LoadDocument(input, reading, &source, &fault)) {
        Report(DisplayName(input), fault);
        return kFailed;
    }
    if (!Verified(reading) && velktool::IsUtf8OrAscii(source.encoding)) {
        Release(&source.text);
        const auto stream = [&](FILE* file, Fault* fault) {
            return StreamForm(source, options.command, file, fault);
        };
        return Emit(options, input, stream) ? kOk : kFailed;
    }
    std::string head, body;
    if (!WrittenForm(&source, reading, options.command, &head, &body, &fault)) {
        Report(DisplayName(input), fault);
        return kFailed;
    }
    const auto write = [&head, &body](FILE* file, Fault*) {
        std::fwrite(head.data(), 1, head.size(), file);
        std::fwrite(body.data(), 1, body.size(), file);
        return !std::ferror(file);
    };
    return Emit(options, input, write) ? kOk : kFailed;
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

// Reading a whole file, and replacing a file's content so that it holds either
// its old or its complete new bytes.
#ifndef VELK_TOOL_FILES_H
#define VELK_TOOL_FILES_H

#include <string>

namespace velktool {

// Reads the whole of path ("-" for standard input) into bytes; on failure
// *error is the errno that says why.
bool ReadWhole(const std::string& path, std::string* bytes, int* error);

// How a rewrite treats the file it replaces.
enum class Replace {
    kNewFile,       // -o: a symbolic link is written through; a new file gets the usual mode
    kInPlace,       // -i: the file becomes a new regular file with the owner, group and mode
                    // of the old one; a symbolic link is replaced, a hard link broken
    kInPlaceLinks,  // -i --follow-symlinks: as kInPlace, but a symbolic link stays and
                    // the file it leads to is replaced
};

// Writes head and then body into a temporary file beside path and renames it
// over path. On failure path is untouched, nothing is left behind and *error
// is the errno that says why.
bool ReplaceFile(const std::string& path, Replace how, const std::string& head,
                 const std::string& body, int* error);

}  // namespace velktool

#endif  // VELK_TOOL_FILES_H

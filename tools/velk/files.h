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

// The new content of a file, written into a temporary file beside it that is
// renamed over it once complete, so that the file holds either its old or its
// complete new bytes. Dropped without Commit, the temporary file goes.
class Replacement {
public:
    Replacement() = default;
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement();

    // Creates the temporary file for path; on failure *error says why.
    bool Begin(const std::string& path, Replace how, int* error);
    // Where the new content goes.
    FILE* File() const { return file; }
    // Gives the new file what the old one had, and puts it in the old one's
    // place; on failure *error says why, and the old file stays.
    bool Commit(int* error);

private:
    std::string target;     // the file replaced
    std::string temporary;  // the new content
    FILE* file = nullptr;
};

}  // namespace velktool

#endif  // VELK_TOOL_FILES_H

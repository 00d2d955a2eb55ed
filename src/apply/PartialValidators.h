// The validators of the downloads into the staging folder (the server's Last-Modified of each),
// for the Range and If-Range of a later try that goes on with a partial file. All validators of
// a staging folder are lines of one file in it, "partial-validators": "<staged name>\t<validator>",
// appended when a download begins, the last line of a name counting. So a download creates and
// deletes no file besides its partial file (on many file systems each created and deleted file
// makes the next creation in that folder slower); a line whose partial file is gone is never
// read, and the file goes when no partial file is left.
#pragma once

#include <string>

class CPartialValidators {
public:
    // Appends the validator of the download into staged (a path in the staging folder). False
    // when it could not be written, or holds a line end: a later try then fetches the whole file.
    static bool Record(const std::string& staged, const std::string& validator);
    // The validator last recorded for staged, else the "<staged>.part.lm" file that an earlier
    // version wrote beside its partial file; empty when there is none.
    static std::string Find(const std::string& staged);
    // Removes the validators of the staging folder when no partial file is left there that a
    // later try could go on with (as each partial file's own validator went with it).
    static void DropUnused(const std::string& stagingFolder);
};

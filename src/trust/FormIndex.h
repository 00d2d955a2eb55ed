// The smaller forms a release store keeps of its objects, and the index that tells a
// workstation which exist without a request per item.
//
// Beside "objects/ab/<hash>" the store may hold "objects/ab/<hash>.zst" (the object
// compressed with zstd) and "patches/ab/<hash>/<from>.zst" (the object as a zstd patch made
// with the object <from> as its reference). The index is "forms/<sha256 of the index>.txt";
// the signed list names it in its head as "#forms=<sha256>,<size>", so that a workstation
// checks it as it checks every object. Index lines: "<hash>,z,<size>,<sha256 of the form>"
// and "<hash>,p,<from>,<size>,<sha256 of the form>". Plain readers take the head line as a
// comment and never see the rest.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CFormsRef {
    std::string strHash; // of the index, lower-case hex
    std::int64_t nSize = 0;
};

// A list's SHA-256 column as the store names objects: lower-case hex.
std::string ObjectHashKey(std::string sha256);

// The "#forms=" line of a list's head; false when there is none or it is malformed.
bool ReadFormsRef(const std::string& listBytes, CFormsRef& ref);
// The head line, with its line end.
std::string FormsRefLine(const CFormsRef& ref);
// Below the store root: the index, the compressed copy and the patch.
std::string FormsIndexPath(const std::string& indexHash);
std::string CompressedFormPath(const std::string& objectHash);
std::string PatchFormPath(const std::string& objectHash, const std::string& fromHash);

struct CObjectForm {
    bool bPatch = false;
    std::string strFrom; // a patch's reference object
    std::int64_t nSize = 0;
    std::string strHash; // of the form's own bytes
    std::string Path(const std::string& objectHash) const;
};

class CFormIndex {
public:
    // False with the reason when a line is malformed (nothing is kept then).
    bool Parse(const std::string& text, std::string& why);
    void Add(const std::string& objectHash, const CObjectForm& form);
    // The forms of an object, compressed copy first, then patches; null when it has none.
    const std::vector<CObjectForm>* Of(const std::string& objectHash) const;
    bool Empty() const { return m_forms.empty(); }
    std::string Text() const;

private:
    std::map<std::string, std::vector<CObjectForm>> m_forms;
};

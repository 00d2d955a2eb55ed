#include "trust/FormIndex.h"

#include "trust/SignedList.h"

#include <algorithm>
#include <sstream>

namespace {

const std::string kFormsKey = "#forms=";

bool IsHash(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool ReadSize(const std::string& text, std::int64_t& n) {
    if (text.empty() || text.size() > 15 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    n = std::stoll(text);
    return true;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        fields.push_back(field);
    return fields;
}

// One index line into hash and form; false when it is not one.
bool ParseLine(const std::string& line, std::string& hash, CObjectForm& form) {
    const std::vector<std::string> f = Fields(line);
    form = CObjectForm{};
    if (f.size() == 4 && f[1] == "z") {
        hash = f[0];
        return IsHash(f[0]) && ReadSize(f[2], form.nSize) && IsHash(form.strHash = f[3]);
    }
    if (f.size() == 5 && f[1] == "p") {
        hash = f[0];
        form.bPatch = true;
        form.strFrom = f[2];
        return IsHash(f[0]) && IsHash(f[2]) && ReadSize(f[3], form.nSize) &&
               IsHash(form.strHash = f[4]);
    }
    return false;
}

} // namespace

std::string ObjectHashKey(std::string sha256) {
    for (char& c : sha256)
        c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return sha256;
}

bool ReadFormsRef(const std::string& listBytes, CFormsRef& ref) {
    for (const std::string& line : ListHeadLines(listBytes)) {
        if (line.compare(0, kFormsKey.size(), kFormsKey) != 0)
            continue;
        const std::vector<std::string> f = Fields(line.substr(kFormsKey.size()));
        return f.size() == 2 && IsHash(ref.strHash = f[0]) && ReadSize(f[1], ref.nSize);
    }
    return false;
}

std::string FormsRefLine(const CFormsRef& ref) {
    return kFormsKey + ref.strHash + "," + std::to_string(ref.nSize) + "\n";
}

std::string FormsIndexPath(const std::string& indexHash) {
    return "forms/" + indexHash + ".txt";
}

std::string CompressedFormPath(const std::string& objectHash) {
    return "objects/" + objectHash.substr(0, 2) + "/" + objectHash + ".zst";
}

std::string PatchFormPath(const std::string& objectHash, const std::string& fromHash) {
    return "patches/" + objectHash.substr(0, 2) + "/" + objectHash + "/" + fromHash + ".zst";
}

std::string CObjectForm::Path(const std::string& objectHash) const {
    return bPatch ? PatchFormPath(objectHash, strFrom) : CompressedFormPath(objectHash);
}

bool CFormIndex::Parse(const std::string& text, std::string& why) {
    m_forms.clear();
    std::istringstream in(text);
    std::string hash;
    CObjectForm form;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (!ParseLine(line, hash, form)) {
            why = "the forms index line \"" + line.substr(0, 200) + "\" is malformed";
            m_forms.clear();
            return false;
        }
        Add(hash, form);
    }
    return true;
}

void CFormIndex::Add(const std::string& objectHash, const CObjectForm& form) {
    std::vector<CObjectForm>& forms = m_forms[objectHash];
    forms.push_back(form);
    std::stable_sort(forms.begin(), forms.end(), [](const CObjectForm& a, const CObjectForm& b) {
        return !a.bPatch && b.bPatch;
    });
}

const std::vector<CObjectForm>* CFormIndex::Of(const std::string& objectHash) const {
    const auto found = m_forms.find(objectHash);
    return found == m_forms.end() ? nullptr : &found->second;
}

std::string CFormIndex::Text() const {
    std::string text;
    for (const auto& [hash, forms] : m_forms) {
        for (const CObjectForm& form : forms) {
            const std::string size = std::to_string(form.nSize);
            text += form.bPatch ? hash + ",p," + form.strFrom + "," + size + "," + form.strHash
                                : hash + ",z," + size + "," + form.strHash;
            text += "\n";
        }
    }
    return text;
}

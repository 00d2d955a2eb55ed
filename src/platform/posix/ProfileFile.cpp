// Settings files on POSIX: UTF-8 text read and written with the rules of the Windows
// profile-string functions, so that one file gives the same answers on both platforms.
//
// Parsing rules, as Windows applies them:
// - '\r' and '\n' each end a line; blanks (space, tab, VT, FF and the DOS end-of-file mark
//   0x1A) around a line, a name or a value do not count; lines of blanks are skipped.
// - A line starting with '[' and holding a ']' names a section: the text up to its last ']'.
//   Any other line is a key, with a value when it holds a '=' (split at the first one).
// - There is no comment syntax: ";x=1" and "#x=1" are keys named ";x" and "#x", which never
//   meet the names a program asks for.
// - Keys before the first section header belong to the section named "".
// - Only the first section of a name is searched, and in it the first key of a name counts,
//   even when that key has no '=' (the lookup then gives the default).
// - Names compare without case for ASCII letters only; a NUL byte ends a name or a value.
// - A UTF-8 byte-order mark at the start of the file is skipped and kept when writing.
#include "platform/ProfileFile.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/posix/ErrnoMap.h"
#include "platform/posix/ProfileValues.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

namespace plat {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kNewFileLineEnd = "\r\n"; // as Windows writes new files

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Windows passes names and values as C strings, so nothing after a NUL byte exists for it.
std::string_view CutAtNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// A value in matching single or double quotes loses them; a lone quote stays.
std::string_view StripQuotes(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// The default loses its trailing spaces (other blanks stay), though never its first
// character, and then its quotes, as Windows treats it.
std::string_view DefaultValue(std::string_view s) {
    s = CutAtNul(s);
    std::size_t n = s.size();
    while (n > 1 && s[n - 1] == ' ')
        --n;
    return StripQuotes(s.substr(0, n));
}

struct Line {
    enum Kind { kBlank, kSection, kKey };
    Kind kind = kBlank;
    std::size_t begin = 0;                 // first byte of the line
    std::size_t end = 0;                   // one past the last byte before the line end
    std::size_t next = 0;                  // first byte of the following line
    std::string_view name;                 // section or key name, trimmed
    std::optional<std::string_view> value; // trimmed; none for a key without '='
};

// A parsed view of the file's text; the views point into the text given.
class IniText {
public:
    explicit IniText(std::string_view text) : m_text(text) {
        if (m_text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            m_bodyStart = kByteOrderMark.size();
        for (std::size_t pos = m_bodyStart; pos < m_text.size();)
            pos = ParseLine(pos);
    }

    // Lines [first, last) of the first section of that name; the section named "" is the
    // part before the first header. False when no such section exists.
    bool FindSection(std::string_view name, std::size_t& first, std::size_t& last) const {
        name = Trim(CutAtNul(name));
        std::size_t header = kNone;
        if (!name.empty()) {
            for (std::size_t i = 0; i < m_lines.size() && header == kNone; ++i) {
                if (m_lines[i].kind == Line::kSection && SameName(m_lines[i].name, name))
                    header = i;
            }
            if (header == kNone)
                return false;
        }
        first = header == kNone ? 0 : header + 1;
        last = first;
        while (last < m_lines.size() && m_lines[last].kind != Line::kSection)
            ++last;
        return true;
    }

    // Index of the first key of that name among lines [first, last), or kNone.
    std::size_t FindKey(std::size_t first, std::size_t last, std::string_view name) const {
        name = Trim(CutAtNul(name));
        for (std::size_t i = first; i < last; ++i) {
            if (m_lines[i].kind == Line::kKey && SameName(m_lines[i].name, name))
                return i;
        }
        return kNone;
    }

    const Line& At(std::size_t i) const { return m_lines[i]; }
    std::size_t BodyStart() const { return m_bodyStart; }

    // The line end of the file's first line, or CR LF for a file without any.
    std::string_view LineEnd() const {
        for (const Line& line : m_lines) {
            if (line.next > line.end)
                return m_text.substr(line.end, line.next - line.end);
        }
        return kNewFileLineEnd;
    }

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

private:
    std::size_t ParseLine(std::size_t pos) {
        Line line;
        line.begin = pos;
        line.end = m_text.find_first_of("\r\n", pos);
        if (line.end == std::string_view::npos)
            line.end = m_text.size();
        line.next = line.end;
        if (line.next < m_text.size()) {
            const bool crlf = m_text[line.next] == '\r' && line.next + 1 < m_text.size() &&
                              m_text[line.next + 1] == '\n';
            line.next += crlf ? 2 : 1;
        }
        const std::string_view content = Trim(m_text.substr(pos, line.end - pos));
        const std::size_t close = content.rfind(']');
        if (content.empty()) {
            line.kind = Line::kBlank;
        } else if (content.front() == '[' && close != std::string_view::npos) {
            line.kind = Line::kSection;
            line.name = Trim(CutAtNul(content.substr(1, close - 1)));
        } else {
            line.kind = Line::kKey;
            const std::size_t eq = content.find('=');
            line.name = CutAtNul(Trim(content.substr(0, eq)));
            if (eq != std::string_view::npos)
                line.value = CutAtNul(Trim(content.substr(eq + 1)));
        }
        m_lines.push_back(line);
        return line.next;
    }

    std::string_view m_text;
    std::size_t m_bodyStart = 0;
    std::vector<Line> m_lines;
};

// Whole file; false with the reason in LastErrorCode() when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text) {
    std::FILE* fp = OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    char buf[1 << 14];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        text.append(buf, n);
    const bool failed = std::ferror(fp) != 0;
    const int err = errno;
    std::fclose(fp);
    if (failed) {
        SetLastErrorCode(WindowsErrorFromErrno(err, path));
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    std::FILE* fp = OpenFile(path, "wb");
    if (fp == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
    int err = errno;
    const bool closed = std::fclose(fp) == 0;
    if (written && !closed)
        err = errno;
    if (!written || !closed) {
        SetLastErrorCode(WindowsErrorFromErrno(err, path));
        return false;
    }
    return true;
}

// The new text of the file after setting key=value in section. Names and the value are
// given as Windows stores them: leading blanks dropped, trailing blanks kept.
std::string WithKeySet(const std::string& text, std::string_view section, std::string_view key,
                       std::string_view value) {
    const IniText ini(text);
    const std::string_view eol = ini.LineEnd();
    std::string entry(key);
    entry += '=';
    entry += value;

    std::size_t first = 0;
    std::size_t last = 0;
    if (!ini.FindSection(section, first, last)) {
        std::string out = text;
        if (out.size() > ini.BodyStart() && out.back() != '\n' && out.back() != '\r')
            out += eol;
        out += '[';
        out += section;
        out += ']';
        out += eol;
        out += entry;
        out += eol;
        return out;
    }

    const std::size_t found = ini.FindKey(first, last, key);
    if (found != IniText::kNone) {
        const Line& line = ini.At(found);
        std::string replaced(line.name); // the file's spelling of the name stays
        replaced += '=';
        replaced += value;
        std::string out = text;
        out.replace(line.begin, line.end - line.begin, replaced);
        return out;
    }

    // A new key follows the section's last entry, ahead of any blank lines that part it
    // from the next section.
    std::size_t at = first == 0 ? ini.BodyStart() : ini.At(first - 1).next;
    bool needsLineEnd = first > 0 && ini.At(first - 1).next == ini.At(first - 1).end;
    for (std::size_t i = first; i < last; ++i) {
        if (ini.At(i).kind != Line::kBlank) {
            at = ini.At(i).next;
            needsLineEnd = ini.At(i).next == ini.At(i).end;
        }
    }
    std::string insert = needsLineEnd ? std::string(eol) : std::string();
    insert += entry;
    insert += eol;
    std::string out = text;
    out.insert(at, insert);
    return out;
}

} // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t maxBytes) {
    std::string value(DefaultValue(defaultValue));
    std::string text;
    if (ReadWholeFile(path, text)) {
        const IniText ini(text);
        std::size_t first = 0;
        std::size_t last = 0;
        if (ini.FindSection(section, first, last)) {
            const std::size_t found = ini.FindKey(first, last, key);
            if (found != IniText::kNone && ini.At(found).value)
                value = std::string(StripQuotes(*ini.At(found).value));
        }
    }
    if (maxBytes == 0)
        return std::string();
    value.resize(Utf8FitLength(value, maxBytes - 1));
    return value;
}

int ReadProfileValues(const std::string& path, const std::string& section,
                      const std::vector<std::string>& keys,
                      std::map<std::string, std::string>& values) {
    values.clear();
    std::string text;
    if (!ReadWholeFile(path, text)) {
        const int err = LastErrorCode();
        return err == kErrFileNotFound || err == kErrPathNotFound ? 0 : -1;
    }
    const IniText ini(text);
    std::size_t first = 0;
    std::size_t last = 0;
    if (!ini.FindSection(section, first, last))
        return 0;
    for (const std::string& key : keys) {
        const std::size_t found = ini.FindKey(first, last, key);
        if (found != IniText::kNone && ini.At(found).value)
            values[key] = std::string(StripQuotes(*ini.At(found).value));
    }
    return 0;
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    FileStatus status;
    if (GetFileStatus(path, status) && status.bFolder) {
        SetLastErrorCode(kErrAccessDenied);
        return false;
    }
    std::string text;
    if (!ReadWholeFile(path, text)) {
        if (LastErrorCode() != kErrFileNotFound)
            return false;
        text.clear();
    }
    return WriteWholeFile(path, WithKeySet(text, TrimLeft(CutAtNul(section)),
                                           TrimLeft(CutAtNul(key)), TrimLeft(CutAtNul(value))));
}

} // namespace plat

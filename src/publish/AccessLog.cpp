#include "publish/AccessLog.h"

#include "trust/SignedList.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The field from pos to the next blank, pos then after that blank; false for an empty field or
// one the line ends in.
bool Token(const std::string& line, std::size_t& pos, std::string& field) {
    const std::size_t end = line.find(' ', pos);
    if (end == std::string::npos || end == pos)
        return false;
    field = line.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

// The quoted field at pos with Apache's \" and \\ taken back; pos then after its closing quote.
bool Quoted(const std::string& line, std::size_t& pos, std::string& field) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    field.clear();
    for (std::size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
            ++i;
        field += line[i];
    }
    return false;
}

// "09/Dec/2026:08:00:00 +0900": the time in UTC and the zone it was written in.
bool ParseLogTime(const std::string& text, std::int64_t& t, int& nZoneMinutes) {
    static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' ||
        text[14] != ':' || text[17] != ':' || text[20] != ' ' ||
        (text[21] != '+' && text[21] != '-'))
        return false;
    const std::size_t month = kMonths.find(text.substr(3, 3));
    const std::string zone = text.substr(22, 4);
    if (month == std::string::npos || month % 3 != 0 || !AllDigits(zone))
        return false;
    char monthDigits[3];
    std::snprintf(monthDigits, sizeof monthDigits, "%02d", static_cast<int>(month / 3 + 1));
    const std::string digits = text.substr(7, 4) + monthDigits + text.substr(0, 2) +
                               text.substr(12, 2) + text.substr(15, 2) + text.substr(18, 2);
    const int nHours = std::stoi(zone.substr(0, 2));
    const int nMinutes = std::stoi(zone.substr(2, 2));
    if (nHours > 14 || nMinutes > 59 || !UtcTimeFromDigits(digits, t))
        return false;
    nZoneMinutes = (text[21] == '-' ? -1 : 1) * (nHours * 60 + nMinutes);
    t -= std::int64_t{nZoneMinutes} * 60;
    return true;
}

// "METHOD target" or "METHOD target protocol"; anything else (a probe's bytes, "-") is no
// request, and leaves both empty.
void SplitRequest(const std::string& request, CAccessLogLine& parsed) {
    const std::size_t first = request.find(' ');
    if (first == std::string::npos || first == 0)
        return;
    const std::size_t second = request.find(' ', first + 1);
    const std::size_t targetEnd = second == std::string::npos ? request.size() : second;
    if (targetEnd == first + 1 ||
        (second != std::string::npos &&
         (second + 1 == request.size() || request.find(' ', second + 1) != std::string::npos)))
        return;
    parsed.strMethod = request.substr(0, first);
    parsed.strTarget = request.substr(first + 1, targetEnd - first - 1);
}

struct CGzClose {
    void operator()(gzFile file) const { gzclose(file); }
};

// Cuts the bytes read into lines, holding back the part of a line not read yet.
class CLineSplitter {
public:
    using OnLine = std::function<void(const std::string& line, bool bWhole)>;
    explicit CLineSplitter(const OnLine& onLine) : m_onLine(onLine) {}

    void Add(const char* data, std::size_t size) {
        for (std::size_t pos = 0; pos < size;) {
            const char* end = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
            const std::size_t n =
                end == nullptr ? size - pos : static_cast<std::size_t>(end - (data + pos));
            if (m_bWhole && m_strLine.size() + n <= kMaxAccessLogLine + 1)
                m_strLine.append(data + pos, n);
            else
                m_bWhole = false;
            pos += n;
            if (end != nullptr) {
                ++pos;
                Flush();
            }
        }
    }
    // The last line, when the file does not end in a line end.
    void Finish() {
        if (!m_strLine.empty() || !m_bWhole)
            Flush();
    }

private:
    void Flush() {
        if (!m_strLine.empty() && m_strLine.back() == '\r')
            m_strLine.pop_back();
        const bool bWhole = m_bWhole && m_strLine.size() <= kMaxAccessLogLine;
        m_onLine(bWhole ? m_strLine : std::string(), bWhole);
        m_strLine.clear();
        m_bWhole = true;
    }

    const OnLine& m_onLine;
    std::string m_strLine;
    bool m_bWhole = true;
};

std::string ReadError(const std::string& path, gzFile file) {
    int nError = Z_OK;
    const char* message = gzerror(file, &nError);
    if (nError == Z_ERRNO)
        message = std::strerror(errno);
    else if (nError == Z_BUF_ERROR)
        message = "the compressed data ends early";
    return "cannot read " + path + ": " + message;
}

} // namespace

bool ParseAccessLogLine(const std::string& line, CAccessLogLine& parsed) {
    std::size_t pos = 0;
    std::string field;
    if (!Token(line, pos, field) || !Token(line, pos, field) || !Token(line, pos, field) ||
        line.compare(pos, 1, "[") != 0)
        return false;
    const std::size_t timeEnd = line.find("] ", pos);
    if (timeEnd == std::string::npos ||
        !ParseLogTime(line.substr(pos + 1, timeEnd - pos - 1), parsed.tTime, parsed.nZoneMinutes))
        return false;
    pos = timeEnd + 2;
    std::string request;
    std::string status;
    std::string bytes;
    if (!Quoted(line, pos, request) || line.compare(pos, 1, " ") != 0 ||
        !Token(line, ++pos, status) || status.size() != 3 || !AllDigits(status) ||
        !Token(line, pos, bytes) || (bytes != "-" && !AllDigits(bytes)) ||
        !Quoted(line, pos, field) || line.compare(pos, 1, " ") != 0 ||
        !Quoted(line, ++pos, field) || (pos != line.size() && line[pos] != ' '))
        return false;
    parsed.strMethod.clear();
    parsed.strTarget.clear();
    SplitRequest(request, parsed);
    return true;
}

bool ReadAccessLog(const std::string& path,
                   const std::function<void(const std::string& line, bool bWhole)>& onLine,
                   std::string& why) {
    errno = 0;
    const std::unique_ptr<gzFile_s, CGzClose> file(gzopen(path.c_str(), "rb"));
    if (!file) {
        why = "cannot read " + path + ": " +
              (errno != 0 ? std::strerror(errno) : "not enough memory");
        return false;
    }
    CLineSplitter lines(onLine);
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const int n = gzread(file.get(), buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0) {
            why = ReadError(path, file.get());
            return false;
        }
        if (n == 0)
            break;
        lines.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    int nError = Z_OK;
    gzerror(file.get(), &nError);
    if (nError != Z_OK) {
        why = ReadError(path, file.get());
        return false;
    }
    lines.Finish();
    return true;
}

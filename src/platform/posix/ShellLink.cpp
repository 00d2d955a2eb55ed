// POSIX shortcuts: freedesktop desktop entries whose Exec line starts the target, a Windows
// program through wine.
#include "platform/ShellLink.h"
#include "platform/posix/Fd.h"
#include "platform/posix/WindowsProgram.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/posix/ErrnoMap.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

constexpr int kNotSaved = -3;
constexpr mode_t kLauncherMode = 0755; // desktops start only launchers that are executable
constexpr char kGroupHeader[] = "[Desktop Entry]";
constexpr char kWine[] = "wine";

// A temporary file that is deleted unless it was moved into place.
class TempFile {
public:
    explicit TempFile(std::string path) : m_path(std::move(path)) {}
    ~TempFile() {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

bool FailErrno(const std::string& path) {
    SetLastErrorCode(WindowsErrorFromErrno(errno, path));
    return false;
}

// The words of a Windows command-line tail as the Windows C runtime splits it: blanks and tabs
// separate words outside double quotes; backslashes are literal except before a quote, where
// 2n of them give n and the quote opens or closes quoting, and 2n+1 give n and a literal quote.
std::vector<std::string> SplitWindowsArguments(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool bInWord = false;
    bool bQuoted = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (!bQuoted && (c == ' ' || c == '\t')) {
            if (bInWord)
                words.push_back(word);
            word.clear();
            bInWord = false;
            ++i;
            continue;
        }
        bInWord = true;
        if (c == '\\') {
            std::size_t n = 0;
            for (; i < text.size() && text[i] == '\\'; ++i)
                ++n;
            if (i < text.size() && text[i] == '"') {
                word.append(n / 2, '\\');
                if (n % 2 == 1) {
                    word += '"';
                    ++i;
                }
            } else {
                word.append(n, '\\');
            }
        } else if (c == '"') {
            bQuoted = !bQuoted;
            ++i;
        } else {
            word += c;
            ++i;
        }
    }
    if (bInWord)
        words.push_back(word);
    return words;
}

bool IsExecEscaped(char c) {
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

// One argument of an Exec value: "%" doubled so that it is no field code, and the whole argument
// in double quotes, with '"', '`', '$' and '\' escaped, when it holds a reserved character.
std::string ExecArgument(const std::string& word) {
    const bool bQuote =
        word.empty() || word.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string out;
    if (bQuote)
        out += '"';
    for (const char c : word) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (bQuote && IsExecEscaped(c))
            out += '\\';
        out += c;
    }
    if (bQuote)
        out += '"';
    return out;
}

// The escapes of a desktop-entry string value. They apply to Exec on top of its quoting, so a
// quoted backslash is written as four.
std::string EscapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == ' ' && i == 0)
            out += "\\s"; // readers drop the blanks after "="
        else
            out += c;
    }
    return out;
}

std::string UnescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        default:
            out += '\\';
            out += value[i];
            break;
        }
    }
    return out;
}

// The arguments of an unescaped Exec value with quoting undone and "%%" made "%" again; false
// when a quote is left open.
bool SplitExec(const std::string& exec, std::vector<std::string>& words) {
    std::string word;
    bool bInWord = false;
    bool bQuoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (!bQuoted && (c == ' ' || c == '\t')) {
            if (bInWord)
                words.push_back(word);
            word.clear();
            bInWord = false;
            continue;
        }
        bInWord = true;
        if (c == '"') {
            bQuoted = !bQuoted;
        } else if (bQuoted && c == '\\' && i + 1 < exec.size() && IsExecEscaped(exec[i + 1])) {
            word += exec[++i];
        } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            word += '%';
            ++i;
        } else {
            word += c;
        }
    }
    if (bQuoted)
        return false;
    if (bInWord)
        words.push_back(word);
    return true;
}

// The file name of path without its extension.
std::string EntryName(const std::string& path) {
    const std::size_t sep = LastSepPos(path);
    std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether path is already a launcher (a regular executable file, not a link) holding text.
bool HoldsLauncher(const std::string& path, const std::string& text) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & 07777) != kLauncherMode || st.st_size != static_cast<off_t>(text.size()))
        return false;
    std::string held(text.size(), '\0');
    std::size_t done = 0;
    while (done < held.size()) {
        const ssize_t n = ::read(fd.get(), &held[done], held.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return held == text;
}

// Writes text to a new executable file beside path and moves it over path, so that path holds
// either its old contents or all of the new ones. A launcher that already holds text is left
// as it is: a run that changes nothing writes nothing (and waits for no disk).
bool WriteLauncher(const std::string& path, const std::string& text) {
    if (HoldsLauncher(path, text))
        return true;
    const std::size_t sep = LastSepPos(path);
    std::string tempPath = (sep == std::string::npos ? std::string() : path.substr(0, sep + 1)) +
                           ".kestrel-link-XXXXXX";
    Fd fd(::mkostemp(&tempPath[0], O_CLOEXEC));
    if (fd.get() < 0)
        return FailErrno(tempPath);
    TempFile temp(tempPath);
    if (!WriteAll(fd.get(), text) || ::fchmod(fd.get(), kLauncherMode) != 0 ||
        ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0)
        return FailErrno(path);
    if (!ReplaceFileWith(tempPath, path))
        return false;
    temp.Keep();
    return true;
}

} // namespace

const char* ShortcutExtension() {
    return ".desktop";
}

int CreateShortcut(const std::string& linkPath, const std::string& target,
                   const std::string& arguments) {
    std::string exec = IsWindowsProgram(target) ? std::string(kWine) + " " : std::string();
    exec += ExecArgument(target);
    for (const std::string& word : SplitWindowsArguments(arguments))
        exec += " " + ExecArgument(word);
    std::string text = std::string(kGroupHeader) + "\n";
    text += "Type=Application\n";
    text += "Name=" + EscapeValue(EntryName(linkPath)) + "\n";
    text += "Exec=" + EscapeValue(exec) + "\n";
    text += "Terminal=false\n";
    return WriteLauncher(linkPath, text) ? 0 : kNotSaved;
}

std::string ReadShortcutTarget(const std::string& linkPath) {
    std::ifstream in(linkPath, std::ios::binary);
    bool bInGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            bInGroup = line == kGroupHeader;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!bInGroup || equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        if (key != "Exec")
            continue;
        const std::size_t value = line.find_first_not_of(' ', equals + 1);
        std::vector<std::string> words;
        if (value == std::string::npos || !SplitExec(UnescapeValue(line.substr(value)), words) ||
            words.empty())
            return std::string();
        return words.size() > 1 && words[0] == kWine ? words[1] : words[0];
    }
    return std::string();
}

} // namespace plat

#include "publish/Rules.h"

#include "publish/TreeScan.h"
#include "updatelist/StringUtil.h"

namespace {

std::string Backslashes(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

bool Match(const char* p, const char* s) {
    for (; *p != '\0'; ++p, ++s) {
        if (p[0] == '*' && p[1] == '*') {
            for (const char* rest = s;; ++rest) {
                if (Match(p + 2, rest))
                    return true;
                if (*rest == '\0')
                    return false;
            }
        }
        if (*p == '*') {
            for (const char* rest = s;; ++rest) {
                if (Match(p + 1, rest))
                    return true;
                if (*rest == '\0' || *rest == '/')
                    return false;
            }
        }
        if (*s == '\0' || (*p == '?' ? *s == '/' : *p != *s))
            return false;
    }
    return *s == '\0';
}

} // namespace

bool ParseRules(const std::string& text, std::vector<CPublishRule>& rules, std::string& error) {
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#' || line[0] == '!')
            continue;
        std::vector<std::string> fields;
        SplitString(fields, ",", line);
        if (fields.empty())
            continue;
        if (fields.size() < 3 || fields.size() > 4) {
            error = "line " + std::to_string(number) +
                    ": a rule is pattern, class, type and optionally the local path";
            return false;
        }
        CPublishRule rule;
        rule.strPattern = fields[0];
        rule.strClass = TrimWhite(ToUpperAscii(fields[1]));
        rule.strType = TrimWhite(ToUpperAscii(fields[2]));
        rule.strLocal = fields.size() == 4 ? fields[3] : std::string();
        if (rule.strType.compare(0, 3, "DEL") == 0) {
            error = "line " + std::to_string(number) + ": a file of the tree cannot be DEL";
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

bool MatchPattern(const std::string& pattern, const std::string& path) {
    return Match(pattern.c_str(), path.c_str());
}

void ApplyRules(const std::vector<CPublishRule>& rules, const std::string& treePath,
                std::string& strClass, std::string& strType, std::string& strLocal) {
    strClass = "APP";
    strType = "FILE";
    strLocal = Backslashes(treePath);
    for (const CPublishRule& rule : rules) {
        if (!MatchPattern(rule.strPattern, treePath))
            continue;
        strClass = rule.strClass;
        strType = rule.strType;
        if (!rule.strLocal.empty()) {
            const std::size_t slash = treePath.rfind('/');
            const std::string name =
                slash == std::string::npos ? treePath : treePath.substr(slash + 1);
            strLocal =
                Replace(Replace(rule.strLocal, "{path}", Backslashes(treePath)), "{name}", name);
        }
        return;
    }
}

bool LoadRules(const std::string& path, std::vector<CPublishRule>& rules, std::string& why) {
    if (path.empty())
        return true;
    std::string text;
    if (!ReadAll(path, text)) {
        why = "cannot read the rules file " + path;
        return false;
    }
    if (ParseRules(text, rules, why))
        return true;
    why = path + ", " + why;
    return false;
}

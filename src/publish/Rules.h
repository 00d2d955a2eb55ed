// The rules file of the publishing tool: what a new file of the tree becomes in the list.
// One rule per line, in the list file's own field syntax: pattern, class, type and optionally
// the local path; lines starting with "#" or "!" are comments. The first rule whose pattern
// matches the file's tree path wins ("*" and "?" stay within a folder, "**" crosses folders).
// In the local path, "{path}" stands for the tree path (with "\") and "{name}" for the file
// name. Without a matching rule a file is APP, FILE, at its tree path.
//   fonts/*.ttf,APP,FNT,_FONTS\{name}
//   system/**,SYS,FILE,%SystemDir%\{path}
//   **.reg,APP,REF
#pragma once

#include <string>
#include <vector>

struct CPublishRule {
    std::string strPattern;
    std::string strClass;
    std::string strType;
    std::string strLocal; // empty: the tree path
};

// The rules of text; false with the line number and reason in error for a line that is not
// a rule.
bool ParseRules(const std::string& text, std::vector<CPublishRule>& rules, std::string& error);

// The rules of the rules file at path (none when path is empty); false with the reason.
bool LoadRules(const std::string& path, std::vector<CPublishRule>& rules, std::string& why);

// True when pattern matches path (both with "/").
bool MatchPattern(const std::string& pattern, const std::string& path);

// Class, type and local path (with "\") of the tree path by the rules.
void ApplyRules(const std::vector<CPublishRule>& rules, const std::string& treePath,
                std::string& strClass, std::string& strType, std::string& strLocal);

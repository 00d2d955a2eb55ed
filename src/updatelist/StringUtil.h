// String helpers shared by the list-file parser, the HTTP date parser and the download loop.
#pragma once

#include <string>
#include <vector>

// Appends the fields of text to fields. Every character of separators separates; empty
// fields between separators are not produced. A field may be quoted with double quotes:
// inside, separators are ordinary text and a backslash makes the next byte ordinary (both
// stay in the field); a quoted field is produced even when empty. A quote outside quotes
// ends the field before it; an unterminated quotation runs to the end of the text.
void SplitString(std::vector<std::string>& fields, const std::string& separators,
                 const std::string& text);

// The decimal digits of text, in order.
std::string ExtractDigits(const std::string& text);

// number with "," between groups of three characters counted from the right ("1234567" gives
// "1,234,567"); the characters are not checked. Returns 0.
int FormatWithCommas(const std::string& number, std::string& result);

// The total bar's text for item n of nCount: "n / nCount  (p%)", p as printf's "%3.1lf" writes
// n * 100.0 / nCount, computed in whole numbers (the bar changes for every item of a run).
std::string TotalProgressText(int n, int nCount);

// ASCII letters upper-cased; other bytes (Korean among them) unchanged.
std::string ToUpperAscii(std::string text);

// text without white space (blank, tab, CR, LF, VT, FF) at either end.
std::string TrimWhite(const std::string& text);

// text with every occurrence of from replaced by to (exact, case-sensitive).
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

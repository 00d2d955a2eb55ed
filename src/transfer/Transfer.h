// What the HTTP operations of the engine share.
#pragma once

#include "platform/HttpClient.h"

#include <cstddef>
#include <string>

// The Accept header of every request, ending with nullptr.
extern const char* const kAcceptTypes[];

// Longest error text the log and the status list take from a transport error, in bytes.
inline constexpr std::size_t kHttpErrorTextMax = 511;

// The error's message, cut to kHttpErrorTextMax bytes at a character boundary.
std::string HttpErrorText(const plat::CHttpError& error);

// Writes one level-2 line per redirect the request followed, with its location.
void LogRedirects(const plat::CHttpRequest& request, const char* pszWho);

// The temporary file beside target that a download writes until it is complete.
std::string DownloadTempPath(const std::string& target);

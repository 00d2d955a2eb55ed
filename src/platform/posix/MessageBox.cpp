// POSIX message boxes: the text on standard error, answered with the default button.
#include "platform/MessageBox.h"

#include <cstdio>

namespace plat {

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType) {
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return DefaultMessageBoxAnswer(nType);
}

} // namespace plat

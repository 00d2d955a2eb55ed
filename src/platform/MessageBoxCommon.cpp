#include "platform/MessageBox.h"

namespace plat {

int DefaultMessageBoxAnswer(unsigned nType) {
    if ((nType & 0xF) == kMbYesNo)
        return (nType & 0xF00) == kMbDefButton2 ? kIdNo : kIdYes;
    return kIdOk;
}

} // namespace plat

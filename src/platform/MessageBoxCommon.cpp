#include "platform/MessageBox.h"

namespace plat {

int DefaultMessageBoxAnswer(unsigned nType) {
    constexpr unsigned kYesNo = 0x4;
    constexpr unsigned kDefButton2 = 0x100;
    constexpr int kIdOk = 1;
    constexpr int kIdYes = 6;
    constexpr int kIdNo = 7;
    if ((nType & 0xF) == kYesNo)
        return (nType & 0xF00) == kDefButton2 ? kIdNo : kIdYes;
    return kIdOk;
}

} // namespace plat

#include "ui/SyncView.h"

int DefaultMessageBoxAnswer(unsigned nType) {
    const bool bYesNo = (nType & 0xF) == kMbYesNo;
    const bool bSecond = (nType & 0xF00) == kMbDefButton2;
    if (bYesNo)
        return bSecond ? kIdNo : kIdYes;
    return kIdOk;
}

int CNullSyncView::ShowMessageBox(const std::string&, const std::string&, unsigned nType) {
    return DefaultMessageBoxAnswer(nType);
}

#include "ui/SyncView.h"

int CNullSyncView::ShowMessageBox(const std::string&, const std::string&, unsigned nType) {
    return plat::DefaultMessageBoxAnswer(nType);
}

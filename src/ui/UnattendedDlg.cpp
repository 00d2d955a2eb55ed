#include "ui/UnattendedDlg.h"

#include "diag/MyLog.h"

void CUnattendedDlg::AddStatusRow(int nKind, const std::string& text) {
    if (nKind == kStatusError || nKind == kStatusNormal)
        WriteLog(g_pMyLog, nKind == kStatusError ? 3 : 2, "CUnattendedDlg> %s", text.c_str());
}

int CUnattendedDlg::ShowMessageBox(const std::string& text, const std::string&, unsigned nType) {
    const bool bQuestion = (nType & 0x0F) == kMbYesNo;
    WriteLog(g_pMyLog, 3, "CUnattendedDlg> Not Shown (Answered %s) : %s", bQuestion ? "No" : "OK",
             text.c_str());
    return bQuestion ? kIdNo : kIdOk;
}

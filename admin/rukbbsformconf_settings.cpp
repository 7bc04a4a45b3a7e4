// CRukBBSFormConf: reading and changing settings files. A change reads the
// file afresh and writes it under one hold of the site lock, so that a
// save made meanwhile by another request is never lost; a board's
// settings are read under the lock too, and an address stored by an older
// version that is unsafe in an attribute stays out of the pages.
#include "rukbbsformconf.h"

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukfile.h"

CRukString CRukBBSFormConf::BoardSettingsPath() const
{
    return BoardFile(m_strBBSID);
}

// Nothing below may open the site lock again while it is held.
int CRukBBSFormConf::UpdateSettings(const char* pPath,
                                    const std::function<bool(CRukConfig&)>& change,
                                    CRukConfig* pResult)
{
    CRukFlock lock;
    if (lock.Lock(nullptr) != 0)
        return -2;
    CRukConfig cf(true);
    if (cf.ReadFile(pPath, false) < 0)
        return Exists(pPath) ? -2 : -1;
    if (change(cf) && cf.WriteFile(pPath, false) < 0)
        return -3;
    if (pResult)
        *pResult = std::move(cf);
    return 0;
}

void CRukBBSFormConf::RequireUpdate(const char* pPath, const char* pMissingKey,
                                    const char* pWriteKey,
                                    const std::function<bool(CRukConfig&)>& change,
                                    CRukConfig* pResult)
{
    int r = UpdateSettings(pPath, change, pResult);
    if (r == -1)
        MessageKey(pMissingKey);
    if (r == -3)
        MessageKey(pWriteKey);
    if (r != 0)
        MessageKey(kMsgBusy);
}

// A held lock or a missing file ends the request.
void CRukBBSFormConf::ReadBoardSettings()
{
    int r = m_cfBBS.ReadFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey(kMsgBusy);
    if (r == -1)
        MessageKey(kMsgNoSuchBoard);
    for (ERukBoardKey nKey : {kBoardSkinUrl, kBoardStyleSheet})
        if (!IsSafeUrlText(CRukSettingKeys::Text(m_cfBBS, nKey)))
            CRukSettingKeys::Set(m_cfBBS, nKey, "");
    m_strSkinDir = CRukSettingKeys::Text(m_cfBBS, kBoardSkinDir);
    m_strSkinUrl = CRukSettingKeys::Text(m_cfBBS, kBoardSkinUrl);
}

CRukString AsCode(const CRukString& stored)
{
    if (stored.IsEmpty() || !CRukCrypt::Verify(stored.GetText(), stored.GetText()))
        return stored;
    return CRukCrypt::Hash(stored.GetText());
}

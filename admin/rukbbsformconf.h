// CRukBBSFormConf: the administration program's front end. It renders the
// login page, the system settings page with the board registry, a board's
// settings and icon pages and its old-log page, and runs the actions that
// change those settings, the registry and the old logs. Every refusal ends
// the request through the base's message page.
#ifndef RUKBBSFORMCONF_H
#define RUKBBSFORMCONF_H

#include "rukbbsformbase.h"
#include "rukform.h"

class CRukBBSFormConf : public CRukBBSFormBase {
public:
    CRukBBSFormConf() = default;
    ~CRukBBSFormConf() override = default;

    // --- pages
    void LoginForm(CRukForm& form);
    // bShowPasswd: the administrator's password was checked in this
    // request, so the default board password may be shown.
    void ConfigSysForm(CRukForm& form, bool bShowPasswd = false);
    void ConfigBBSForm(CRukForm& form);
    void ConfigIcoForm(CRukForm& form);
    void ConfigOldForm(CRukForm& form);

    // --- actions, each ending with its page
    void SubmitPasswd(CRukForm& form);
    void SubmitLogin(CRukForm& form);
    void SubmitAdd(CRukForm& form);
    void SubmitDel(CRukForm& form);
    void SubmitSys(CRukForm& form);
    void SubmitConfig(CRukForm& form);
    void SubmitIcon(CRukForm& form);
    void SubmitKako(CRukForm& form);
    // No button and a board id: the board's settings, icon or old-log page.
    void ShowBoard(CRukForm& form);

    // Applies the system keys fmode666 and fmode777 to go's file and
    // directory modes.
    void ApplySystemModes();
    // Parses an octal permission mode (up to 0777); false leaves nMode.
    static bool ParseMode(const char* pText, int& nMode);

    // The settings file of the current board.
    CRukString BoardSettingsPath() const;
    // True when the data directory pDataDir holds the working directory,
    // the board registry, a skin or the administration templates.
    bool IsSiteInside(const char* pDataDir, const char* pSkinDir) const;

private:
    void ReadBoardSettings();
    void CheckAdminPasswd(CRukForm& form);
    void CheckBoardPasswd(CRukForm& form);
    void KakoNew(CRukForm& form, const CRukString& strDataDir, const CRukString& strOld);
    void KakoDiv(CRukForm& form, const CRukString& strOld);
    void KakoMerge(CRukForm& form, const CRukString& strOld);
    void KakoDel(CRukForm& form, const CRukString& strOld);
    void KakoRename(CRukForm& form, const CRukString& strOld);
    void MoveThreads(const CRukString& strSrc, int nSkip, int nHalf, const CRukString& strDst,
                     const CRukString& strMakeOld);
};

#endif

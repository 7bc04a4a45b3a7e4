// CRukBBSFormConf: the system settings page with the board list, and the
// action that saves the system settings: every row of the system table
// that the page shows, each saved by its kind. Only the administrator's
// session comes here.
#include "rukbbsformconf.h"

#include <cstdlib>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukdir.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The choices of the permission mode selects, and what each allows (the
// same for a file mode and its directory mode).
static const char* const s_rgFileModes[] = {"666", "606", "600"};
static const char* const s_rgDirModes[] = {"777", "707", "700"};
static const char* const s_rgModeTexts[] = {
    "\x81i\x82\xb7\x82\xd7\x82\xc4\x93\xc7\x82\xdd\x8f\x91\x82\xab\x89\xc2\x81j",  // （すべて読み書き可）
    "\x81i\x83O\x83\x8b\x81[\x83v\x88\xc8\x8aO\x82\xcd\x93\xc7\x82\xdd\x8f\x91\x82\xab"
    "\x89\xc2\x81j",  // （グループ以外は読み書き可）
    "\x81i\x8f\x8a\x97L\x8e\xd2\x82\xcc\x82\xdd\x93\xc7\x82\xdd\x8f\x91\x82\xab\x89\xc2"
    "\x81j",  // （所有者のみ読み書き可）
};

// The select of each mode row: its id, its choices and the mode in force.
static const struct {
    ERukSystemKey nKey;
    const char* pId;
    const char* const* pModes;
    int* pMode;
} s_rgModeSelects[] = {
    {kSysFileMode, "sys_fmode", s_rgFileModes, &go.m_nFileMode},
    {kSysDirMode, "sys_dmode", s_rgDirModes, &go.m_nDirMode},
};

// The mode in force that a mode row sets.
static int& ModeInForce(const SRukSettingKey& row)
{
    for (const auto& m : s_rgModeSelects)
        if (m.nKey == row.nKey)
            return *m.pMode;
    return go.m_nFileMode;  // not reached: every mode row has its select
}

// Builds a permission mode select with the mode in force marked.
static CRukString BuildModeSelect(const char* pName, const char* pId, const char* const* pModes,
                                  int nCurrent)
{
    CRukString out;
    out.Format("<select id=\"%s\" name=%s>\n", pId, pName);
    for (size_t i = 0; i < 3; i++) {
        bool bSelected = static_cast<int>(strtol(pModes[i], nullptr, 8)) == nCurrent;
        CRukString line;
        line.Format("<option value=%s%s>%s%s</option>\n", pModes[i], bSelected ? " selected" : "",
                    pModes[i], s_rgModeTexts[i]);
        out += line;
    }
    out += "</select>\n";
    return out;
}

// The registered boards: the names of the registry's settings files.
static CRukStrAry RegisteredBoards()
{
    CRukStrAry files;
    int n = CRukDir::GetFileNameList(files, s_pRegistry, false, true);
    go.m_log.Trace("-- %s filenum=%d", s_pRegistry, n);
    files.Sort(0);
    CRukStrAry boards;
    for (int i = 0; i < files.GetSize(); i++) {
        CRukStrPath path;
        path.Split(files[i].GetText());
        if (path.GetExt() == ".conf" && CRukBBSFormBase::IsSafeName(path.GetTitle().GetText()))
            boards.Add(path.GetTitle());
    }
    return boards;
}

// The rows of the board list: one of the marked pattern per board, with
// its id and title.
static CRukString BoardRows(const CRukBBSFormBase& page, const CRukString& pattern,
                            const CRukStrAry& boards)
{
    CRukString rows;
    for (int i = 0; i < boards.GetSize(); i++) {
        CRukConfig cf(true);
        CRukString path = BoardFile(boards[i]);
        if (cf.ReadFile(path.GetText(), false) < 0)
            go.m_log.Trace("-- %s cannot be read", path.GetText());
        rows += page.FillWithCommon(
            pattern, {{"%ROW_BID%", boards[i], true},
                      {"%ROW_TITLE%", CRukSettingKeys::Text(cf, kBoardTitle), true}});
    }
    return rows;
}

// The system settings page with the board list.
void CRukBBSFormConf::ConfigSysForm(CRukForm& form)
{
    (void)form;
    m_strTitle = CRukSettingKeys::Text(m_cfSystem, kSysTitle);
    CRukString page = ReadTemplate((m_strConfDir + "templ_config_sys.html").GetText());
    CRukStrAry boards = RegisteredBoards();
    CRukString rows = BoardRows(*this, CutPattern(page, "TR_BOARD", "%BOARD_ROWS%"), boards);
    KeepBlock(page, "ASK_DEL", !m_strAskBoard.IsEmpty());
    KeepBlock(page, "BOARDS", boards.GetSize() > 0);
    KeepBlock(page, "NO_BOARDS", boards.GetSize() == 0);
    CRukTagList tags = {{"%BOARD_ROWS%", rows, false, true},
                        {"%SELECT_BBS%", BuildSelect("bid", boards, m_strBBSID), true, true}};
    for (const auto& m : s_rgModeSelects) {
        const SRukSettingKey& row = CRukSettingKeys::Row(m.nKey);
        tags.push_back({row.pPageTag, BuildModeSelect(row.pName, m.pId, m.pModes, *m.pMode),
                        false, true});
    }
    if (!m_strAskBoard.IsEmpty()) {
        const char* pQuestion = m_bAskBoardData ? kMsgAskRemoveBoardWithData : kMsgAskRemoveBoard;
        tags.push_back({"%ASK_TEXT%", CatalogueLine(pQuestion, {{"%ID%", m_strAskBoard}}), false,
                        true});
        tags.push_back({"%ASK_BBSID%", m_strAskBoard});
        tags.push_back({"%ASK_DATA%", m_bAskBoardData ? "1" : ""});
    }
    AddRowTags(tags, CRukSettingKeys::System(), m_cfSystem);
    WriteAdminPage(page, tags);
}

// ---------------------------------------------------------------------------
// Saving the system settings

// What the system page typed, checked before anything is written.
struct SSystemTyped {
    CRukString code;      // the new default board password's code, or empty
    CRukString mailFrom;  // one address, or empty
    CRukString siteUrl;   // the checked address, or empty
};

// Stores the value the system page sent for one row of the system table.
// A mode that is no mode leaves the stored one; an empty default board
// password leaves the stored code (a plain one of an older installation
// becomes a code).
static void SaveSystemRow(const SRukSettingKey& row, const CRukForm& form,
                          const SSystemTyped& typed, CRukConfig& cf)
{
    CRukString value = form.Value(row.pName);
    switch (row.nKind) {
    case ERukSettingKind::Mode:
        if (!value.IsEmpty() && !CRukBBSFormBase::ParseMode(value.GetText(), ModeInForce(row)))
            return;
        break;
    case ERukSettingKind::Line: value.Trim(); break;
    case ERukSettingKind::Code: {
        CRukString stored = cf.Value(row.pName);
        value = typed.code.IsEmpty() ? AsCode(stored) : typed.code;
        if (value.IsEmpty() && stored.IsEmpty())
            return;
        break;
    }
    case ERukSettingKind::Number: value = CRukSettingKeys::Clamped(row, value, cf); break;
    case ERukSettingKind::Mail: value = typed.mailFrom; break;
    case ERukSettingKind::SiteUrl: value = typed.siteUrl; break;
    default: break;  // text, markup and switches as sent
    }
    cf.SetAt(row.pName, value.GetText());
}

// Saves the system settings with their numbers clamped, each limit
// before the numbers it bounds. A typed default board password (twice) is
// stored as a code; left empty it stays.
void CRukBBSFormConf::SubmitSys(CRukForm& form)
{
    CRukString passwd = form.Value("passwd");
    if (passwd != form.Value("passwd2"))
        MessageKey(kMsgPasswordMismatch);
    SSystemTyped typed;
    typed.mailFrom = Trimmed(form, CRukSettingKeys::Row(kSysMailFrom).pName);
    if (!typed.mailFrom.IsEmpty() && !IsOneAddress(typed.mailFrom.GetText()))
        MessageKey(kMsgBadMailFrom);
    CRukString siteText = Trimmed(form, CRukSettingKeys::Row(kSysSiteUrl).pName);
    typed.siteUrl = SiteUrl(siteText.GetText());
    if (!siteText.IsEmpty() && typed.siteUrl.IsEmpty())
        MessageKey(kMsgBadAddress);
    typed.code = CRukCrypt::Hash(passwd.GetText());

    RequireUpdate(s_pSystemFile, kMsgBusy, kMsgNotWritten, [&](CRukConfig& cf) {
        for (const SRukSettingKey& row : CRukSettingKeys::System())
            if (row.pPageTag && row.nKind != ERukSettingKind::Login)
                SaveSystemRow(row, form, typed, cf);
        return true;
    }, &m_cfSystem);
    Notice(kMsgSystemSaved);
}

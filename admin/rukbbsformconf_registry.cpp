// CRukBBSFormConf: the board registry: adding a board, with the system
// defaults and the posting limits of the board table's rows, its password
// and, when asked, its data directory; removing one, when asked with its
// data and icons, after a confirming second POST. Only the
// administrator's session comes here.
#include "rukbbsformconf.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukcrypt.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The board id the registry form names, or the end of the request: it
// names a settings file, so it must be a plain name.
CRukString CRukBBSFormConf::RequireBoardIdField(const CRukForm& form)
{
    m_strBBSID.Free();
    CRukString bbsid = form.Value("bbsid");
    if (bbsid.IsEmpty())
        MessageKey(kMsgNoBoardId);
    if (!IsSafeName(bbsid.GetText()))
        MessageKey(kMsgBadName);
    return bbsid;
}

// The password code of a new board: the typed password (twice), or, left
// empty, the default board password's code; without either the board
// could never be opened, so it is refused.
CRukString CRukBBSFormConf::RequireNewBoardCode(const CRukForm& form)
{
    CRukString passwd = form.Value("passwd");
    if (passwd != form.Value("passwd2"))
        MessageKey(kMsgPasswordMismatch);
    CRukString code = passwd.IsEmpty()
                          ? AsCode(CRukSettingKeys::Text(m_cfSystem, kSysBoardPasswd))
                          : CRukCrypt::Hash(passwd.GetText());
    if (code.IsEmpty())
        MessageKey(kMsgNoPassword);
    return code;
}

// Creates an empty file unless one is there: 1 created, 0 there already,
// -1 failed.
static int CreateEmptyFile(const CRukString& path)
{
    int fd = open(path.GetText(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, go.m_nFileMode);
    if (fd < 0)
        return errno == EEXIST ? 0 : -1;
    if (close(fd) != 0 || chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
        go.m_log.Trace("-- %s: mode not set", path.GetText());
    return 1;
}

// What is made with a new board, and undone when the board cannot be
// written.
struct CRukBBSFormConf::SNewBoard {
    CRukString code;     // the board password's code
    CRukString datadir;  // "data/BOARD/" when asked for, else empty
    bool bMadeDir = false;
    CRukString ngfile;   // "data/BOARD.ng"
    int nNg = 0;         // 1 made here, 0 there already, -1 failed

    void Undo() const
    {
        if (nNg > 0 && unlink(ngfile.GetText()) != 0)
            go.m_log.Trace("-- unlink(%s) failed", ngfile.GetText());
        if (bMadeDir && rmdir(datadir.GetText()) != 0)
            go.m_log.Trace("-- rmdir(%s) failed", datadir.GetText());
    }
};

// The data directory of a new board when the form asks for it: made
// here, or one that was left behind and belongs to no other board.
void CRukBBSFormConf::MakeNewDataDir(const CRukString& bbsid, SNewBoard& board)
{
    board.datadir = m_strDataDir + bbsid + "/";
    board.bMadeDir = MakeDir(board.datadir);
    if (!board.bMadeDir && !IsDirectory(board.datadir))
        MessageKey(kMsgSettingsNotWritten);
    CRukString resolved;
    if (!RealPath(board.datadir.GetText(), resolved) || IsOtherBoardsDir(resolved)) {
        board.Undo();
        MessageKey(kMsgDataDirRefused);
    }
}

// The settings of a new board, in the order of the board table: each row
// a new board gets, with the value its source gives.
CRukConfig CRukBBSFormConf::NewBoardSettings(const SNewBoard& board) const
{
    CRukConfig conf(true);
    for (const SRukSettingKey& row : CRukSettingKeys::Board()) {
        CRukString value = row.pDefault;
        switch (row.nNew) {
        case ERukNewValue::None: continue;
        case ERukNewValue::Fixed: break;
        case ERukNewValue::System: {
            CRukString system = m_cfSystem.Value(row.pName);
            if (!system.IsEmpty())
                value = system;
            break;
        }
        case ERukNewValue::Code: value = board.code; break;
        case ERukNewValue::DataDir: value = board.datadir; break;
        case ERukNewValue::SkinDir: value = m_strSkinDir; break;
        case ERukNewValue::SkinUrl: value = m_strSkinUrl; break;
        case ERukNewValue::NgFile: value = board.ngfile; break;
        }
        conf.SetAt(row.pName, value.GetText());
    }
    return conf;
}

// Registers a new board; its NG-word file is created empty. A refusal
// leaves nothing behind.
void CRukBBSFormConf::SubmitAdd(CRukForm& form)
{
    CRukString bbsid = RequireBoardIdField(form);
    CRukString path = BoardFile(bbsid);
    if (CRukFile::GetFileSize(path.GetText()) > 0)
        MessageKey(kMsgBoardExists);
    SNewBoard board;
    board.code = RequireNewBoardCode(form);
    m_strBBSID = bbsid;  // other boards are those of other ids
    // Logins left from an earlier board of this id (its settings file
    // removed by hand) must not open the new one.
    if (m_session.EndScope(bbsid.GetText(), time(nullptr)) != 0)
        MessageKey(kMsgBusy);
    if (form.Data("datadir_make"))
        MakeNewDataDir(bbsid, board);
    board.ngfile = m_strDataDir + bbsid + ".ng";
    board.nNg = CreateEmptyFile(board.ngfile);

    int r = board.nNg < 0 ? -1 : NewBoardSettings(board).WriteFile(path.GetText(), true);
    if (r < 0) {
        board.Undo();
        MessageKey(r == -2 ? kMsgBusy : kMsgSettingsNotWritten);
    }
    if (chmod(path.GetText(), static_cast<mode_t>(go.m_nFileMode)) != 0)
        go.m_log.Trace("-- chmod(%s) failed", path.GetText());
    Notice(kMsgBoardAdded, {{"%ID%", bbsid}});
}

// Removes a board's settings file and every session of the board; when
// asked, also its data directory, which must be the board's own below
// data/ (a board whose data lies elsewhere is removed without it), and its
// uploaded icons. Everything is checked first; then, unless the form
// carries the confirmation, the system page asks and nothing is removed.
void CRukBBSFormConf::SubmitDel(CRukForm& form)
{
    CRukString bbsid = RequireBoardIdField(form);
    m_strBBSID = bbsid;
    CRukString path = BoardSettingsPath();
    ReadBoardSettings();
    CRukString datadir = CRukSettingKeys::Text(m_cfBBS, kBoardDataDir);
    go.m_log.Trace("submit_del -- DataDir(%s)", datadir.GetText());
    bool bWithData = !form.Value("datadir_del").IsEmpty();
    SBoardData data;
    if (bWithData && !datadir.IsEmpty())
        data = RequireRemovableData(datadir);
    m_strBBSID.Free();
    if (form.Value("confirm") != "1") {
        m_strAskBoard = bbsid;
        m_bAskBoardData = bWithData;
        return;
    }

    if (m_session.EndScope(bbsid.GetText(), time(nullptr)) != 0)
        MessageKey(kMsgBusy);
    if (!data.own.IsEmpty() && !RemoveTree(data.own))
        MessageKey(kMsgBusy);
    CRukString link = CRukStrPath::Normalize(datadir.GetText());
    if (data.bLink && unlink(link.GetText()) != 0)
        go.m_log.Trace("-- unlink(%s) failed", link.GetText());
    if (unlink(path.GetText()) != 0 && errno != ENOENT)
        MessageKey(kMsgSettingsNotWritten);
    // The icons are the board's own; a directory that stays is traced.
    // No closing "/": a link there goes itself, its target stays.
    CRukString icons = IconDir(bbsid);
    if (bWithData)
        (void)RemoveTree(icons.Left(icons.GetLength() - 1));
    Notice(bWithData ? kMsgBoardRemovedWithData : kMsgBoardRemoved, {{"%ID%", bbsid}});
}

// What goes with the data: the directory the path resolves to, and the
// path itself when it is a link inside data/. A path that is not there
// has nothing to remove when it names a place below data/; any other
// place ends the request.
CRukBBSFormConf::SBoardData CRukBBSFormConf::RequireRemovableData(const CRukString& datadir)
{
    SBoardData data;
    struct stat st;
    if (lstat(datadir.GetText(), &st) == 0) {
        data.own = OwnDataDir(datadir);
        if (data.own.IsEmpty())
            MessageKey(kMsgDataDirRefused);
        data.bLink = S_ISLNK(st.st_mode) && !DataRelativePath(datadir.GetText()).IsEmpty();
    } else if (DataRelativePath(datadir.GetText()).IsEmpty()) {
        MessageKey(kMsgDataDirRefused);
    }
    return data;
}

// CRukBBSFormMain: the files of a post. An uploaded file is stored under
// a name made from the one the browser sent, and only when its extension
// is on the allow-list and the post stays within the board's size limit;
// an edit may remove stored attachments by their boxes.
#include "rukbbsformmain.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "rukbbsformmain_post.h"
#include "rukbbsformmain_shared.h"
#include "rukglobal.h"
#include "rukpostfilter.h"

// The only extensions an attachment may have, compared without regard to
// case: kinds a web server serves as plain files and a browser never runs
// as the site's own page or script. Everything else is refused. The web
// server configurations serve the same list.
static const char* const s_rgAttachExt[] = {
    // pictures
    "jpg", "jpeg", "png", "gif", "webp", "avif", "bmp", "heic", "heif",
    // documents
    "pdf", "txt",
    // archives
    "zip", "lzh", "7z", "gz", "tgz", "bz2", "xz", "tar", "rar",
    // audio
    "mp3", "m4a", "aac", "wav", "ogg", "oga", "flac", "opus",
    // video
    "mp4", "m4v", "mov", "webm", "ogv",
};

// The longest stem (the name before its extension) an attachment keeps.
static const int s_nStemMax = 64;

static bool IsAllowedAttachExt(const char* pExt)
{
    for (const char* pAllowed : s_rgAttachExt)
        if (strcasecmp(pExt, pAllowed) == 0)
            return true;
    return false;
}

// The name an uploaded file is stored under, made from the name the
// browser sent; false when it is refused. The extension must be on the
// list; a name ending in "." or a blank is refused (servers and systems
// drop those, so "x.php." could become "x.php"). The stem keeps ASCII
// letters, digits, "_" and "-"; every other character (blanks, kanji,
// further dots, which some servers read as more extensions) becomes "_",
// with runs of "_" made one and none at the ends. A stem left without
// letters or digits becomes "file"; a long one is cut. The extension is
// stored in lower case.
static bool MakeAttachName(const CRukString& sent, CRukString& stored)
{
    const char* pName = sent.GetText();
    int nDot = -1;
    int nLast = -1;
    for (int i = 0; pName[i]; i += CRukPostFilter::CharLength(pName + i)) {
        nLast = i;
        if (pName[i] == '.')
            nDot = i;
    }
    if (nLast < 0 || pName[nLast] == '.' || isspace(static_cast<unsigned char>(pName[nLast])) ||
        strcmp(pName + nLast, s_pFiller) == 0)
        return false;
    if (nDot < 0 || !IsAllowedAttachExt(pName + nDot + 1))
        return false;

    std::string stem;
    bool bWord = false;
    for (int i = 0, n; i < nDot && static_cast<int>(stem.size()) < s_nStemMax; i += n) {
        n = CRukPostFilter::CharLength(pName + i);
        unsigned char c = static_cast<unsigned char>(pName[i]);
        if (n == 1 && c < 0x80 && (isalnum(c) || c == '-')) {
            stem += static_cast<char>(c);
            bWord = bWord || isalnum(c);
        } else if (!stem.empty() && stem.back() != '_') {
            stem += '_';
        }
    }
    while (!stem.empty() && stem.back() == '_')
        stem.pop_back();
    if (!bWord)
        stem = "file";
    for (const char* p = pName + nDot; *p; p++)
        stem += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    stored = stem.c_str();
    return true;
}

// Adds an attachment of one post to its map under name, or, when another
// field of the same post took that name, under "stem-2.ext", "stem-3.ext"...
static void AddAttachName(CRukStrMap& attach, const CRukString& name, const CRukString& thread)
{
    if (attach.Add(name.GetText(), thread.GetText()) >= 0)
        return;
    // A stored name is ASCII with one dot, before its extension.
    int nDot = name.Find(".");
    CRukString stem = name.Left(nDot);
    CRukString ext = name.Mid(nDot);
    for (int n = 2;; n++) {
        CRukString numbered;
        numbered.Format("%s-%d%s", stem.GetText(), n, ext.GetText());
        if (attach.Add(numbered.GetText(), thread.GetText()) >= 0)
            return;
    }
}


// The stored attachments an edit removes: those whose box "delattachN"
// (N the place in the stored list) was ticked.
CRukStrAry RemovedAttachments(CRukForm& form, const CRukBBSData& stored)
{
    CRukStrAry removed;
    for (int i = 0; i < stored.attach.GetSize(); i++) {
        CRukString field;
        field.Format("delattach%d", i);
        if (!form.Value(field.GetText()).IsEmpty())
            removed.Add(stored.attach[i].m_strTag);
    }
    return removed;
}

// A size in KB as people read it: whole megabytes as "10MB", anything
// else as "500KB".
static CRukString SizeText(int nKB)
{
    CRukString text;
    if (nKB >= 1024 && nKB % 1024 == 0)
        text.Format("%dMB", nKB / 1024);
    else
        text.Format("%dKB", nKB);
    return text;
}

// The uploaded files of a post into rec's attachments (under the thread
// of rec as the form names it) and files, refused when over the board's
// size limit or of a kind not on the list.
void ReadAttachments(CRukBBSFormMain& bbs, CRukForm& form, CRukBBSData& rec,
                            CRukBufAry& files)
{
    int nKB = form.GetUploadTotal() / 1024;
    int nLimit = bbs.SettingNumber(kBoardAttachSize);
    go.m_log.Trace("Attach DataSizeTotal(%d)kb Upload Limit(%d)kb", nKB, nLimit);
    if (nKB > nLimit)
        bbs.MessageFill(kMsgAttachTooLarge, {{"%LIMIT%", SizeText(nLimit)}});
    // A board that turned attachments off (use_attach saved without "1")
    // stores no file, whatever a forged form sends; a board without the
    // setting takes them as it always did.
    bool bAttach = !CRukSettingKeys::Has(bbs.m_cfBBS, kBoardUseAttach) ||
                   CRukSettingKeys::IsChecked(bbs.m_cfBBS, kBoardUseAttach);
    int nMax = bAttach ? bbs.SettingNumber(kSysAttachMax) : 0;
    const CRukString& threadKey = rec.ppid.IsEmpty() ? rec.id : rec.ppid;
    for (int i = 0; i < nMax; i++) {
        CRukString field;
        field.Format("file%d", i);
        const CRukFormPair* pFile = form.Data(field.GetText());
        if (!pFile)
            continue;
        const CRukString& sent = pFile->m_data.m_strValue;
        CRukString blank = sent;
        blank.Trim();
        if (blank.IsEmpty())
            continue;  // a file field left empty
        CRukString name;
        if (!MakeAttachName(sent, name))
            bbs.MessageKey(kMsgAttachTypeRefused);
        AddAttachName(rec.attach, name, threadKey);
        files.Add(pFile->m_data.m_data);
    }
}

// CRukBBSFile: the attachment files of a message, in the directory of its
// thread (named by the thread root's id): written all or nothing, and
// removed with the directory once it is empty.
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsdata_impl.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"

using namespace rukbbsdata;

int CRukBBSFile::WriteAttachFile(const char* pDir, CRukStrMap& attach, CRukBufAry& files)
{
    if (attach.GetSize() == 0)
        return 0;
    const char* pThread = attach[0].m_data.GetText();
    if (!IsSafeName(pThread))
        return -1;
    for (const CRukStrPair& pair : attach)
        if (!IsSafeName(pair.m_strTag.GetText()))
            return -1;
    CRukString dir = CreateAttachPath(pDir, pThread);
    CRukStrAry made;
    if (!MakeDirectory(dir, made))
        return -1;
    CRukStrAry written;
    for (int i = 0; i < attach.GetSize(); i++) {
        CRukString path = dir + "/" + attach[i].m_strTag;
        go.m_log.Trace("----- CRukBBSFile::WriteAttachFile(%s)", path.GetText());
        const CRukBuffer* pData = files.GetAt(i);
        CRukFile file;
        if (file.WriteFile(path.GetText(), pData ? pData->GetData() : nullptr,
                           pData ? static_cast<int>(pData->GetSize()) : 0) < 0) {
            go.m_log.Trace("----- CRukBBSFile::WriteAttachFile(%s) failed", path.GetText());
            for (const CRukString& done : written)
                if (unlink(done.GetText()) != 0)
                    go.m_log.Trace("----- CRukBBSFile::WriteAttachFile unlink(%s) failed",
                                   done.GetText());
            RemoveMadeDirectories(made);
            return -1;
        }
        written.Add(path);
        if (chmod(path.GetText(), go.m_nFileMode) != 0)
            go.m_log.Trace("----- CRukBBSFile::WriteAttachFile chmod(%s) failed", path.GetText());
    }
    return 0;
}

int CRukBBSFile::DeleteAttachFile(const char* pDir, CRukStrMap& attach)
{
    if (attach.GetSize() == 0)
        return 0;
    const char* pThread = attach[0].m_data.GetText();
    bool bFailed = false;
    if (IsSafeName(pThread)) {
        CRukString dir = CreateAttachPath(pDir, pThread);
        for (const CRukStrPair& pair : attach) {
            CRukString path = dir + "/" + pair.m_strTag;
            go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile(%s)", path.GetText());
            if (!IsSafeName(pair.m_strTag.GetText()) || unlink(path.GetText()) != 0) {
                go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile(%s) failed", path.GetText());
                bFailed = true;
            }
        }
        CRukStrAry left;
        if (CRukDir::GetFileList(left, dir.GetText(), false, false) == 0 &&
            rmdir(dir.GetText()) != 0)
            go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile rmdir(%s) failed", dir.GetText());
    } else {
        go.m_log.Trace("----- CRukBBSFile::DeleteAttachFile: no thread directory (%s)", pThread);
        bFailed = true;
    }
    attach.RemoveAll();
    return bFailed ? -1 : 0;
}

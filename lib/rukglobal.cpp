#include "rukglobal.h"

CRukGlobal::CRukGlobal() : m_strSendmail("sendmail"), m_nFileMode(0666), m_nDirMode(0777), m_nLockWait(10000)
{
    m_env.GetEnv();
}

CRukGlobal go;

// CRukGlobal and go: the one process-wide object, built before main. It
// owns the trace log, the CGI environment, the mail command and the modes
// given to every file and directory the system creates.
#ifndef RUKGLOBAL_H
#define RUKGLOBAL_H

#include "rukenv.h"
#include "ruklog.h"
#include "rukstring.h"

class CRukGlobal {
public:
    CRukGlobal();
    virtual ~CRukGlobal() = default;

    CRukLog m_log;
    CRukEnv m_env;
    CRukString m_strSendmail;
    int m_nFileMode;
    int m_nDirMode;
    // How long a board lock waits for other requests, in milliseconds.
    int m_nLockWait;
};

extern CRukGlobal go;

#endif

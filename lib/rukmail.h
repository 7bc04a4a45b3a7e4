// CRukMail: turns a mail given as plain strings into an ISO-2022-JP message
// with MIME-encoded headers and hands it to the mail program (go's mail
// command followed by " -t").
#ifndef RUKMAIL_H
#define RUKMAIL_H

#include <string>

#include "rukary.h"
#include "rukbuffer.h"
#include "rukstring.h"

class CRukMailAttach {
public:
    CRukString m_strName;
    CRukBuffer m_data;
};

class CRukMail {
public:
    CRukString ToMIME(const char* pText);
    CRukString ToJIS(const char* pText);

    int Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
             const char* pSender, const char* pReplyTo, const char* pMessageId,
             const char* pReferences, const char* pSubject, const char* pBody);
    int Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
             const char* pSender, const char* pReplyTo, const char* pMessageId,
             const char* pReferences, const char* pSubject, const char* pBody,
             CRukAry<CRukMailAttach>& files);
    int Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
             const char* pSender, const char* pReplyTo, const char* pMessageId,
             const char* pReferences, const char* pSubject, const char* pBody,
             const char* pFileName, CRukBuffer& data);

private:
    // Appends the header lines both shapes share, Return-Path through
    // Subject, to out; false when the recipient is missing.
    bool MakeHeaders(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
                     const char* pSender, const char* pReplyTo, const char* pMessageId,
                     const char* pReferences, const char* pSubject, std::string& out);
    // The body as ISO-2022-JP, safe to hand to the mail program.
    std::string MakeBody(const char* pBody);
};

#endif

#include "rukmail.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "rukglobal.h"

namespace {

// The value without CR and LF, so that no visitor text can end a header
// line and start another one; bytes in pStrip are removed too.
CRukString OneLine(const char* pText, const char* pStrip = "")
{
    CRukString out;
    if (!pText)
        return out;
    const char* p = pText;
    while (*p) {
        size_t n = strcspn(p, pStrip);
        n = std::min(n, strcspn(p, "\r\n"));
        out.Append(p, static_cast<int>(n));
        p += n;
        if (*p)
            p++;
    }
    return out;
}

bool HasAt(const CRukString& text)
{
    return strchr(text.GetText(), '@') != nullptr;
}

void AppendLine(std::string& out, const char* pName, const CRukString& value)
{
    out += pName;
    out += value.GetText();
    out += '\n';
}

// Runs the mail program and writes the message to it. SIGPIPE is ignored
// meanwhile so that a program that exits without reading cannot kill the
// request. 0 when every byte was handed over, -1 otherwise; the program's
// exit status is not looked at.
int Deliver(const std::string& message)
{
    CRukString command = go.m_strSendmail + " -t";
    struct sigaction ignore, old;
    memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    bool bSignal = sigaction(SIGPIPE, &ignore, &old) == 0;
    int nResult = -1;
    FILE* fp = popen(command.GetText(), "w");
    if (fp) {
        size_t n = fwrite(message.data(), 1, message.size(), fp);
        if (fflush(fp) == 0 && n == message.size())
            nResult = 0;
        pclose(fp);
    } else {
        go.m_log.Trace("-- CRukMail cannot run [%s]", command.GetText());
    }
    if (bSignal)
        sigaction(SIGPIPE, &old, nullptr);
    return nResult;
}

}  // namespace

// Header text for mail: ISO-2022-JP in MIME encoded words, each line feed
// of the encoder turned into a folded continuation line.
CRukString CRukMail::ToMIME(const char* pText)
{
    go.m_log.Trace("MIME In : %s", pText ? pText : "");
    CRukString text(pText);
    text += "\n";
    CRukString out = CRukString::Nkf("-jM", text.GetText());
    if (!out.IsEmpty())
        out.Delete(out.GetLength() - 1);
    out.Replace("\n", "\n ", true);
    go.m_log.Trace("MIME Out: %s", out.GetText());
    return out;
}

// Body text for mail: ISO-2022-JP.
CRukString CRukMail::ToJIS(const char* pText)
{
    return CRukString::Nkf("-j", pText);
}

bool CRukMail::MakeHeaders(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
                           const char* pSender, const char* pReplyTo, const char* pMessageId,
                           const char* pReferences, const char* pSubject, std::string& out)
{
    CRukString to = OneLine(pTo);
    if (!pTo || !HasAt(to))
        return false;
    CRukString cc = OneLine(pCc), bcc = OneLine(pBcc), from = OneLine(pFrom);
    CRukString sender = OneLine(pSender), replyTo = OneLine(pReplyTo);
    CRukString messageId = OneLine(pMessageId), references = OneLine(pReferences);
    messageId.Trim();
    references.Trim();

    const CRukString* pPath = HasAt(sender) ? &sender : (HasAt(from) ? &from : nullptr);
    if (pPath) {
        CRukString path = ToMIME(pPath->GetText());
        AppendLine(out, "Return-Path: ", path);
        AppendLine(out, "Sender: ", path);
    }
    if (HasAt(from))
        AppendLine(out, "From: ", ToMIME(from.GetText()));
    AppendLine(out, "To: ", ToMIME(to.GetText()));
    if (HasAt(cc))
        AppendLine(out, "Cc: ", ToMIME(cc.GetText()));
    if (HasAt(bcc))
        AppendLine(out, "Bcc: ", ToMIME(bcc.GetText()));
    if (HasAt(replyTo))
        AppendLine(out, "Reply-To: ", ToMIME(replyTo.GetText()));
    if (!messageId.IsEmpty())
        AppendLine(out, "Message-Id: <", messageId + ">");
    if (!references.IsEmpty())
        AppendLine(out, "References: <", references + ">");
    AppendLine(out, "Subject: ", ToMIME(OneLine(pSubject).GetText()));
    return true;
}

// The body in ISO-2022-JP. A line holding only "." would end the message
// for the mail program, so it is sent as ". ".
std::string CRukMail::MakeBody(const char* pBody)
{
    CRukString jis = ToJIS(pBody);
    std::string out;
    const char* p = jis.GetText();
    while (*p) {
        const char* pEol = strchr(p, '\n');
        size_t n = pEol ? static_cast<size_t>(pEol - p) : strlen(p);
        out.append(p, n);
        if (n == 1 && p[0] == '.')
            out += ' ';
        if (!pEol)
            break;
        out += '\n';
        p = pEol + 1;
    }
    return out;
}

// Sends a plain text mail; -1 when the recipient is missing or the mail
// program cannot be given the message.
int CRukMail::Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
                   const char* pSender, const char* pReplyTo, const char* pMessageId,
                   const char* pReferences, const char* pSubject, const char* pBody)
{
    std::string message;
    if (!MakeHeaders(pTo, pCc, pBcc, pFrom, pSender, pReplyTo, pMessageId, pReferences, pSubject,
                     message))
        return -1;
    message += "MIME-Version: 1.0\n";
    message += "Content-Type: text/plain; charset=ISO-2022-JP\n";
    message += "Content-Transfer-Encoding: 7bit\n";
    message += "\n";
    if (pBody) {
        message += MakeBody(pBody);
        message += "\n";
    }
    return Deliver(message);
}

// Sends a multipart mail: the text, then each non-empty attachment in
// Base64.
int CRukMail::Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
                   const char* pSender, const char* pReplyTo, const char* pMessageId,
                   const char* pReferences, const char* pSubject, const char* pBody,
                   CRukAry<CRukMailAttach>& files)
{
    std::string message;
    if (!MakeHeaders(pTo, pCc, pBcc, pFrom, pSender, pReplyTo, pMessageId, pReferences, pSubject,
                     message))
        return -1;
    char szBoundary[64];
    snprintf(szBoundary, sizeof(szBoundary), "--MULTIPART--%lu",
             static_cast<unsigned long>(time(nullptr)));
    std::string delimiter = std::string("--") + szBoundary + "\n";

    message += "MIME-Version: 1.0\n";
    message += std::string("Content-Type: multipart/mixed; boundary=\"") + szBoundary + "\"\n";
    message += "Content-Transfer-Encoding: 7bit\n";
    message += "\n";
    message += delimiter;
    message += "Content-Type: text/plain; charset=ISO-2022-JP\n";
    message += "Content-Transfer-Encoding: 7bit\n";
    message += "\n";
    if (pBody) {
        message += MakeBody(pBody);
        message += "\n";
    }
    for (const CRukMailAttach& file : files) {
        if (file.m_data.IsEmpty())
            continue;
        // Quotes and backslashes would end or escape the quoted name.
        CRukString name = ToMIME(OneLine(file.m_strName.GetText(), "\"\\").GetText());
        CRukBuffer data(file.m_data);
        data.Base64Encode(76);
        message += delimiter;
        message += std::string("Content-Type: application/octet-stream; name=\"") +
                   name.GetText() + "\"\n";
        message += std::string("Content-Disposition: attachment; filename=\"") + name.GetText() +
                   "\"\n";
        message += "Content-Transfer-Encoding: base64\n";
        message += "\n";
        message.append(data.GetData(), data.GetSize());
        message += "\n";
    }
    message += std::string("--") + szBoundary + "--\n";
    return Deliver(message);
}

// Sends a mail with one attachment.
int CRukMail::Send(const char* pTo, const char* pCc, const char* pBcc, const char* pFrom,
                   const char* pSender, const char* pReplyTo, const char* pMessageId,
                   const char* pReferences, const char* pSubject, const char* pBody,
                   const char* pFileName, CRukBuffer& data)
{
    CRukAry<CRukMailAttach> files(0, 10);
    CRukMailAttach file;
    file.m_strName = pFileName;
    file.m_data = data;
    files.Add(std::move(file));
    return Send(pTo, pCc, pBcc, pFrom, pSender, pReplyTo, pMessageId, pReferences, pSubject, pBody,
                files);
}

// CRukMail: the mail as a whole: its address and id fields, the MIME
// frame around the body and the attachments, and the hand-over to the
// mail program. Header fields of text are encoded in rukmail_header.cpp,
// the body is folded and converted in rukmail_body.cpp.
#include "rukmail.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "rukglobal.h"
#include "rukmail_text.h"

using namespace rukmail;

namespace rukmail {

std::string WithoutControls(const char* pText, bool bKeepLines)
{
    std::string out;
    if (!pText)
        return out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pText); *p; p++) {
        unsigned char c = *p;
        if ((c == '\n' || c == '\t') && bKeepLines)
            out += static_cast<char>(c);
        else if (c == '\t' || c == '\n')
            out += ' ';
        else if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    }
    return out;
}

std::string Trimmed(const std::string& text)
{
    size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    size_t e = text.find_last_not_of(' ');
    return text.substr(b, e - b + 1);
}

}  // namespace rukmail

namespace {

// The pieces of a list, cut at cSep with the blanks around each dropped,
// that isValid accepts, joined by pJoin; the others are left out (and
// traced as not pWhat).
template <class FValid>
std::string ValidList(const char* pText, char cSep, const char* pJoin, FValid isValid,
                      const char* pWhat)
{
    std::string text = WithoutControls(pText, false), out;
    size_t b = 0;
    while (b <= text.size()) {
        size_t e = text.find(cSep, b);
        if (e == std::string::npos)
            e = text.size();
        std::string one = Trimmed(text.substr(b, e - b));
        if (isValid(one)) {
            if (!out.empty())
                out += pJoin;
            out += one;
        } else if (!one.empty()) {
            go.m_log.Trace("-- CRukMail: not %s, left out [%s]", pWhat, one.c_str());
        }
        b = e + 1;
    }
    return out;
}

// The valid addresses of a comma-separated list, joined by ", ".
std::string AddressList(const char* pText)
{
    return ValidList(pText, ',', ", ",
                     [](const std::string& one) { return CRukMail::IsAddress(one.c_str()); },
                     "an address");
}

// True for "<left@right>", both sides address characters.
bool IsMessageId(const std::string& id)
{
    if (id.size() < 5 || id.size() > 250 || id.front() != '<' || id.back() != '>')
        return false;
    std::string inner = id.substr(1, id.size() - 2);
    size_t at = inner.find('@');
    if (at == 0 || at == std::string::npos || at + 1 == inner.size() ||
        inner.find('@', at + 1) != std::string::npos)
        return false;
    for (unsigned char c : inner)
        if (c != '@' && !IsAlnum(c) && !strchr(kAtext, c))
            return false;
    return true;
}

// The valid ids of a blank-separated list, joined by blanks.
std::string MessageIdList(const char* pText)
{
    return ValidList(pText, ' ', " ", IsMessageId, "a message id");
}

// The RFC 5322 date of now in local time, written without the locale.
std::string DateText(time_t now)
{
    static const char* const s_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const s_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm t;
    if (!localtime_r(&now, &t))
        return "Thu, 01 Jan 1970 00:00:00 +0000";
    long nOffset = t.tm_gmtoff / 60;
    char sign = nOffset < 0 ? '-' : '+';
    if (nOffset < 0)
        nOffset = -nOffset;
    char sz[64];
    snprintf(sz, sizeof(sz), "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", s_days[t.tm_wday % 7],
             t.tm_mday, s_months[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
             sign, nOffset / 60, nOffset % 60);
    return sz;
}

// --- the mail and its delivery

// Hexadecimal text of n random bytes; without getrandom, of the clock and
// the process id, which still tell two mails of a process apart by a count.
std::string RandomHex(size_t n)
{
    std::vector<unsigned char> bytes(n);
    if (getrandom(bytes.data(), n, GRND_NONBLOCK) != static_cast<ssize_t>(n)) {
        static unsigned s_nCount = 0;
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        unsigned long long v = (static_cast<unsigned long long>(ts.tv_nsec) << 20) ^
                               static_cast<unsigned long long>(getpid()) ^ (++s_nCount * 0x9E37ULL);
        for (size_t i = 0; i < n; i++)
            bytes[i] = static_cast<unsigned char>((v >> (8 * (i % 8))) ^ ts.tv_sec);
    }
    static const char s_szHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += s_szHex[c >> 4];
        out += s_szHex[c & 15];
    }
    return out;
}

// Runs the mail program and writes the mail to it. SIGPIPE is ignored
// meanwhile so that a program that exits without reading cannot kill the
// request.
int Deliver(const std::string& message)
{
    CRukString command = go.m_strSendmail + " -t";
    struct sigaction ignore, old;
    memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    bool bSignal = sigaction(SIGPIPE, &ignore, &old) == 0;
    int nResult = CRukMail::NOT_DELIVERED;
    FILE* fp = popen(command.GetText(), "w");
    if (fp) {
        size_t n = fwrite(message.data(), 1, message.size(), fp);
        bool bWritten = fflush(fp) == 0 && n == message.size();
        int nStatus = pclose(fp);
        bool bExited = nStatus != -1 && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
        if (bWritten && bExited)
            nResult = CRukMail::SENT;
        else
            go.m_log.Trace("-- CRukMail [%s]: %s, status %d", command.GetText(),
                           bWritten ? "written" : "not read whole", nStatus);
    } else {
        go.m_log.Trace("-- CRukMail cannot run [%s]", command.GetText());
    }
    if (bSignal)
        sigaction(SIGPIPE, &old, nullptr);
    return nResult;
}

// The Content-Type and Content-Transfer-Encoding lines and the text of a
// body.
std::string TextPart(const char* pBody)
{
    bool bUtf8 = false;
    std::string text = CRukMail::EncodeBody(pBody ? pBody : "", &bUtf8);
    std::string out = std::string("Content-Type: text/plain; charset=") +
                      (bUtf8 ? "UTF-8" : "ISO-2022-JP") + "; format=flowed; delsp=yes\n";
    if (!bUtf8)
        return out + "Content-Transfer-Encoding: 7bit\n\n" + text;
    std::string b64 = Base64(text, 76);
    return out + "Content-Transfer-Encoding: base64\n\n" + b64 + (b64.empty() ? "" : "\n");
}

// A parameter holding a name, on a line of its own: " NAME=\"value\"",
// the value without quotes and backslashes, and as encoded words when it
// is not short plain ASCII.
std::string NameParameter(const char* pParameter, const CRukString& name)
{
    std::string text;
    for (char c : Trimmed(WithoutControls(name.GetText(), false)))
        if (c != '"' && c != '\\')
            text += c;
    std::string prefix = std::string(" ") + pParameter + "=\"";
    std::string out;
    if (!FoldPlain(prefix, text, out) || out.find('\n') + 1 != out.size())
        out = EncodeWords(prefix, text);
    out.pop_back();
    return out + "\"\n";
}

}  // namespace

bool CRukMail::IsAddress(const char* pText)
{
    if (!pText)
        return false;
    const char* pAt = strchr(pText, '@');
    size_t n = strlen(pText);
    if (!pAt || pAt == pText || n > 254 || static_cast<size_t>(pAt - pText) > 64)
        return false;
    // The local part: a dot-atom, no dot at either end or twice.
    if (pText[0] == '.' || pAt[-1] == '.')
        return false;
    for (const char* p = pText; p < pAt; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!IsAlnum(c) && !strchr(kAtext, c))
            return false;
        if (c == '.' && p[1] == '.')
            return false;
    }
    // The domain: labels of letters, digits and "-", joined by dots.
    const char* pDomain = pAt + 1;
    if (!*pDomain || *pDomain == '.' || pText[n - 1] == '.')
        return false;
    for (const char* p = pDomain; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '.' ? p[1] == '.' : !(IsAlnum(c) || c == '-'))
            return false;
    }
    return true;
}

CRukString CRukMail::MakeMessageId(const char* pLeft, const char* pDomain)
{
    std::string id = std::string("<") + (pLeft ? pLeft : "") + "." + RandomHex(8) + "@" +
                     (pDomain ? pDomain : "") + ">";
    return CRukString(id.c_str());
}

std::string CRukMail::Build(const SRukMailHeader& head, const char* pBody,
                            const CRukAry<CRukMailAttach>* pFiles)
{
    std::string to = AddressList(head.to.GetText());
    if (to.empty())
        return std::string();
    std::string cc = AddressList(head.cc.GetText()), bcc = AddressList(head.bcc.GetText());
    std::string from = AddressList(head.from.GetText());
    std::string replyTo = AddressList(head.replyTo.GetText());
    std::string messageId = MessageIdList(head.messageId.GetText());
    std::string inReplyTo = MessageIdList(head.inReplyTo.GetText());
    std::string references = MessageIdList(head.references.GetText());

    // Address and id fields: bare addresses and ids, plain ASCII.
    const std::pair<const char*, const std::string*> fields[] = {
        {"From", &from},          {"To", &to},
        {"Cc", &cc},              {"Bcc", &bcc},
        {"Reply-To", &replyTo},   {"Message-ID", &messageId},
        {"In-Reply-To", &inReplyTo}, {"References", &references},
    };
    std::string out = "Date: " + DateText(time(nullptr)) + "\n";
    for (const auto& field : fields)
        if (!field.second->empty())
            FoldPlain(std::string(field.first) + ": ", *field.second, out, false);
    out += EncodeHeader("Subject", head.subject.GetText());
    out += "MIME-Version: 1.0\n";

    bool bFiles = false;
    if (pFiles)
        for (const CRukMailAttach& file : *pFiles)
            bFiles = bFiles || !file.m_data.IsEmpty();
    if (!bFiles)
        return out + TextPart(pBody);

    // A random boundary, so that no text of the mail holds it, by chance
    // or by design.
    std::string boundary = "=_ruk_" + RandomHex(12);
    std::string delimiter = "--" + boundary + "\n";
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n";
    out += delimiter + TextPart(pBody);
    for (const CRukMailAttach& file : *pFiles) {
        if (file.m_data.IsEmpty())
            continue;
        out += delimiter;
        out += "Content-Type: application/octet-stream;\n" + NameParameter("name", file.m_strName);
        out += "Content-Disposition: attachment;\n" +
               NameParameter("filename", file.m_strName);
        out += "Content-Transfer-Encoding: base64\n\n";
        out += Base64(std::string(file.m_data.GetData(), file.m_data.GetSize()), 76) + "\n";
    }
    return out + "--" + boundary + "--\n";
}

int CRukMail::Send(const SRukMailHeader& head, const char* pBody)
{
    std::string message = Build(head, pBody);
    return message.empty() ? NO_RECIPIENT : Deliver(message);
}

int CRukMail::Send(const SRukMailHeader& head, const char* pBody,
                   const CRukAry<CRukMailAttach>& files)
{
    std::string message = Build(head, pBody, &files);
    return message.empty() ? NO_RECIPIENT : Deliver(message);
}

int CRukMail::Send(const SRukMailHeader& head, const char* pBody, const char* pFileName,
                   const CRukBuffer& data)
{
    CRukAry<CRukMailAttach> files(0, 10);
    CRukMailAttach file;
    file.m_strName = pFileName;
    file.m_data = data;
    files.Add(std::move(file));
    return Send(head, pBody, files);
}

// CRukMail: the header fields, the folded and converted body, the MIME
// frame around them, and the hand-over to the mail program.
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
#include "ruknkf.h"

namespace {

// The longest line written where a line can be chosen (RFC 2047 and 5322
// recommend 76 and 78), and the longest run of ASCII without blank kept
// whole in a body line; every line stays below the 998 bytes of RFC 5322.
const size_t s_nLineMax = 76;
const size_t s_nUnbrokenMax = 900;

// Encoded words: "=?CHARSET?B?" ... "?=".
const char s_szJisWord[] = "=?ISO-2022-JP?B?";
const char s_szUtf8Word[] = "=?UTF-8?B?";

const char s_szAtext[] = "!#$%&'*+/=?^_`{|}~-.";

bool IsAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The text without control bytes: line feeds and tabs are kept when
// bKeepLines (a body), else they become blanks (one header line); every
// other byte below 0x20 and DEL are dropped. Shift_JIS trail bytes are
// never in that range, so no character is cut.
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

// The valid addresses of a comma-separated list, joined by ", ".
std::string AddressList(const char* pText)
{
    std::string text = WithoutControls(pText, false), out;
    size_t b = 0;
    while (b <= text.size()) {
        size_t e = text.find(',', b);
        if (e == std::string::npos)
            e = text.size();
        std::string one = Trimmed(text.substr(b, e - b));
        if (CRukMail::IsAddress(one.c_str())) {
            if (!out.empty())
                out += ", ";
            out += one;
        } else if (!one.empty()) {
            go.m_log.Trace("-- CRukMail: not an address, left out [%s]", one.c_str());
        }
        b = e + 1;
    }
    return out;
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
        if (c != '@' && !IsAlnum(c) && !strchr(s_szAtext, c))
            return false;
    return true;
}

// The valid ids of a blank-separated list, joined by blanks.
std::string MessageIdList(const char* pText)
{
    std::string text = WithoutControls(pText, false), out;
    size_t b = 0;
    while (b < text.size()) {
        size_t e = text.find(' ', b);
        if (e == std::string::npos)
            e = text.size();
        std::string one = text.substr(b, e - b);
        if (IsMessageId(one)) {
            if (!out.empty())
                out += ' ';
            out += one;
        } else if (!one.empty()) {
            go.m_log.Trace("-- CRukMail: not a message id, left out [%s]", one.c_str());
        }
        b = e + 1;
    }
    return out;
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

bool IsHalfKana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
}

// Length of the character at p that no fold may cut: 2 for a Shift_JIS
// lead byte with a trail byte after it, and for a half-width katakana with
// the voiced or semi-voiced mark that joins it; else 1.
size_t UnitLen(const unsigned char* p, size_t n)
{
    bool bLead = (p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC);
    if (bLead)
        return (n > 1 && p[1] >= 0x40 && p[1] != 0x7F) ? 2 : 1;
    return (IsHalfKana(p[0]) && n > 1 && (p[1] == 0xDE || p[1] == 0xDF)) ? 2 : 1;
}

// True for a character sent as a two-byte JIS character: a Shift_JIS pair
// or a half-width katakana.
bool IsWide(const unsigned char* p, size_t nLen)
{
    return nLen == 2 || IsHalfKana(p[0]);
}

std::string Base64(const std::string& bytes, int nWidth)
{
    CRukBuffer b64(bytes.data(), static_cast<unsigned>(bytes.size()));
    b64.Base64Encode(nWidth);
    return b64.GetData() ? std::string(b64.GetData(), b64.GetSize()) : std::string();
}

// --- header fields

// A plain value folded before blanks, every line at most s_nLineMax
// long. For text (bText) false when a word would not fit on a line or the
// value could be taken for an encoded word; a list of addresses or ids
// puts a word too long for a line on a line of its own (it is at most 254
// bytes).
bool FoldPlain(const std::string& prefix, const std::string& text, std::string& out,
               bool bText = true)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    if (bText && text.find("=?") != std::string::npos)
        return false;
    std::string folded, line = prefix;
    bool bEmpty = true;  // nothing of the text on this line yet
    for (size_t i = 0; i < text.size();) {
        size_t e = text.find(' ', i + 1);
        if (e == std::string::npos)
            e = text.size();
        std::string piece = text.substr(i, e - i);
        if (line.size() + piece.size() > s_nLineMax && !bEmpty && piece[0] == ' ') {
            folded += line + "\n";
            line.clear();
        }
        if (bText && line.size() + piece.size() > s_nLineMax)
            return false;
        line += piece;
        bEmpty = false;
        i = e;
    }
    out += folded + line + "\n";
    return true;
}

// Bytes one character (UnitLen) adds to a text at most: its JIS bytes
// with a mode change, or its UTF-8 bytes.
size_t WordCharCost(const unsigned char* p, size_t nLen, bool bJis, bool& bKanji)
{
    bool bWide = IsWide(p, nLen);
    if (!bJis)
        return p[0] < 0x80 ? 1 : (IsHalfKana(p[0]) ? 3 * nLen : 3);
    size_t n = (bWide ? 2 : 1) + (bWide != bKanji ? 3 : 0);
    bKanji = bWide;
    return n;
}

// The value as encoded words, ISO-2022-JP when it fits JIS X 0208, else
// UTF-8; each word holds whole characters, and each line (the first after
// the prefix) is at most s_nLineMax long.
std::string EncodeWords(const std::string& prefix, const std::string& text)
{
    bool bJis = NkfFitsJis(text);
    const char* pWord = bJis ? s_szJisWord : s_szUtf8Word;
    size_t nFrame = strlen(pWord) + 2;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    std::string out = prefix;
    size_t nLine = prefix.size();
    size_t i = 0;
    while (i < n) {
        // As many characters as fit on the line, their bytes counted with
        // the closing escape.
        size_t nRoom = nLine + nFrame + 4 < s_nLineMax ? (s_nLineMax - nLine - nFrame) / 4 * 3 : 3;
        size_t nBytes = 0, j = i;
        bool bKanji = false;
        while (j < n) {
            size_t nLen = UnitLen(p + j, n - j);
            bool bWas = bKanji;
            size_t nCost = WordCharCost(p + j, nLen, bJis, bKanji);
            if (j > i && nBytes + nCost + (bKanji ? 3 : 0) > nRoom) {
                bKanji = bWas;
                break;
            }
            nBytes += nCost;
            j += nLen;
        }
        std::string chunk = text.substr(i, j - i);
        std::string bytes = bJis ? NkfSjisToJis(chunk) : NkfSjisToUtf8(chunk);
        out += pWord + Base64(bytes, 0) + "?=";
        i = j;
        if (i < n) {
            out += "\n ";
            nLine = 1;
        }
    }
    return out + "\n";
}

// --- body

// Bytes a stuffing blank may add in front of a line starting at p.
size_t StuffCost(unsigned char c)
{
    return (c == ' ' || c == '>' || c == 'F' || c == '.') ? 1 : 0;
}

// Shift_JIS punctuation a line should not start with (、。，．？！ー）〕」』】),
// as second bytes after the lead 0x81.
const char s_szNoLineStart[] = "\x41\x42\x43\x44\x48\x49\x5b\x6a\x6c\x76\x78\x7a";

// True when a soft line break may fall between the character before (wide
// or a blank) and the one at p: beside a Japanese character, or after a
// blank before a non-blank; never before closing punctuation.
bool CanBreak(bool bPrevWide, bool bPrevBlank, const unsigned char* p, size_t nLen)
{
    if (nLen == 2 && p[0] == 0x81 && strchr(s_szNoLineStart, p[1]))
        return false;
    if (bPrevWide || IsWide(p, nLen))
        return true;
    return bPrevBlank && p[0] != ' ';
}

// Bytes of [b, e) as an ISO-2022-JP line, stuffing and the closing escape
// included.
size_t HardCost(const unsigned char* p, size_t b, size_t e)
{
    size_t nCost = StuffCost(p[b]);
    bool bKanji = false;
    for (size_t i = b; i < e;) {
        size_t nLen = UnitLen(p + i, e - i);
        nCost += WordCharCost(p + i, nLen, true, bKanji);
        i += nLen;
    }
    return nCost + (bKanji ? 3 : 0);
}

// End of the line piece starting at b: the whole rest when it fits on a
// line, else the last break where the piece still fits as a soft line;
// without such a break the first break after it, or the character that
// reaches s_nUnbrokenMax bytes.
size_t FindCut(const std::string& line, size_t b)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line.data());
    size_t n = line.size();
    if (n - b <= s_nLineMax && HardCost(p, b, n) <= s_nLineMax)
        return n;
    size_t nCost = StuffCost(p[b]);
    bool bKanji = false, bPrevWide = false, bPrevBlank = false, bOver = false;
    size_t nLastBreak = 0;
    for (size_t i = b; i < n;) {
        size_t nLen = UnitLen(p + i, n - i);
        if (i > b && CanBreak(bPrevWide, bPrevBlank, p + i, nLen)) {
            if (bOver)
                return i;
            nLastBreak = i;
        }
        nCost += WordCharCost(p + i, nLen, true, bKanji);
        if (!bOver && nCost + (bKanji ? 3 : 0) + 1 > s_nLineMax) {
            if (nLastBreak)
                return nLastBreak;
            bOver = true;
        }
        bPrevWide = IsWide(p + i, nLen);
        bPrevBlank = p[i] == ' ';
        i += nLen;
        if (bOver && nCost >= s_nUnbrokenMax)
            return i;
    }
    return n;
}

// A line of the text as folded pieces, each with its soft flag.
void FoldLine(const std::string& line, std::vector<std::pair<std::string, bool>>& pieces)
{
    if (line.empty()) {
        pieces.emplace_back(std::string(), false);
        return;
    }
    for (size_t b = 0; b < line.size();) {
        size_t e = FindCut(line, b);
        pieces.emplace_back(line.substr(b, e - b), e < line.size());
        b = e;
    }
}

bool NeedsStuffing(const std::string& piece)
{
    return (!piece.empty() && (piece[0] == ' ' || piece[0] == '>')) ||
           piece.compare(0, 5, "From ") == 0 || piece == ".";
}

// --- delivery

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
        if (!IsAlnum(c) && !strchr(s_szAtext, c))
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

std::string CRukMail::EncodeHeader(const char* pName, const char* pText)
{
    std::string text = Trimmed(WithoutControls(pText, false));
    std::string prefix = std::string(pName) + ":";
    if (text.empty())
        return prefix + "\n";
    prefix += ' ';
    std::string out;
    if (FoldPlain(prefix, text, out))
        return out;
    return EncodeWords(prefix, text);
}

std::string CRukMail::EncodeBody(const char* pText, bool* pUtf8)
{
    std::string text = WithoutControls(pText, true);
    bool bUtf8 = !NkfFitsJis(text);
    if (pUtf8)
        *pUtf8 = bUtf8;
    std::string out;
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find('\n', b);
        if (e == std::string::npos)
            e = text.size();
        std::string line = text.substr(b, e - b);
        line.erase(line.find_last_not_of(' ') + 1);
        std::vector<std::pair<std::string, bool>> pieces;
        FoldLine(line, pieces);
        for (const auto& piece : pieces) {
            std::string sjis = NeedsStuffing(piece.first) ? " " + piece.first : piece.first;
            out += bUtf8 ? NkfSjisToUtf8(sjis) : NkfSjisToJis(sjis);
            out += piece.second ? " \n" : "\n";
        }
        b = e + 1;
    }
    return out;
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

// Form decoding: URL-encoded and plain bodies with the query string,
// multipart bodies as browsers and curl send them and as their grammar
// allows, the refusals (malformed multipart, too many fields), and whole
// CGI requests decoded in a child process with its own environment and
// standard input (lengths, bodies cut short).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "rukform.h"
#include "rukglobal.h"

namespace {

typedef CRukForm::Refusal Refusal;
typedef std::vector<std::pair<std::string, std::string>> Items;

const char* const s_pUrl = "application/x-www-form-urlencoded";

std::string Data(const CRukFormPair* p)
{
    if (!p || p->m_data.m_data.IsEmpty())
        return std::string();
    return std::string(p->m_data.m_data.GetData(), p->m_data.m_data.GetSize());
}

// Every field as (name, value), a file field's value being its bytes.
Items ItemsOf(const CRukForm& form)
{
    Items items;
    for (const CRukFormPair& p : form)
        items.emplace_back(p.m_strTag.GetText(), p.m_data.m_data.IsEmpty()
                                                     ? std::string(p.m_data.m_strValue.GetText())
                                                     : Data(&p));
    return items;
}

// One part of a multipart body: its header lines and its content.
struct Part {
    std::string header;
    std::string content;
};

// A multipart body the way browsers write it: each part opened by the
// delimiter line, the closing delimiter at the end.
std::string Multipart(const std::string& boundary, const std::vector<Part>& parts)
{
    std::string body;
    for (const Part& p : parts)
        body += "--" + boundary + "\r\n" + p.header + "\r\n\r\n" + p.content + "\r\n";
    body += "--" + boundary + "--\r\n";
    return body;
}

CRukBuffer Buffer(const std::string& s)
{
    return CRukBuffer(s.data(), static_cast<unsigned>(s.size()));
}

int Decode(CRukForm& form, const std::string& type, const std::string& body,
           const char* pQuery = "")
{
    return form.DecodeRequest(type.c_str(), Buffer(body), pQuery);
}

std::string Disposition(const std::string& name)
{
    return "Content-Disposition: form-data; name=\"" + name + "\"";
}

TEST(FormUrlEncoded, BodyThenQueryFirstNameWins)
{
    CRukForm form;
    EXPECT_EQ(Decode(form, s_pUrl, "a=1&b=%41+%42&a=2&&c&t=x%0D%0Ay%0Az&=e", "a=3&d=4&&"), 5);
    EXPECT_EQ(ItemsOf(form),
              (Items{{"a", "1"}, {"b", "A B"}, {"", "c"}, {"t", "x\ny\nz"}, {"d", "4"}}));
    EXPECT_EQ(form.Value(9), "");
    EXPECT_EQ(form.Data("zz"), nullptr);
    EXPECT_FALSE(form.IsBodyRefused());
    // A second request starts from an empty form.
    EXPECT_EQ(form.DecodeRequest(s_pUrl, CRukBuffer(), nullptr), 0);
    EXPECT_EQ(form.GetSize(), 0);
}

// A "%" without two hex digits after it stays as typed, with what follows
// it; it used to decode to a NUL that silently ended the value.
TEST(FormUrlEncoded, MalformedEscapesStayAsTyped)
{
    CRukForm form;
    Decode(form, s_pUrl, "a=%zzend&b=100%&c=%4x!&d=%%41&n%zz=1&e=50%25+off", "q=%g0");
    EXPECT_EQ(ItemsOf(form), (Items{{"a", "%zzend"},
                                    {"b", "100%"},
                                    {"c", "%4x!"},
                                    {"d", "%A"},
                                    {"n%zz", "1"},
                                    {"e", "50% off"},
                                    {"q", "%g0"}}));
}

TEST(FormTextPlain, OtherTypesTakeBytesAsTheyAre)
{
    const char* const types[] = {"text/plain", "", "garbage", "multipart/form-dataX; boundary=b"};
    for (const char* pType : types) {
        CRukForm form;
        // As text the body ends at a NUL byte.
        static const char body[] = "n=%41&m=a+b\r\nc&n=2\0x=1";
        EXPECT_EQ(Decode(form, pType, std::string(body, sizeof(body) - 1)), 2) << pType;
        EXPECT_EQ(ItemsOf(form), (Items{{"n", "%41"}, {"m", "a+b\r\nc"}})) << pType;
    }
    // Parameters and letter case do not hide the URL-encoded type.
    CRukForm form;
    Decode(form, "Application/X-WWW-Form-Urlencoded ; charset=Shift_JIS", "n=%41");
    EXPECT_EQ(form.Value("n"), "A");
}

TEST(FormEdit, AddSetAtRemove)
{
    CRukForm form;
    std::string body = Multipart("XyZ", {{"Content-Disposition: form-data; name=\"f\"; "
                                          "filename=\"a.png\"\r\nContent-Type: image/png",
                                          "PNGDATA"}});
    Decode(form, "multipart/form-data; boundary=XyZ", body);
    ASSERT_EQ(Data(form.Data("f")), "PNGDATA");
    EXPECT_EQ(form.Add("f", "x"), -1);
    EXPECT_EQ(form.Add("g", "x"), 1);
    EXPECT_EQ(form.SetAt("f", "plain"), 0);
    const CRukFormPair* p = form.Data("f");
    EXPECT_EQ(p->m_data.m_strValue, "plain");
    EXPECT_TRUE(p->m_data.m_strFileName.IsEmpty());
    EXPECT_TRUE(p->m_data.m_strType.IsEmpty());
    EXPECT_TRUE(p->m_data.m_data.IsEmpty());
    EXPECT_EQ(form.SetAt("h", "new"), 2);
    form.Remove("f");
    form.Remove("missing");
    ASSERT_EQ(form.GetSize(), 2);
    EXPECT_EQ(form.Value(0), "x");
    EXPECT_EQ(form.Value("h"), "new");
}

// A Chrome-shaped body: Windows path as filename, binary content holding
// NUL, CR LF and a near-boundary, a plain field with CR LF, a duplicate,
// a part without a name; the query string comes after the body.
TEST(FormMultipart, BrowserBody)
{
    std::string binary("\x89PNG\r\n\x1a\n\0\0\r\n\r\n------WebKit\r\n-x\xff", 31);
    std::string b = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
    std::string body = Multipart(
        b, {{Disposition("name"), "Taro\r\nYamada"},
            {"Content-Disposition: form-data; name=\"up1\"; filename=\"C:\\Users\\me\\photo.jpg\"\r\n"
             "Content-Type: image/jpeg",
             binary},
            {"Content-Disposition: form-data; name=\"up2\"; filename=\"\"\r\n"
             "Content-Type: application/octet-stream",
             ""},
            {Disposition("name"), "second"},
            {Disposition("nul"), std::string("ab\0cd", 5)},
            {"Content-Disposition: form-data", "no name"}});
    CRukForm form;
    EXPECT_EQ(Decode(form, "multipart/form-data; boundary=" + b, body, "name=q&q=1"), 5);
    EXPECT_EQ(form.Value("name"), "Taro\nYamada");
    EXPECT_EQ(form.Value("nul"), "ab");
    EXPECT_EQ(form.Value("q"), "1");

    const CRukFormPair* up1 = form.Data("up1");
    ASSERT_NE(up1, nullptr);
    EXPECT_EQ(up1->m_data.m_strValue, "photo.jpg");
    EXPECT_TRUE(std::regex_match(up1->m_data.m_strFileName.GetText(), std::regex("[0-9]{10,}\\.jpg")))
        << up1->m_data.m_strFileName.GetText();
    EXPECT_EQ(up1->m_data.m_strType, "image/jpeg");
    EXPECT_EQ(Data(up1), binary);

    const CRukFormPair* up2 = form.Data("up2");
    ASSERT_NE(up2, nullptr);
    EXPECT_EQ(up2->m_data.m_strValue, "");
    EXPECT_EQ(up2->m_data.m_strFileName, "");
    EXPECT_EQ(form.GetUploadTotal(), static_cast<int>(binary.size()));
}

// curl -F writes a different boundary, a Content-Type per file and a Unix
// path; a repeated file field still counts towards the upload total. Two
// files decoded in the same millisecond get different stored names.
TEST(FormMultipart, CurlBodyAndUniqueStoredNames)
{
    std::string b = "------------------------d74496d66958873e";
    std::string body = Multipart(
        b, {{"Content-Disposition: form-data; name=\"a\"; filename=\"/home/u/x.tar.gz\"\r\n"
             "Content-Type: application/gzip",
             "GZ"},
            {"Content-Disposition: form-data; name=\"b\"; filename=\"y.tar.gz\"\r\n"
             "Content-Type: application/gzip",
             "GZ2"},
            {"Content-Disposition: form-data; name=\"a\"; filename=\"z\"", "dropped"},
            {"Content-Disposition: form-data; name=\"c\"; filename=\"evil.p h;p\"\r\n"
             "Content-Type: text/plain\r\nX-Other: 1",
             "E"}});
    CRukForm form;
    EXPECT_EQ(Decode(form, "multipart/form-data; boundary=" + b, body), 3);
    std::string a = form.Data("a")->m_data.m_strFileName.GetText();
    std::string bb = form.Data("b")->m_data.m_strFileName.GetText();
    EXPECT_NE(a, bb);
    EXPECT_TRUE(std::regex_match(a, std::regex("[0-9]{13,}\\.gz")));
    EXPECT_EQ(form.Data("a")->m_data.m_strValue, "x.tar.gz");
    EXPECT_EQ(form.GetUploadTotal(), 2 + 3 + 7 + 1);
    // The stored name keeps only letters and digits of the extension; the
    // content type ends at its line.
    const CRukFormPair* c = form.Data("c");
    EXPECT_TRUE(std::regex_match(c->m_data.m_strFileName.GetText(), std::regex("[0-9]{13,}\\.php")));
    EXPECT_EQ(c->m_data.m_strValue, "evil.p h;p");
    EXPECT_EQ(c->m_data.m_strType, "text/plain");
}

// Bodies read by the grammar: what each decodes to, and that a file field
// is told by its filename parameter alone.
TEST(FormMultipart, GrammarCases)
{
    const std::string type = "multipart/form-data; boundary=bnd";
    struct Case {
        const char* pName;
        std::string type;
        std::string body;
        Items items;
        std::vector<std::string> files;  // names of the file fields
    } cases[] = {
        // The boundary comes from CONTENT_TYPE: a first line naming another
        // one is preamble, and its parts are not decoded.
        {"boundary from CONTENT_TYPE",
         type,
         "--evil\r\n" + Disposition("x") + "\r\n\r\nfake\r\n--evil\r\n" +
             Multipart("bnd", {{Disposition("ok"), "real"}}),
         {{"ok", "real"}},
         {}},
        // "--bnd" inside content is no delimiter: not at a line start, or
        // followed by other text than blanks and CR LF.
        {"delimiter only at a line start",
         type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"f\"; filename=\"f.txt\"",
                            "a--bnd\r\n--bndX\r\n--bnd x\r\n --bnd\r\nend"}}),
         {{"f", "a--bnd\r\n--bndX\r\n--bnd x\r\n --bnd\r\nend"}},
         {"f"}},
        // A quoted parameter of Content-Type is no file name.
        {"charset of a plain field",
         type,
         Multipart("bnd", {{Disposition("mess") + "\r\nContent-Type: text/plain; charset=\"x\"",
                            "hello"}}),
         {{"mess", "hello"}},
         {}},
        {"backslash escapes",
         type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"a\\\"b\"", "1"},
                           {"Content-Disposition: form-data; name=\"c\\\\d\"", "2"},
                           {"Content-Disposition: form-data; name=\"f\"; "
                            "filename=\"say \\\"hi\\\".txt\"",
                            "3"}}),
         {{"a\"b", "1"}, {"c\\d", "2"}, {"f", "3"}},
         {"f"}},
        // Shift_JIS names whose last byte is a backslash, as browsers send
        // them: "\x83\x5c" is one character before the closing quote.
        {"Shift_JIS trail backslash",
         type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"\x83\x5c\"", "so"},
                           {"Content-Disposition: form-data; name=\"up\"; filename=\"\x83\x5c\"",
                            "file"}}),
         {{"\x83\x5c", "so"}, {"up", "file"}},
         {"up"}},
        {"letter case, quoted boundary, padding, preamble and epilogue",
         "Multipart/Form-Data; Boundary=\"q b:=\"",
         "preamble\r\n--q b:= \t\r\ncontent-disposition: FORM-DATA; NAME=up; FileName=\"\"\r\n"
         "CONTENT-TYPE:  image/png \r\n\r\nPNG\r\n--q b:=--  \r\nepilogue",
         {{"up", "PNG"}},
         {"up"}},
        {"parts without a name or not form-data are skipped",
         type,
         Multipart("bnd", {{"Content-Disposition: form-data; filename=\"a.txt\"", "1"},
                           {"Content-Disposition: attachment; name=\"b\"", "2"},
                           {"X-Other: 1", "3"},
                           {Disposition("c"), "4"}}),
         {{"c", "4"}},
         {}},
        {"empty and header-only parts",
         type,
         "--bnd\r\n\r\n--bnd\r\n" + Disposition("h") + "\r\n\r\n--bnd\r\n" + Disposition("e") +
             "\r\n\r\n\r\n--bnd--",
         {{"h", ""}, {"e", ""}},
         {}},
        {"no parts", type, "--bnd--\r\n", {}, {}},
    };
    for (const Case& c : cases) {
        CRukForm form;
        Decode(form, c.type, c.body);
        EXPECT_EQ(form.GetRefusal(), Refusal::None) << c.pName;
        EXPECT_EQ(ItemsOf(form), c.items) << c.pName;
        std::vector<std::string> files;
        for (const CRukFormPair& p : form)
            if (!p.m_data.m_data.IsEmpty() || !p.m_data.m_strType.IsEmpty())
                files.push_back(p.m_strTag.GetText());
        EXPECT_EQ(files, c.files) << c.pName;
    }
    // The escaped file name's base name.
    CRukForm form;
    Decode(form, type,
           Multipart("bnd", {{"Content-Disposition: form-data; name=\"f\"; "
                              "filename=\"dir\\\\\x95\x5c.txt\"",
                              "x"}}));
    EXPECT_EQ(form.Data("f")->m_data.m_strValue, "\x95\x5c.txt");
}

// Bodies and content types the grammar does not allow: refused as a whole,
// the query string's fields included.
TEST(FormMultipart, MalformedRequestsAreRefused)
{
    const std::string type = "multipart/form-data; boundary=bnd";
    const std::string good = Multipart("bnd", {{Disposition("a"), "1"}});
    struct Case {
        const char* pName;
        std::string type;
        std::string body;
        Refusal refusal;
    } cases[] = {
        {"no closing delimiter", type, good.substr(0, good.rfind("--bnd")), Refusal::BadMultipart},
        {"closing delimiter not at a line start", type,
         "--bnd\r\n" + Disposition("a") + "\r\n\r\n1--bnd--", Refusal::BadMultipart},
        {"no delimiter at all", type, "a=1", Refusal::BadMultipart},
        {"only another boundary", type, Multipart("other", {{Disposition("a"), "1"}}),
         Refusal::BadMultipart},
        {"unfinished header line", type, "--bnd\r\n" + Disposition("a") + "\r\n--bnd--",
         Refusal::BadMultipart},
        {"header line without colon", type,
         Multipart("bnd", {{Disposition("a") + "\r\nnot a header", "1"}}), Refusal::BadMultipart},
        {"folded header line", type,
         Multipart("bnd", {{Disposition("a") + "\r\n  continued: x", "1"}}), Refusal::BadMultipart},
        {"name given twice", type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"a\"; name=\"b\"", "1"}}),
         Refusal::BadMultipart},
        {"two dispositions", type,
         Multipart("bnd", {{Disposition("a") + "\r\n" + Disposition("b"), "1"}}),
         Refusal::BadMultipart},
        {"unterminated quote", type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"a", "1"}}),
         Refusal::BadMultipart},
        {"garbage after a parameter", type,
         Multipart("bnd", {{"Content-Disposition: form-data; name=\"a\"x", "1"}}),
         Refusal::BadMultipart},
        // Each parameter is checked against those before it: a bound on
        // their number keeps a header of 200,000 from costing quadratic time.
        {"too many parameters", type,
         Multipart("bnd", {{Disposition("a") + [] {
                                std::string s;
                                for (int i = 0; i < 200000; i++)
                                    s += "; p" + std::to_string(i) + "=1";
                                return s;
                            }(),
                            "1"}}),
         Refusal::BadMultipart},
        {"no boundary", "multipart/form-data", good, Refusal::BadBoundary},
        {"empty boundary", "multipart/form-data; boundary=\"\"", good, Refusal::BadBoundary},
        {"boundary too long", "multipart/form-data; boundary=" + std::string(71, 'b'),
         Multipart(std::string(71, 'b'), {{Disposition("a"), "1"}}), Refusal::BadBoundary},
        {"boundary with a bad character", "multipart/form-data; boundary=\"a\\\\b\"", good,
         Refusal::BadBoundary},
        {"boundary ending in a blank", "multipart/form-data; boundary=\"bnd \"", good,
         Refusal::BadBoundary},
        {"boundary given twice", "multipart/form-data; boundary=bnd; boundary=x", good,
         Refusal::BadBoundary},
        {"unterminated boundary quote", "multipart/form-data; boundary=\"bnd", good,
         Refusal::BadBoundary},
    };
    for (const Case& c : cases) {
        CRukForm form;
        EXPECT_EQ(Decode(form, c.type, c.body, "q=1"), 0) << c.pName;
        EXPECT_EQ(form.GetRefusal(), c.refusal) << c.pName;
        EXPECT_TRUE(form.IsBodyRefused()) << c.pName;
        EXPECT_EQ(form.GetSize(), 0) << c.pName;
        EXPECT_EQ(form.GetUploadTotal(), 0) << c.pName;
    }
    // The 70 characters RFC 2046 allows are fine, and so are a few
    // parameters more than browsers send.
    CRukForm few;
    Decode(few, type + "; charset=x; a=1",
           Multipart("bnd", {{Disposition("a") + "; filename=\"f\"; x=1; y=\"2\"", "1"}}));
    EXPECT_EQ(few.Value("a"), "f");
    CRukForm form;
    std::string b70(70, 'b');
    Decode(form, "multipart/form-data; boundary=" + b70, Multipart(b70, {{Disposition("a"), "1"}}));
    EXPECT_EQ(form.Value("a"), "1");
}

// "name=&" repeated, n times.
std::string Fields(const char* pPrefix, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += std::string(i ? "&" : "") + pPrefix + std::to_string(i) + "=";
    return s;
}

// At most s_nMaxFields fields in one request, body and query string
// together; one more refuses the request. Empty pieces are no fields.
TEST(FormBounds, FieldCount)
{
    const int nMax = CRukForm::s_nMaxFields;
    std::vector<Part> parts(nMax, Part{Disposition("p"), "v"});
    std::string mpMax = Multipart("bnd", parts);
    parts.push_back(Part{"X-No-Name: 1", ""});
    std::string mpOver = Multipart("bnd", parts);
    const std::string mp = "multipart/form-data; boundary=bnd";
    struct Case {
        const char* pName;
        std::string type;
        std::string body;
        std::string query;
        bool bRefused;
    } cases[] = {
        {"body at the limit", s_pUrl, Fields("f", nMax), "", false},
        {"body over the limit", s_pUrl, Fields("f", nMax + 1), "", true},
        {"plain body over the limit", "text/plain", Fields("f", nMax + 1), "", true},
        {"query over the limit", "", "", Fields("q", nMax + 1), true},
        {"body and query at the limit", s_pUrl, Fields("f", 600), Fields("q", nMax - 600), false},
        {"body and query over the limit", s_pUrl, Fields("f", 600), Fields("q", nMax - 599), true},
        {"empty pieces", s_pUrl, std::string(100000, '&') + "a=1", std::string(5000, '&'), false},
        {"parts at the limit", mp, mpMax, "", false},
        {"parts over the limit, unnamed ones count", mp, mpOver, "", true},
        {"parts and query over the limit", mp, mpMax, "q=1", true},
        {"bomb of empty fields", s_pUrl, [] {
             std::string s;
             for (int i = 0; i < 2000000; i++)
                 s += "a=&";
             return s;
         }(), "", true},
    };
    for (const Case& c : cases) {
        CRukForm form;
        int n = Decode(form, c.type, c.body, c.query.c_str());
        EXPECT_EQ(form.GetRefusal(), c.bRefused ? Refusal::TooManyFields : Refusal::None)
            << c.pName;
        EXPECT_EQ(n, form.GetSize()) << c.pName;
        if (c.bRefused)
            EXPECT_EQ(form.GetSize(), 0) << c.pName;
        else
            EXPECT_GT(form.GetSize(), 0) << c.pName;
    }
}

// What QueryString gave in the child process.
struct Outcome {
    int nAdded = -1;
    int nRefusal = -1;
    long nStdinPos = -1;
    int nUpload = 0;
    Items items;  // name, value or file bytes
};

std::string ReadAll(int fd)
{
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

void WriteField(int fd, const std::string& s)
{
    std::string line = std::to_string(s.size()) + ":" + s;
    if (write(fd, line.data(), line.size()) < 0)
        _exit(3);
}

// Decodes a request in a child process: the CGI variables given (all
// others unset) and the body on standard input from a file, or, with
// bStdinDir, a directory, which no read can come from.
Outcome RunQueryString(const std::vector<std::pair<const char*, const char*>>& env,
                       const std::string& stdinData, bool bStdinDir = false)
{
    Outcome out;
    char szIn[] = "/tmp/ruk-form-in-XXXXXX";
    int fdIn = mkstemp(szIn);
    if (fdIn < 0 || write(fdIn, stdinData.data(), stdinData.size()) != static_cast<ssize_t>(stdinData.size()))
        return out;
    lseek(fdIn, 0, SEEK_SET);
    if (bStdinDir) {
        close(fdIn);
        fdIn = open("/tmp", O_RDONLY | O_DIRECTORY);
    }
    int fds[2];
    if (pipe(fds) != 0)
        return out;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const char* const vars[] = {"REQUEST_METHOD", "CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING"};
        for (const char* v : vars)
            unsetenv(v);
        for (const auto& e : env)
            setenv(e.first, e.second, 1);
        go.m_env.GetEnv();
        dup2(fdIn, 0);
        CRukForm form;
        int n = form.QueryString();
        WriteField(fds[1], std::to_string(n));
        WriteField(fds[1], std::to_string(static_cast<int>(form.GetRefusal())));
        WriteField(fds[1], std::to_string(lseek(0, 0, SEEK_CUR)));
        WriteField(fds[1], std::to_string(form.GetUploadTotal()));
        for (const auto& item : ItemsOf(form)) {
            WriteField(fds[1], item.first);
            WriteField(fds[1], item.second);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string s = ReadAll(fds[0]);
    close(fds[0]);
    close(fdIn);
    unlink(szIn);
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<std::string> fields;
    for (size_t i = 0; i < s.size();) {
        size_t colon = s.find(':', i);
        if (colon == std::string::npos)
            break;
        size_t n = std::stoul(s.substr(i, colon - i));
        fields.push_back(s.substr(colon + 1, n));
        i = colon + 1 + n;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || fields.size() < 4)
        return out;
    out.nAdded = std::stoi(fields[0]);
    out.nRefusal = std::stoi(fields[1]);
    out.nStdinPos = std::stol(fields[2]);
    out.nUpload = std::stoi(fields[3]);
    for (size_t i = 4; i + 1 < fields.size(); i += 2)
        out.items.emplace_back(fields[i], fields[i + 1]);
    return out;
}

TEST(FormQueryString, RequestsInChildProcess)
{
    std::string multi = Multipart("bnd", {{"Content-Disposition: form-data; name=\"f\"; filename=\"d.bin\"",
                                           std::string("\0\r\n\0", 4)},
                                          {Disposition("x"), "multi"}});
    std::string multiLength = std::to_string(multi.size());
    struct Case {
        const char* pName;
        std::vector<std::pair<const char*, const char*>> env;
        std::string stdinData;
        Items items;
    } cases[] = {
        {"body wins over query",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "6"}, {"CONTENT_TYPE", s_pUrl},
          {"QUERY_STRING", "x=query&q=1"}},
         "x=body",
         {{"x", "body"}, {"q", "1"}}},
        {"lower-case post",
         {{"REQUEST_METHOD", "post"}, {"CONTENT_LENGTH", "3"}, {"CONTENT_TYPE", s_pUrl}},
         "a=b",
         {{"a", "b"}}},
        {"exactly CONTENT_LENGTH bytes are read",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "5"}, {"CONTENT_TYPE", s_pUrl}},
         "x=abcdef",
         {{"x", "abc"}}},
        {"multipart",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", multiLength.c_str()},
          {"CONTENT_TYPE", "multipart/form-data; boundary=bnd"}},
         multi,
         {{"f", std::string("\0\r\n\0", 4)}, {"x", "multi"}}},
        {"GET ignores the body",
         {{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}, {"QUERY_STRING", "g=1"}},
         "a=b",
         {{"g", "1"}}},
        {"empty body of a multipart type",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "0"},
          {"CONTENT_TYPE", "multipart/form-data"}, {"QUERY_STRING", "g=1"}},
         "",
         {{"g", "1"}}},
        {"nothing at all", {}, "", {}},
    };
    for (const Case& c : cases) {
        Outcome o = RunQueryString(c.env, c.stdinData);
        EXPECT_EQ(o.items, c.items) << c.pName;
        EXPECT_EQ(o.nAdded, static_cast<int>(c.items.size())) << c.pName;
        EXPECT_EQ(o.nRefusal, static_cast<int>(Refusal::None)) << c.pName;
    }
}

// Lengths that are too large or not plain numbers: the body is never
// read. A refused request hands on no field at all, not even those of
// its query string.
TEST(FormQueryString, RefusesBadLengthsUnread)
{
    std::string tooLarge = std::to_string(CRukForm::s_nMaxBody + 1);
    const struct {
        const char* pLength;
        Refusal refusal;
    } lengths[] = {{tooLarge.c_str(), Refusal::TooLarge},
                   {"99999999999999999999999", Refusal::TooLarge},
                   {"12abc", Refusal::BadLength},
                   {"-5", Refusal::BadLength},
                   {" 5", Refusal::BadLength},
                   {"0x10", Refusal::BadLength},
                   {"5 ", Refusal::BadLength}};
    for (const auto& l : lengths) {
        Outcome o = RunQueryString({{"REQUEST_METHOD", "POST"},
                                    {"CONTENT_LENGTH", l.pLength},
                                    {"CONTENT_TYPE", s_pUrl},
                                    {"QUERY_STRING", "q=1"}},
                                   "a=b&c=d");
        EXPECT_EQ(o.nRefusal, static_cast<int>(l.refusal)) << l.pLength;
        EXPECT_EQ(o.nStdinPos, 0) << l.pLength;
        EXPECT_EQ(o.items, Items()) << l.pLength;
    }
}

// A body that ends before CONTENT_LENGTH, or cannot be read, is refused
// and nothing is decoded from it. Such a body used to be taken as if NUL
// bytes followed: a file cut after "HELLO" was stored padded with NULs.
TEST(FormQueryString, RefusesBodiesCutShort)
{
    std::string body = Multipart("bnd", {{"Content-Disposition: form-data; name=\"f\"; "
                                          "filename=\"a.txt\"",
                                          "HELLO" + std::string(198, 'W')},
                                         {Disposition("x"), "1"}});
    std::string length = std::to_string(body.size());
    std::string largest = std::to_string(CRukForm::s_nMaxBody);
    struct Case {
        const char* pName;
        const char* pType;
        const char* pLength;
        std::string stdinData;
        bool bStdinDir;
    } cases[] = {
        {"multipart cut inside the file", "multipart/form-data; boundary=bnd", length.c_str(),
         body.substr(0, body.find("HELLO") + 5), false},
        {"multipart one byte short", "multipart/form-data; boundary=bnd", length.c_str(),
         body.substr(0, body.size() - 1), false},
        {"URL-encoded", s_pUrl, "100", "n=%41", false},
        {"plain text", "text/plain", "100", "n=%41", false},
        {"largest length, short body", s_pUrl, largest.c_str(), "a=b", false},
        {"read error", s_pUrl, "3", "a=b", true},
    };
    for (const Case& c : cases) {
        Outcome o = RunQueryString({{"REQUEST_METHOD", "POST"},
                                    {"CONTENT_LENGTH", c.pLength},
                                    {"CONTENT_TYPE", c.pType},
                                    {"QUERY_STRING", "q=1"}},
                                   c.stdinData, c.bStdinDir);
        EXPECT_EQ(o.nRefusal, static_cast<int>(Refusal::Truncated)) << c.pName;
        EXPECT_EQ(o.nAdded, 0) << c.pName;
        EXPECT_EQ(o.nUpload, 0) << c.pName;
        EXPECT_EQ(o.items, Items()) << c.pName;
    }
    // The whole body is decoded.
    Outcome o = RunQueryString({{"REQUEST_METHOD", "POST"},
                                {"CONTENT_LENGTH", length.c_str()},
                                {"CONTENT_TYPE", "multipart/form-data; boundary=bnd"}},
                               body);
    EXPECT_EQ(o.items, (Items{{"f", "HELLO" + std::string(198, 'W')}, {"x", "1"}}));
}

}  // namespace

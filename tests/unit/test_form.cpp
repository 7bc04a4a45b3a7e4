// Form decoding: query strings, URL-encoded and plain bodies, multipart
// bodies as browsers and curl send them, and whole CGI requests decoded in
// a child process with its own environment and standard input.
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

std::string Data(const CRukFormPair* p)
{
    if (!p || p->m_data.m_data.IsEmpty())
        return std::string();
    return std::string(p->m_data.m_data.GetData(), p->m_data.m_data.GetSize());
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

TEST(FormUrlEncoded, DecodesPiecesFirstNameWins)
{
    CRukForm form;
    EXPECT_EQ(form.QueryUrlEncoded("a=1&b=%41+%42&a=2&&c&t=x%0D%0Ay%0Az&=e"), 4);
    ASSERT_EQ(form.GetSize(), 4);
    EXPECT_EQ(form.Value("a"), "1");
    EXPECT_EQ(form.Value("b"), "A B");
    EXPECT_EQ(form.Value(""), "c");  // the later "=e" is dropped
    EXPECT_EQ(form.Value("t"), "x\ny\nz");
    EXPECT_STREQ(form.Data(2)->m_strTag.GetText(), "");
    EXPECT_EQ(form.Value(9), "");
    EXPECT_EQ(form.Data("zz"), nullptr);
    // A later call keeps what is there and still lets the first value win.
    EXPECT_EQ(form.QueryUrlEncoded("a=3&d=4"), 1);
    EXPECT_EQ(form.Value("a"), "1");
    EXPECT_EQ(form.QueryUrlEncoded(nullptr), 0);
}

TEST(FormTextPlain, TakesBytesAsTheyAre)
{
    CRukForm form;
    EXPECT_EQ(form.QueryTextPlain("n=%41&m=a+b\r\nc&n=2"), 2);
    EXPECT_EQ(form.Value("n"), "%41");
    EXPECT_EQ(form.Value("m"), "a+b\r\nc");
}

TEST(FormEdit, AddSetAtRemove)
{
    CRukForm form;
    std::string body = Multipart("XyZ", {{"Content-Disposition: form-data; name=\"f\"; filename=\"a.png\"\r\n"
                                          "Content-Type: image/png",
                                          "PNGDATA"}});
    form.QueryMultipart(Buffer(body));
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
// NUL, CR LF and a near-boundary, a plain field with CR LF, a duplicate.
TEST(FormMultipart, BrowserBody)
{
    std::string binary("\x89PNG\r\n\x1a\n\0\0\r\n\r\n------WebKit\r\n-x\xff", 31);
    std::string b = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
    std::string body = Multipart(
        b, {{"Content-Disposition: form-data; name=\"name\"", "Taro\r\nYamada"},
            {"Content-Disposition: form-data; name=\"up1\"; filename=\"C:\\Users\\me\\photo.jpg\"\r\n"
             "Content-Type: image/jpeg",
             binary},
            {"Content-Disposition: form-data; name=\"up2\"; filename=\"\"\r\n"
             "Content-Type: application/octet-stream",
             ""},
            {"Content-Disposition: form-data; name=\"name\"", "second"},
            {"Content-Disposition: form-data; name=\"nul\"", std::string("ab\0cd", 5)},
            {"Content-Disposition: form-data", "no name"}});
    CRukForm form;
    EXPECT_EQ(form.QueryMultipart(Buffer(body)), 4);
    EXPECT_EQ(form.Value("name"), "Taro\nYamada");
    EXPECT_EQ(form.Value("nul"), "ab");

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
    EXPECT_EQ(form.QueryMultipart(Buffer(body)), 3);
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

TEST(FormMultipart, MalformedBodiesGiveNothing)
{
    const std::string bodies[] = {
        "",
        "no line end at all",
        "\r\nboundary-less",
        "--b\r\nContent-Disposition: form-data; name=\"x\"\r\nno header end",
        // Content shorter than the CR LF it should end with.
        "--b\r\n\"q\"\r\n\r\n--b",
    };
    for (const std::string& body : bodies) {
        CRukForm form;
        int n = form.QueryMultipart(Buffer(body));
        EXPECT_LE(n, 1) << body;
        if (n == 1) {
            EXPECT_EQ(form.Value("q"), "");
        }
    }
}

// What QueryString gave in the child process.
struct Outcome {
    int nAdded = -1;
    bool bRefused = false;
    long nStdinPos = -1;
    int nUpload = 0;
    std::vector<std::pair<std::string, std::string>> items;  // name, value or file bytes
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
// others unset) and the body on standard input from a file.
Outcome RunQueryString(const std::vector<std::pair<const char*, const char*>>& env,
                       const std::string& stdinData)
{
    Outcome out;
    char szIn[] = "/tmp/ruk-form-in-XXXXXX";
    int fdIn = mkstemp(szIn);
    if (fdIn < 0 || write(fdIn, stdinData.data(), stdinData.size()) != static_cast<ssize_t>(stdinData.size()))
        return out;
    lseek(fdIn, 0, SEEK_SET);
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
        WriteField(fds[1], form.IsBodyRefused() ? "1" : "0");
        WriteField(fds[1], std::to_string(lseek(0, 0, SEEK_CUR)));
        WriteField(fds[1], std::to_string(form.GetUploadTotal()));
        for (const CRukFormPair& p : form) {
            WriteField(fds[1], p.m_strTag.GetText());
            WriteField(fds[1], p.m_data.m_data.IsEmpty() ? std::string(p.m_data.m_strValue.GetText())
                                                         : Data(&p));
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
    out.bRefused = fields[1] == "1";
    out.nStdinPos = std::stol(fields[2]);
    out.nUpload = std::stoi(fields[3]);
    for (size_t i = 4; i + 1 < fields.size(); i += 2)
        out.items.emplace_back(fields[i], fields[i + 1]);
    return out;
}

typedef std::vector<std::pair<std::string, std::string>> Items;

TEST(FormQueryString, RequestsInChildProcess)
{
    const char* pUrl = "application/x-www-form-urlencoded";
    std::string multi = Multipart("bnd", {{"Content-Disposition: form-data; name=\"f\"; filename=\"d.bin\"",
                                           std::string("\0\r\n\0", 4)},
                                          {"Content-Disposition: form-data; name=\"x\"", "multi"}});
    std::string multiLength = std::to_string(multi.size());
    struct Case {
        const char* pName;
        std::vector<std::pair<const char*, const char*>> env;
        std::string stdinData;
        Items items;
    } cases[] = {
        {"body wins over query",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "6"}, {"CONTENT_TYPE", pUrl},
          {"QUERY_STRING", "x=query&q=1"}},
         "x=body",
         {{"x", "body"}, {"q", "1"}}},
        {"lower-case post",
         {{"REQUEST_METHOD", "post"}, {"CONTENT_LENGTH", "3"}, {"CONTENT_TYPE", pUrl}},
         "a=b",
         {{"a", "b"}}},
        {"exactly CONTENT_LENGTH bytes are read",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "5"}, {"CONTENT_TYPE", pUrl}},
         "x=abcdef",
         {{"x", "abc"}}},
        {"short body is zero-filled",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "100"}, {"CONTENT_TYPE", "text/plain"}},
         "n=%41",
         {{"n", "%41"}}},
        {"multipart",
         {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", multiLength.c_str()},
          {"CONTENT_TYPE", "multipart/form-data; boundary=bnd"}},
         multi,
         {{"f", std::string("\0\r\n\0", 4)}, {"x", "multi"}}},
        {"GET ignores the body",
         {{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}, {"QUERY_STRING", "g=1"}},
         "a=b",
         {{"g", "1"}}},
        {"nothing at all", {}, "", {}},
    };
    for (const Case& c : cases) {
        Outcome o = RunQueryString(c.env, c.stdinData);
        EXPECT_EQ(o.items, c.items) << c.pName;
        EXPECT_EQ(o.nAdded, static_cast<int>(c.items.size())) << c.pName;
        EXPECT_FALSE(o.bRefused) << c.pName;
    }
}

// Lengths that are too large or not plain numbers: the body is never
// read, the query string still is.
TEST(FormQueryString, RefusesBadLengthsUnread)
{
    std::string tooLarge = std::to_string(CRukForm::s_nMaxBody + 1);
    const char* const lengths[] = {tooLarge.c_str(), "99999999999999999999999", "12abc", "-5", " 5",
                                   "0x10", "5 "};
    for (const char* pLength : lengths) {
        Outcome o = RunQueryString({{"REQUEST_METHOD", "POST"},
                                    {"CONTENT_LENGTH", pLength},
                                    {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                    {"QUERY_STRING", "q=1"}},
                                   "a=b&c=d");
        EXPECT_TRUE(o.bRefused) << pLength;
        EXPECT_EQ(o.nStdinPos, 0) << pLength;
        EXPECT_EQ(o.items, (Items{{"q", "1"}})) << pLength;
    }
    std::string largest = std::to_string(CRukForm::s_nMaxBody);
    Outcome o = RunQueryString({{"REQUEST_METHOD", "POST"},
                                {"CONTENT_LENGTH", largest.c_str()},
                                {"CONTENT_TYPE", "application/x-www-form-urlencoded"}},
                               "a=b");
    EXPECT_FALSE(o.bRefused);
    EXPECT_EQ(o.items, (Items{{"a", "b"}}));
}

}  // namespace

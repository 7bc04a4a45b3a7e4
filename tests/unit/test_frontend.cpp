// The front-end base (URL mapping, templates) and the board template's
// blocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "rukbbsformbase.h"
#include "rukbbsformmain.h"
#include "rukglobal.h"

namespace {

// Runs a test inside a fresh temporary working directory.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ruk-front-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
        m_old = cwd;
        ASSERT_EQ(chdir(m_dir.c_str()), 0);
        m_env = go.m_env;
    }
    void TearDown() override
    {
        go.m_env = m_env;
        ASSERT_EQ(chdir(m_old.c_str()), 0);
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    static void Write(const std::string& path, const std::string& text)
    {
        std::string dir = path.substr(0, path.find_last_of('/') == std::string::npos
                                             ? 0
                                             : path.find_last_of('/'));
        if (!dir.empty()) {
            std::string cmd = "mkdir -p '" + dir + "'";
            ASSERT_EQ(system(cmd.c_str()), 0);
        }
        std::ofstream(path, std::ios::binary) << text;
    }

    std::string m_dir, m_old;
    CRukEnv m_env;
};

using UrlMapping = InTempDir;

TEST_F(UrlMapping, ServerPathToUrl)
{
    struct Case {
        const char* path;
        int relative;
        const char* root;
        const char* expected;
    } cases[] = {
        {"skin/default/", 1, "/var/www", "/cgi-bin/bbs/skin/default"},
        {"skin/default/", 0, "/var/www", "skin/default"},
        {"skin/default", 1, "/var/www", "/cgi-bin/bbs/skin"},
        {"/var/www/skins/x/", 1, "/var/www", "/skins/x"},
        {"/var/www/skins/x/", 0, "/var/www/", "/skins/x"},
        {"page.html", 1, "/var/www", "/cgi-bin/bbs/."},
        {"page.html", 0, "/var/www", "."},
        {"skin\\win\\", 1, "/var/www", "/cgi-bin/bbs/skin/win"},
        // An empty document root is a prefix of every path.
        {"skin/default/", 1, "", "skin/default"},
    };
    CRukBBSFormBase base;  // reads the environment: set it afterwards
    go.m_env.SCRIPT_NAME = "/cgi-bin/bbs/ruk-bbs.cgi";
    for (const Case& c : cases) {
        go.m_env.DOCUMENT_ROOT = c.root;
        EXPECT_STREQ(base.ServerPath2UrlDir(c.path, c.relative).GetText(), c.expected)
            << c.path << " relative " << c.relative << " root " << c.root;
    }
    go.m_env.DOCUMENT_ROOT = "/var/www";
    EXPECT_STREQ(base.ServerPath2UrlPath("data/tech/123/a b.jpg", 0).GetText(),
                 "data/tech/123/a b.jpg");
    EXPECT_STREQ(base.ServerPath2UrlPath("data/tech/x.gif", 1).GetText(),
                 "/cgi-bin/bbs/data/tech/x.gif");
}

using Templates = InTempDir;

TEST_F(Templates, CommonTagsAndBlanks)
{
    Write("skin/s/signature", "SKINSIG");
    Write("sys-signature", "SYSSIG");
    Write("skin/s/t.html",
          "%SKINSIGNATURE%|%SIGNATURE%|%DOMAIN%|%BBS_TITLE%|%BID%|%SKIN%|a   b|c    d|%BID%");
    CRukBBSFormBase base;
    go.m_env.SERVER_NAME = "bbs.example.jp";
    base.m_strSkinDir = "skin/s/";
    base.m_strSkinUrl = "/u/s/";
    base.m_strTitle = "T";
    base.m_strBBSID = "tech";
    base.m_strOldID = "2005";
    EXPECT_STREQ(base.GetTemplate("skin/s/t.html").GetText(),
                 "SKINSIG|SYSSIG|bbs.example.jp|T|tech=2005|skin/s/=/u/s/|a b|cd|tech=2005");
    EXPECT_STREQ(base.GetTemplate("skin/s/missing.html").GetText(), "");
}

// The host name a request names and the board's title are text: a Host
// header holding markup cannot put it on a skin's page.
TEST_F(Templates, HostNameAndTitleAreText)
{
    Write("t.html", "<a href=\"http://%DOMAIN%/\">%BBS_TITLE%</a>");
    CRukBBSFormBase base;
    go.m_env.SERVER_NAME = "h\"><script>x()</script>";
    base.m_strTitle = "<b>T</b>";
    EXPECT_STREQ(base.GetTemplate("t.html").GetText(),
                 "<a href=\"http://h&quot;&gt;&lt;script&gt;x()&lt;/script&gt;/\">"
                 "&lt;b&gt;T&lt;/b&gt;</a>");
}

TEST_F(Templates, ResourceReferencesAreRebased)
{
    struct Case {
        const char* stylesheet;
        const char* in;
        const char* out;
    } cases[] = {
        {"", "<link href=\"a.css\"><IMG SRC=\"x.gif\"><img src=\"y.gif\">",
         "<link href=\"/u/a.css\"><IMG SRC=\"/u/x.gif\"><img src=\"/u/y.gif\">"},
        {"", "<link href=\"http://cdn.example/a.css\">", "<link href=\"http://cdn.example/a.css\">"},
        {"/css/site.css", "<LINK HREF=\"a.css\" rel=stylesheet>",
         "<link href=\"/css/site.css\" rel=stylesheet>"},
        {"", "<input src=\"b.gif\"><td background=\"t.gif\"><body background=\"bg.gif\">",
         "<input src=\"/u/b.gif\"><td background=\"/u/t.gif\"><body background=\"/u/bg.gif\">"},
    };
    CRukBBSFormBase base;
    base.m_strSkinUrl = "/u/";
    for (const Case& c : cases) {
        Write("t.html", c.in);
        base.m_cfBBS.SetAt("stylesheet", c.stylesheet);
        EXPECT_STREQ(base.GetTemplate("t.html").GetText(), c.out) << c.in;
    }
}

// The message page shows the whole text, however long: it once cut the
// text at 4,095 bytes, which splits a two-byte character of this one.
TEST_F(Templates, MessagePageShowsTheWholeText)
{
    Write("skin/default/templ_info.html", "<p>%MESSAGE%</p>");
    std::string text;
    for (int i = 0; i < 3000; i++)
        text += "\x82\xa0";  // あ
    std::string out = m_dir + "/page.out";
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout))
            _exit(2);
        CRukBBSFormBase base;
        base.Message("%s", text.c_str());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::ifstream in(out, std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(page.find("<p>" + text + "</p>"), std::string::npos) << page.size();
}

TEST(Escaping, VisitorTextAndNames)
{
    EXPECT_STREQ(CRukBBSFormBase::EscapeHtml("<a href=\"x\" title='y'>&amp;").GetText(),
                 "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;");
    EXPECT_TRUE(CRukBBSFormBase::IsDigits(""));
    EXPECT_TRUE(CRukBBSFormBase::IsDigits("1234567890123"));
    EXPECT_FALSE(CRukBBSFormBase::IsDigits("12 3"));
    EXPECT_FALSE(CRukBBSFormBase::IsDigits("../1"));
    EXPECT_TRUE(CRukBBSFormBase::IsSafeName("tech_2005-a"));
    for (const char* bad : {"", "a/b", "..", "a.b", "a b", "\x82\xa0"})
        EXPECT_FALSE(CRukBBSFormBase::IsSafeName(bad)) << bad;
}

// The eight patterns and the page after GetTemplateBlock.
struct Blocks {
    CRukString page, input, nav, tparent, tchild, iparent, ichild, fword, fresult;
    explicit Blocks(const char* text) : page(text)
    {
        CRukBBSFormMain bbs;
        bbs.GetTemplateBlock(page, input, nav, tparent, tchild, iparent, ichild, fword, fresult);
    }
};

TEST(TemplateBlocks, CutsPatterns)
{
    Blocks b("A<!--INPUT_FORM-->form<!--/INPUT_FORM-->B"
             "<!--NAVIGATION-->nav1<!--/NAVIGATION-->"
             "<!--DATA_TABLE--><!--TABLE_PARENT-->p<!--TABLE_CHILD-->c<!--/TABLE_CHILD-->q"
             "<!--/TABLE_PARENT--><!--/DATA_TABLE-->"
             "<!--TITLE_PARENT-->tp<!--TITLE_CHILD-->tc<!--/TITLE_CHILD--><!--/TITLE_PARENT-->"
             "<!--FOUND_WORD-->fw<!--/FOUND_WORD--><!--FOUND_RESULT-->fr<!--/FOUND_RESULT-->"
             "<!--NAVIGATION-->nav2<!--/NAVIGATION-->");
    EXPECT_STREQ(b.input.GetText(), "form");
    EXPECT_STREQ(b.nav.GetText(), "nav1");
    EXPECT_STREQ(b.tparent.GetText(), "p<!--TABLE_CHILD--><!--/TABLE_CHILD-->q");
    EXPECT_STREQ(b.tchild.GetText(), "c");
    EXPECT_STREQ(b.iparent.GetText(), "tp<!--TITLE_CHILD--><!--/TITLE_CHILD-->");
    EXPECT_STREQ(b.ichild.GetText(), "tc");
    EXPECT_STREQ(b.fword.GetText(), "fw");
    EXPECT_STREQ(b.fresult.GetText(), "fr");

    CRukBBSFormMain bbs;
    CRukString form("FORM"), nav("NAV"), table("TABLE"), title("TITLE");
    EXPECT_EQ(bbs.PutRealizeBlock(b.page, form, nav, table, title), 0);
    EXPECT_STREQ(b.page.GetText(),
                 "AFORMBNAVTABLE<!--TITLE_PARENT--><!--/TITLE_PARENT-->"
                 "<!--FOUND_WORD--><!--/FOUND_WORD--><!--FOUND_RESULT--><!--/FOUND_RESULT-->NAV");
}

TEST(TemplateBlocks, EdgeCases)
{
    struct Case {
        const char* label;
        const char* in;
        const char* out;  // the page after cutting and putting back
        const char* tchild;
    } cases[] = {
        {"no blocks", "<p>plain %TITLE%</p>", "<p>plain %TITLE%</p>", ""},
        {"child outside parent",
         "<!--TABLE_PARENT-->p<!--/TABLE_PARENT--><!--TABLE_CHILD-->c<!--/TABLE_CHILD-->",
         "<!--TABLE_PARENT--><!--/TABLE_PARENT--><!--TABLE_CHILD-->c<!--/TABLE_CHILD-->", ""},
        {"two input forms", "<!--INPUT_FORM-->a<!--/INPUT_FORM-->|<!--INPUT_FORM-->b<!--/INPUT_FORM-->",
         "FORM|<!--INPUT_FORM--><!--/INPUT_FORM-->", ""},
        {"unclosed data table", "x<!--DATA_TABLE-->y", "x<!--DATA_TABLE-->y", ""},
        {"markers are case-sensitive", "<!--navigation-->n<!--/navigation-->",
         "<!--navigation-->n<!--/navigation-->", ""},
    };
    for (const Case& c : cases) {
        Blocks b(c.in);
        EXPECT_STREQ(b.tchild.GetText(), c.tchild) << c.label;
        CRukBBSFormMain bbs;
        CRukString form("FORM"), nav("NAV"), table("TABLE"), title("TITLE");
        bbs.PutRealizeBlock(b.page, form, nav, table, title);
        EXPECT_STREQ(b.page.GetText(), c.out) << c.label;
    }
}

}  // namespace

namespace {

// The one template filler: one pass, text escaped, markup as built, the
// first or every occurrence, and nothing inserted read again as a tag.
TEST(FillTags, OnePassEscapedByDefault)
{
    struct Case {
        const char* pLabel;
        const char* pPage;
        CRukTagList tags;
        const char* pExpect;
    } cases[] = {
        {"text is escaped", "<p>%NAME%</p>", {{"%NAME%", "<b>\"x\"&'"}}, "<p>&lt;b&gt;&quot;x&quot;&&#39;</p>"},
        {"markup as built", "%LINK%", {{"%LINK%", "<a href=\"x\">x</a>", false, true}},
         "<a href=\"x\">x</a>"},
        {"first occurrence", "%A%-%A%", {{"%A%", "1"}}, "1-%A%"},
        {"every occurrence", "%A%-%A%", {{"%A%", "1", true}}, "1-1"},
        {"values are never tags", "%A% %B%", {{"%A%", "%B%"}, {"%B%", "b"}}, "%B% b"},
        {"a tag is whole", "%PAGE_PPNUM% %PAGE%", {{"%PAGE%", "3", true}}, "%PAGE_PPNUM% 3"},
        {"stray percent signs", "100% %X% 5%", {{"%X%", "x"}}, "100% x 5%"},
        {"no tags", "plain", {}, "plain"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(CRukBBSFormBase::FillTags(c.pPage, c.tags).GetText(), c.pExpect) << c.pLabel;
}

// A pattern cut once is filled for each message with that message's
// values: the places of the fixed tags hold their (escaped) values from the
// cut on, a fixed tag comes first where both name one, a fill with a list
// of another length is still right, and a tag that does not start with
// "%" (or is empty) has no place.
TEST(FillTags, PatternCutOnceFilledMany)
{
    CRukTagList fixed = {{"%BID%", "b<1>", true}, {"%X%", "fixed", true}};
    auto tags = [](const char* pName, const char* pBody) {
        return CRukTagList{{"%NAME%", pName}, {"%BODY%", pBody, false, true}, {"%X%", "own", true},
                           {"", "empty"}, {"NAME", "bare"}};
    };
    CRukPattern pattern("[%NAME%|%BODY%|%BID%|%X%|%NAME%] NAME", tags("", ""), fixed);
    EXPECT_STREQ(pattern.Fill(tags("a<b>", "<i>1</i>")).GetText(),
                 "[a&lt;b&gt;|<i>1</i>|b&lt;1&gt;|fixed|%NAME%] NAME");
    EXPECT_STREQ(pattern.Fill(tags("%BID%", "%NAME%")).GetText(),
                 "[%BID%|%NAME%|b&lt;1&gt;|fixed|%NAME%] NAME");
    CRukTagList fewer = {{"%NAME%", "n"}};
    EXPECT_STREQ(pattern.Fill(fewer).GetText(), "[n|%BODY%|b&lt;1&gt;|fixed|%NAME%] NAME");
    EXPECT_STREQ(pattern.Source().GetText(), "[%NAME%|%BODY%|%BID%|%X%|%NAME%] NAME");
    CRukString out = "x";
    pattern.AppendFilled(out, fewer);
    EXPECT_STREQ(out.GetText(), "x[n|%BODY%|b&lt;1&gt;|fixed|%NAME%] NAME");
}

}  // namespace

namespace {

using OnePass = InTempDir;

// Writes the message page of base for text into a file, as a request that
// ends with it would, and returns the page.
std::string MessagePage(const std::string& dir, CRukBBSFormBase& base, const char* pText)
{
    std::string out = dir + "/page.out";
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout))
            _exit(2);
        base.Message("%s", pText);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::ifstream in(out, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every part of a page is filled once with the common tags and its own: a
// title (the board's, or a thread's or a search's in the page title)
// holding a tag name is shown as typed, and takes nothing from the tags of
// the page, the message page, the navigation or a message pattern.
TEST_F(OnePass, TitlesHoldingTagNamesStayText)
{
    CRukBBSFormMain bbs;
    bbs.m_strTitle = "%MESSAGE%";
    bbs.m_strPageTitle = "%HOME% <x>";
    bbs.m_cfBBS.SetAt("home_url", "http://home.example/");
    EXPECT_STREQ(bbs.FillWithCommon("%PAGE_TITLE%|%BBS_TITLE%|%MESSAGE%", {{"%MESSAGE%", "m"}})
                     .GetText(),
                 "%HOME% &lt;x&gt;|%MESSAGE%|m");
    CRukCookie cookie;
    CRukForm form;
    EXPECT_STREQ(bbs.CreateNavigation(cookie, form, "[%PAGE_TITLE%][%HOME%]").GetText(),
                 "[%HOME% &lt;x&gt;][http://home.example/]");
    CRukBBSData rec;
    rec.id = "1";
    rec.title = "%BBS_TITLE%";
    EXPECT_STREQ(bbs.CreateTitle1(cookie, form, "%BBS_TITLE%|%TITLE%", rec).GetText(),
                 "%MESSAGE%|%BBS_TITLE%");

    Write("skin/default/templ_info.html", "<title>%BBS_TITLE%</title><p>%MESSAGE%</p>");
    std::string page = MessagePage(m_dir, bbs, "TEXT");
    EXPECT_NE(page.find("<title>%MESSAGE%</title><p>TEXT</p>"), std::string::npos) << page;
}

}  // namespace

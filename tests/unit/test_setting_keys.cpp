// The tables of settings keys and the catalogue constants: every key the
// programs read has a row, the sample files hold the rows' defaults, a
// number is read and clamped as the programs always did, and every
// catalogue key the programs use is in the catalogue.
#include <gtest/gtest.h>

#include <climits>
#include <dirent.h>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "rukconfig.h"
#include "rukmessagekeys.h"
#include "ruksettingkeys.h"
#include "testutil.h"

namespace {

std::string SourceDir()
{
    const char* p = getenv("RUK_SOURCE_DIR");
    return p ? p : "";
}

// The program sources: every .cpp and .h of the given folders.
std::vector<std::string> ProgramSources(std::initializer_list<const char*> folders)
{
    std::vector<std::string> files;
    for (const char* pFolder : folders) {
        std::string dir = SourceDir() + "/" + pFolder;
        DIR* d = opendir(dir.c_str());
        if (!d)
            continue;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".cpp") == 0 ||
                                    name.compare(name.size() - 2, 2, ".h") == 0))
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return files;
}

std::set<std::string> Names(const SRukSettingTable& table)
{
    std::set<std::string> names;
    for (const SRukSettingKey& row : table)
        names.insert(row.pName);
    return names;
}

// A settings file of site/ (percent-encoded), read as the programs read it.
CRukConfig SiteSettings(const char* pRel)
{
    CRukConfig cf(true);
    EXPECT_GE(cf.ReadFile((SourceDir() + "/site/" + pRel).c_str()), 0) << pRel;
    return cf;
}

}  // namespace

// Every key read from or written to a settings map in the program code
// has a row of that map (or is the mobile-phone table's key), and a read
// by a row's key reads that key's own map.
TEST(SettingKeys, EveryKeyTheProgramsUseHasARow)
{
    if (SourceDir().empty())
        GTEST_SKIP() << "RUK_SOURCE_DIR is not set";
    std::set<std::string> system = Names(CRukSettingKeys::System());
    std::set<std::string> board = Names(CRukSettingKeys::Board());
    // A map's read or write by a literal name, and the choice between two
    // names inside a read.
    std::regex access(R"re(\b(m_cfBBS|m_cfSystem|m_cfKeitai|board|system|conf|cf|other)\s*\.\s*)re"
                      R"re((Value|Data|SetAt)\s*\(\s*"([a-z0-9_]+)\")re");
    std::regex choice(R"re((m_cfBBS|m_cfSystem)\.Value\([^;"]*\?\s*"([a-z0-9_]+)"\s*:\s*)re"
                      R"re("([a-z0-9_]+)\")re");
    std::regex count(R"re(SettingCount\(\s*(m_cfBBS|board)\s*,\s*"([a-z0-9_]+)\")re");
    // A read by a row's key: the key's own map (the front ends' Setting
    // overloads choose it by the key's type; CRukSettingKeys takes both).
    std::regex typed(R"re(CRukSettingKeys::\w+\(\s*(m_cfBBS|m_cfSystem|board|system)\s*,\s*)re"
                     R"re((k(Sys|Board)\w+))re");
    std::regex own(R"re(\b(Setting|SettingNumber|SettingIsOne)\(\s*k(Sys|Board)\w+)re");
    int nFound = 0;
    auto check = [&](const std::string& file, const std::string& map, const std::string& key) {
        nFound++;
        bool bSystem = map == "m_cfSystem" || map == "system";
        bool bBoard = map == "m_cfBBS" || map == "board";
        bool bKeitai = map == "m_cfKeitai";
        bool bKnown = bKeitai ? key == kKeitaiPerPage
                    : bSystem ? system.count(key) > 0
                    : bBoard  ? board.count(key) > 0
                              : system.count(key) + board.count(key) > 0;
        EXPECT_TRUE(bKnown) << map << " key \"" << key << "\" of " << file << " has no row";
    };
    for (const std::string& file : ProgramSources({"board", "admin", "bbs"})) {
        std::string text = testutil::ReadFile(file);
        for (std::sregex_iterator it(text.begin(), text.end(), access), end; it != end; ++it)
            check(file, (*it)[1], (*it)[3]);
        for (std::sregex_iterator it(text.begin(), text.end(), choice), end; it != end; ++it) {
            check(file, (*it)[1], (*it)[2]);
            check(file, (*it)[1], (*it)[3]);
        }
        for (std::sregex_iterator it(text.begin(), text.end(), count), end; it != end; ++it)
            check(file, (*it)[1], (*it)[2]);
        for (std::sregex_iterator it(text.begin(), text.end(), typed), end; it != end; ++it) {
            nFound++;
            std::string map = (*it)[1];
            bool bSystemMap = map == "m_cfSystem" || map == "system";
            EXPECT_EQ(bSystemMap, (*it)[3] == "Sys") << (*it)[2] << " read from " << map << " of "
                                                     << file;
        }
        nFound += static_cast<int>(std::distance(
            std::sregex_iterator(text.begin(), text.end(), own), std::sregex_iterator()));
    }
    EXPECT_GT(nFound, 0) << "no settings read found: the pattern no longer fits the code";
}

// The sample system file holds exactly the rows that have a sample
// default, each with it; a row without one is not in the sample.
TEST(SettingKeys, SampleSystemFileHoldsTheDefaults)
{
    if (SourceDir().empty())
        GTEST_SKIP() << "RUK_SOURCE_DIR is not set";
    CRukConfig sample = SiteSettings("dat-system.sample.dat");
    for (const SRukSettingKey& row : CRukSettingKeys::System()) {
        const CRukStrPair* pPair = sample.Data(row.pName);
        if (!row.pDefault) {
            EXPECT_EQ(pPair, nullptr) << row.pName;
            continue;
        }
        ASSERT_NE(pPair, nullptr) << row.pName;
        EXPECT_STREQ(pPair->m_data.GetText(), row.pDefault) << row.pName;
    }
    std::set<std::string> system = Names(CRukSettingKeys::System());
    for (int i = 0; i < sample.GetSize(); i++)
        EXPECT_TRUE(system.count(sample[i].m_strTag.GetText())) << sample[i].m_strTag.GetText();
    // A phone's page size is in the mobile-phone table.
    EXPECT_FALSE(SiteSettings("default.keit").Value(kKeitaiPerPage).IsEmpty());
}

// The demo board (scripts/make-site) has every key a new board gets, and
// no other.
TEST(SettingKeys, DemoBoardHasTheNewBoardKeys)
{
    if (SourceDir().empty())
        GTEST_SKIP() << "RUK_SOURCE_DIR is not set";
    std::string script = testutil::ReadFile(SourceDir() + "/scripts/make-site");
    size_t nStart = script.find("def demo_settings(");
    ASSERT_NE(nStart, std::string::npos);
    size_t nEnd = script.find("\n    ]", nStart);
    ASSERT_NE(nEnd, std::string::npos);
    std::string body = script.substr(nStart, nEnd - nStart);
    std::set<std::string> demo;
    std::regex pair(R"re(\("([a-z0-9_]+)",)re");
    for (std::sregex_iterator it(body.begin(), body.end(), pair), end; it != end; ++it)
        demo.insert((*it)[1]);
    std::set<std::string> fresh;
    for (const SRukSettingKey& row : CRukSettingKeys::Board())
        if (row.nNew != ERukNewValue::None)
            fresh.insert(row.pName);
    EXPECT_EQ(demo, fresh);
}

// Each table is in the order of its keys, with unique names and bounds
// that are not empty; every new-board row taken from the system has a
// system row of that name.
TEST(SettingKeys, TablesAreConsistent)
{
    for (const SRukSettingTable& table : {CRukSettingKeys::System(), CRukSettingKeys::Board()}) {
        std::set<std::string> names;
        int i = 0;
        for (const SRukSettingKey& row : table) {
            EXPECT_EQ(row.nKey, i++) << row.pName;
            EXPECT_TRUE(names.insert(row.pName).second) << row.pName;
            if (row.nKind == ERukSettingKind::Number) {
                EXPECT_LE(row.bounds.nLow, row.bounds.nHigh) << row.pName;
            }
        }
    }
    for (const SRukSettingKey& row : CRukSettingKeys::Board()) {
        if (row.nNew == ERukNewValue::System) {
            EXPECT_NE(CRukSettingKeys::Find(CRukSettingKeys::System(), row.pName), nullptr)
                << row.pName;
        }
    }
    EXPECT_STREQ(CRukSettingKeys::Row(kBoardLogMax).pName, "log_max");
    EXPECT_STREQ(CRukSettingKeys::Row(kSysAdminPasswd).pName, "admin");
    EXPECT_EQ(CRukSettingKeys::Find(CRukSettingKeys::Board(), "no_such_key"), nullptr);
}

// Numbers read as atoi reads them (0 for missing, empty or no number),
// except that a value beyond int is its nearest bound.
TEST(SettingKeys, ReadsANumberAsTheProgramsDo)
{
    CRukConfig cf(true);
    struct {
        const char* pValue;
        int nWant;
    } cases[] = {
        {"12", 12},           {" 12", 12}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-3", -3},
        {"+7", 7},            {"0x10", 0}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        cf.SetAt("log_max", c.pValue);
        EXPECT_EQ(CRukSettingKeys::Number(cf, kBoardLogMax), c.nWant) << c.pValue;
        EXPECT_EQ(CRukSettingKeys::ToNumber(c.pValue), c.nWant) << c.pValue;
    }
    EXPECT_EQ(CRukSettingKeys::Number(cf, kBoardMessMax), 0);  // missing
    EXPECT_FALSE(CRukSettingKeys::Has(cf, kBoardMessMax));
    // Switches: the board's reading (the number 1) and the pages' ("1").
    for (const char* pValue : {"1", "01", " 1", "1x"}) {
        cf.SetAt("use_icon", pValue);
        EXPECT_TRUE(CRukSettingKeys::IsOne(cf, kBoardUseIcon)) << pValue;
        EXPECT_EQ(CRukSettingKeys::IsChecked(cf, kBoardUseIcon), std::string(pValue) == "1");
    }
    cf.SetAt("use_icon", "2");
    EXPECT_FALSE(CRukSettingKeys::IsOne(cf, kBoardUseIcon));
    CRukSettingKeys::Set(cf, kBoardTitle, "t");
    EXPECT_STREQ(CRukSettingKeys::Text(cf, kBoardTitle).GetText(), "t");
    EXPECT_STREQ(CRukSettingKeys::IconKey(kBoardIconUrl, 3).GetText(), "ico_url3");
}

// The clamps the administration pages apply when a number is saved.
TEST(SettingKeys, ClampsASavedNumber)
{
    CRukConfig system(true);
    system.SetAt("attach_max", "5");
    system.SetAt("log_limit", "0");  // not set: no bound
    struct {
        ERukBoardKey nKey;
        const char* pTyped;
        const char* pWant;
    } cases[] = {
        {kBoardThreadsPerPage, "-3", "1"},    {kBoardThreadsPerPage, "abc", "1"},
        {kBoardThreadsPerPage, "", "1"},      {kBoardThreadsPerPage, "25", "25"},
        {kBoardTimeLagHours, "99", "24"},     {kBoardTimeLagHours, "-30", "-24"},
        {kBoardTimeLagMinutes, "75", "60"},   {kBoardNewTime, "-1", "0"},
        {kBoardAttachNum, "9", "5"},          {kBoardAttachNum, "0", "1"},
        {kBoardLogMax, "999999", "999999"},   {kBoardMessMax, "", ""},
        {kBoardMessMax, "  ", ""},            {kBoardMessMax, "10", "100"},
        {kBoardMessMax, "9999999", "200000"}, {kBoardPostInterval, "-5", "0"},
        {kBoardPostBurst, "0", "1"},          {kBoardLinkMax, "999", "100"},
        {kBoardLogMax, "99999999999", "2147483647"},
    };
    for (const auto& c : cases) {
        const SRukSettingKey& row = CRukSettingKeys::Row(c.nKey);
        EXPECT_STREQ(CRukSettingKeys::Clamped(row, c.pTyped, system).GetText(), c.pWant)
            << row.pName << " " << c.pTyped;
    }
    // A system limit below the low bound does not apply; one above does.
    system.SetAt("log_limit", "300");
    EXPECT_STREQ(
        CRukSettingKeys::Clamped(CRukSettingKeys::Row(kBoardLogMax), "999", system).GetText(),
        "300");
}

// Every catalogue key has one constant, every constant names a line of the
// catalogue, and every key the program code names is there.
TEST(MessageKeys, ConstantsAndUsesAreInTheCatalogue)
{
    if (SourceDir().empty())
        GTEST_SKIP() << "RUK_SOURCE_DIR is not set";
    CRukConfig catalogue(false);
    ASSERT_GT(catalogue.ReadFile((SourceDir() + "/site/dat-message.dat").c_str()), 0);
    std::string header = testutil::ReadFile(SourceDir() + "/bbs/rukmessagekeys.h");
    std::regex constant(R"re(constexpr char (kMsg\w+)\[\] = "(msg\d+)")re");
    std::map<std::string, std::string> byKey;
    for (std::sregex_iterator it(header.begin(), header.end(), constant), end; it != end; ++it) {
        std::string key = (*it)[2];
        EXPECT_TRUE(byKey.emplace(key, (*it)[1]).second) << key << " has two constants";
        EXPECT_TRUE(catalogue.Data(key.c_str())) << (*it)[1] << " names no catalogue line";
    }
    for (int i = 0; i < catalogue.GetSize(); i++)
        EXPECT_TRUE(byKey.count(catalogue[i].m_strTag.GetText()))
            << catalogue[i].m_strTag.GetText() << " has no constant";
    std::regex literal(R"re("(msg\d+)")re");
    for (const std::string& file : ProgramSources({"board", "admin", "bbs", "lib"})) {
        std::string text = testutil::ReadFile(file);
        for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it)
            EXPECT_TRUE(catalogue.Data(std::string((*it)[1]).c_str())) << (*it)[1] << " in " << file;
    }
    EXPECT_STREQ(kMsgBusy, "msg90");
    EXPECT_STREQ(kMsgLoggedOut, "msg113");
}

// Every row a settings page shows has its tag in the installed template of
// that page, and every row the page saves (but a mode, whose select the
// program builds) has an input of its name there.
TEST(SettingKeys, SettingsPagesHoldTheirRows)
{
    if (SourceDir().empty())
        GTEST_SKIP() << "RUK_SOURCE_DIR is not set";
    struct {
        SRukSettingTable table;
        const char* pTemplate;
    } pages[] = {
        {CRukSettingKeys::System(), "/site/skin/config/templ_config_sys.html"},
        {CRukSettingKeys::Board(), "/site/skin/config/templ_config_bbs.html"},
    };
    for (const auto& page : pages) {
        std::string text = testutil::ReadFile(SourceDir() + page.pTemplate);
        for (const SRukSettingKey& row : page.table) {
            if (!row.pPageTag)
                continue;
            EXPECT_NE(text.find(row.pPageTag), std::string::npos) << page.pTemplate << " "
                                                                   << row.pPageTag;
            if (row.nKind == ERukSettingKind::Mode)
                continue;
            std::string name = std::string("name=\"") + row.pName + "\"";
            EXPECT_NE(text.find(name), std::string::npos) << page.pTemplate << " " << name;
        }
    }
}

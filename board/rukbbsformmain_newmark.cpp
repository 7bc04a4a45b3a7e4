// CRukBBSFormMain: the "new" mark beside a message posted within the
// board's new_time hours, on the board's clock (the server's local time
// moved by timelag_hh and timelag_mm), and the stored date of a message
// it is worked out from.
#include "rukbbsformmain.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "rukbbsformmain_shared.h"

// (What the sscanf of CreateNewImage gives for it, without its cost per
// message.)
bool ParseStoredDate(const char* p, int& y, int& mo, int& d, int& h, int& mi, int& s)
{
    static const char s_szForm[] = "dddd/dd/dd dd:dd:dd";
    for (int i = 0; s_szForm[i]; i++) {
        bool bDigit = p[i] >= '0' && p[i] <= '9';
        if (s_szForm[i] == 'd' ? !bDigit : p[i] != s_szForm[i])
            return false;
    }
    auto num = [&](int at, int n) {
        int v = 0;
        for (int i = 0; i < n; i++)
            v = v * 10 + (p[at + i] - '0');
        return v;
    };
    y = num(0, 4);
    mo = num(5, 2);
    d = num(8, 2);
    h = num(11, 2);
    mi = num(14, 2);
    s = num(17, 2);
    return true;
}

void SetDateTime(struct tm& tm, int y, int mo, int d, int h, int mi, int s)
{
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar; the
// month may lie outside 1-12 and the day outside the month, which carry
// over as mktime carries them.
static long long DaysFromCivil(long long y, long long m, long long d)
{
    long long nMonths = m - 1;
    y += nMonths >= 0 ? nMonths / 12 : -((11 - nMonths) / 12);
    m = nMonths - 12 * (nMonths >= 0 ? nMonths / 12 : -((11 - nMonths) / 12)) + 1;
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (d - 1);
}

// The least age in seconds (on the board's clock, as CreateNewImage
// counts it: whole hours, cut toward zero) at which a message is no longer
// new for a period of nNewHours.
static long long FirstSecondOld(int nNewHours)
{
    long long nStart = nNewHours * 3600LL;
    return nNewHours >= 1 ? nStart : nStart - 3599;
}

CRukString CRukBBSFormMain::CreateNewImage(const CRukBBSData& rec)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!ParseStoredDate(rec.date.GetText(), y, mo, d, h, mi, s))
        sscanf(rec.date.GetText(), "%04d/%02d/%02d %02d:%02d:%02d", &y, &mo, &d, &h, &mi, &s);
    // The shifted clock is the same for every message of a page: it is
    // worked out again only when the second or the time lag changes.
    time_t t = time(nullptr);
    int nLagHours = SettingNumber(kBoardTimeLagHours);
    int nLagMinutes = SettingNumber(kBoardTimeLagMinutes);
    if (!m_newClock.bSet || t != m_newClock.tAt || nLagHours != m_newClock.nLagHours ||
        nLagMinutes != m_newClock.nLagMinutes) {
        localtime_r(&t, &m_newClock.tmLocal);
        struct tm now = m_newClock.tmLocal;
        now.tm_hour += nLagHours;
        now.tm_min += nLagMinutes;
        m_newClock = {true, t, nLagHours, nLagMinutes, m_newClock.tmLocal, mktime(&now)};
    }
    // Most messages are far older than the mark lasts: their age on the
    // calendar, less two days for any change of the zone's offset, already
    // settles it without asking the zone rules (mktime).
    int nNewHours = SettingNumber(kBoardNewTime);
    const struct tm& now = m_newClock.tmLocal;
    long long nCivil =
        (DaysFromCivil(now.tm_year + 1900LL, now.tm_mon + 1, now.tm_mday) -
         DaysFromCivil(y, mo, d)) * 86400LL +
        (now.tm_hour - h) * 3600LL + (now.tm_min - mi) * 60LL + (now.tm_sec - s) +
        nLagHours * 3600LL + nLagMinutes * 60LL;
    if (nCivil - 48 * 3600LL >= nNewHours * 3600LL)
        return CRukString();
    struct tm posted = m_newClock.tmLocal;
    SetDateTime(posted, y, mo, d, h, mi, s);
    long seconds = static_cast<long>(difftime(m_newClock.tShifted, mktime(&posted)));
    long hours = seconds / 3600;
    if (hours >= nNewHours)
        return CRukString();
    NoteMarkUntil(m_newClock.tAt + static_cast<time_t>(FirstSecondOld(nNewHours) - seconds));
    CRukString image = Setting(kBoardNewImage);
    if (image.IsEmpty())
        image = m_strSkinUrl + "new.gif";
    if (m_strNewMarkTag.IsEmpty() || image != m_strNewMarkSrc) {
        m_strNewMarkTag.Format("<img src=\"%s\" alt=\"%s\">", EscapeHtml(image.GetText()).GetText(),
                               "\x90\x56\x92\x85");  // 新着
        m_strNewMarkSrc = std::move(image);
    }
    return m_strNewMarkTag;
}

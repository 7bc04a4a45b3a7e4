#include "rukcrypt.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rukglobal.h"

const char* const CRukCrypt::s_pCodeTable =
    "%&!$#zZ0yY9xX8wWvV7uUtT6sS5rR4qQpP3nN2mMkK1jJhHgGfFeEdDcCbBaAoil";

static const int s_nTableSize = 64;

CRukString CRukCrypt::MakeSalt()
{
    srand(static_cast<unsigned>(time(nullptr)));
    char sz[3];
    sz[0] = s_pCodeTable[(rand() >> 6) & 63];
    sz[1] = s_pCodeTable[(rand() >> 6) & 63];
    sz[2] = 0;
    go.m_log.Trace("Crypt MakeSalt=(%s)", sz);
    return CRukString(sz);
}

CRukString CRukCrypt::GetSalt(const char* pCode)
{
    CRukString salt = CRukString(pCode).Left(2);
    go.m_log.Trace("Crypt GetSalt=(%s)", salt.GetText());
    return salt;
}

// The salt's bytes (as signed chars) summed, modulo 9, plus 1.
int CRukCrypt::Rotation(const char* pSalt)
{
    int nSum = 0;
    for (const char* p = pSalt ? pSalt : ""; *p; p++)
        nSum += static_cast<signed char>(*p);
    return nSum % 9 + 1;
}

// The password mapped three times through the rotated table, joined by
// "+", cut to eight characters.
CRukString CRukCrypt::Encrypt(const char* pPassword, int nRotation)
{
    char table[s_nTableSize];
    int r = nRotation > 0 ? nRotation % s_nTableSize : 0;
    for (int i = 0; i < s_nTableSize; i++)
        table[i] = s_pCodeTable[(i + r) % s_nTableSize];
    auto map = [&](char c) -> char {
        if (c == '+')
            return '+';
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        unsigned char idx = static_cast<unsigned char>(c - 0x20);
        if (idx > 63)
            idx = 63;
        return table[idx];
    };
    CRukString a, b, c;
    for (const char* p = pPassword ? pPassword : ""; *p; p++) {
        char ch = map(*p);
        a.Append(&ch, 1);
    }
    for (const char* p = a.GetText(); *p; p++) {
        char ch = map(*p);
        b.Append(&ch, 1);
    }
    for (const char* p = b.GetText(); *p; p++) {
        char ch = map(*p);
        c.Append(&ch, 1);
    }
    CRukString text = a + "+" + b + "+" + c;
    return text.Left(8);
}

CRukString CRukCrypt::Crypt(const char* pPassword, const char* pSalt)
{
    CRukString code(pSalt);
    code += Encrypt(pPassword, Rotation(pSalt));
    // The password itself never goes to the trace log, which lives in the
    // site directory.
    go.m_log.Trace("Crypt(%s, %s) -> (%s)", "********", pSalt ? pSalt : "", code.GetText());
    return code;
}

bool CRukCrypt::IsMatch(const char* pPassword, const char* pCode)
{
    CRukString salt = GetSalt(pCode);
    return Crypt(pPassword, salt.GetText()) == pCode;
}

// The non-empty text between the first "*" and the next "*", or empty.
CRukString CRukCrypt::Inner(const char* pStored)
{
    return CRukString(pStored).GetToken("*", "*");
}

CRukString CRukCrypt::CryptEx(const char* pPassword, const char* pSalt)
{
    if (!pPassword || !*pPassword)
        return CRukString();
    CRukString text = Inner(pPassword);
    if (text.IsEmpty())
        text = Crypt(pPassword, pSalt);
    return CRukString("*") + text + "*";
}

bool CRukCrypt::IsMatchEx(const char* pPassword, const char* pStored)
{
    if (!pStored || !*pStored)
        return false;
    CRukString text = Inner(pStored);
    if (text.IsEmpty())
        return strcmp(pStored, pPassword ? pPassword : "") == 0;
    return IsMatch(pPassword, text.GetText());
}

CRukString CRukCrypt::Hash(const char* pPassword)
{
    if (!pPassword || !*pPassword)
        return CRukString();
    return "*" + Crypt(pPassword, MakeSalt().GetText()) + "*";
}

bool CRukCrypt::Verify(const char* pPassword, const char* pStored)
{
    return IsMatchEx(pPassword, pStored);
}

bool CRukCrypt::IsCurrent(const char* pStored)
{
    return pStored && pStored[0] == '*' && pStored[1] == '$';
}

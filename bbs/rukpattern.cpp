// CRukPattern: cutting a pattern at its tags and filling it (see
// rukpattern.h), and the escaping of text as it enters a page.
#include "rukpattern.h"

#include <cstring>

// The tag of fixed or tags (in that order) written at p that still has a
// place to fill: its index in the joined list, or -1.
static int TagAt(const char* p, const CRukTagList& fixed, const CRukTagList& tags,
                 const std::vector<size_t>& lengths, const std::vector<bool>& done)
{
    size_t nAll = fixed.size() + tags.size();
    for (size_t i = 0; i < nAll; i++) {
        const SRukTag& tag = i < fixed.size() ? fixed[i] : tags[i - fixed.size()];
        if (lengths[i] > 0 && !(done[i] && !tag.bAll) && strncmp(p, tag.pTag, lengths[i]) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

CRukPattern::CRukPattern(const CRukString& text, const CRukTagList& tags,
                         const CRukTagList& fixed)
    : m_source(text), m_fixed(fixed), m_nTags(tags.size())
{
    std::vector<size_t> lengths;
    for (const CRukTagList* pList : {&fixed, &tags})
        for (const SRukTag& t : *pList)
            lengths.push_back(t.pTag && *t.pTag == '%' ? strlen(t.pTag) : 0);
    std::vector<bool> done(lengths.size(), false);
    CRukString run;  // the text since the last place of tags
    const char* p = m_source.GetText();
    const char* pRun = p;
    while ((p = strchr(p, '%')) != nullptr) {
        int i = TagAt(p, fixed, tags, lengths, done);
        if (i < 0) {
            p++;
            continue;
        }
        run.Append(pRun, static_cast<int>(p - pRun));
        p += lengths[static_cast<size_t>(i)];
        pRun = p;
        done[static_cast<size_t>(i)] = true;
        if (static_cast<size_t>(i) < fixed.size()) {
            AppendValue(run, fixed[static_cast<size_t>(i)]);
            continue;
        }
        m_nTextLength += static_cast<size_t>(run.GetLength());
        m_pieces.push_back({std::move(run), i - static_cast<int>(fixed.size())});
        run = CRukString();
    }
    run += pRun;
    m_nTextLength += static_cast<size_t>(run.GetLength());
    m_pieces.push_back({std::move(run), -1});
}

void CRukPattern::AppendValue(CRukString& out, const SRukTag& tag)
{
    if (tag.bMarkup)
        out += tag.value;
    else
        AppendEscaped(out, tag.value.GetText());
}

void CRukPattern::AppendFilled(CRukString& out, const CRukTagList& tags) const
{
    if (tags.size() != m_nTags) {
        CRukPattern(m_source, tags, m_fixed).AppendFilled(out, tags);
        return;
    }
    size_t nNeed = m_nTextLength;
    for (const SPiece& piece : m_pieces)
        if (piece.nTag >= 0)
            nNeed += static_cast<size_t>(tags[static_cast<size_t>(piece.nTag)].value.GetLength());
    out.Reserve(out.GetLength() + static_cast<int>(nNeed));
    for (const SPiece& piece : m_pieces) {
        out += piece.text;
        if (piece.nTag >= 0)
            AppendValue(out, tags[static_cast<size_t>(piece.nTag)]);
    }
}

CRukString CRukPattern::Fill(const CRukTagList& tags) const
{
    CRukString out;
    AppendFilled(out, tags);
    return out;
}

void CRukPattern::AppendEscaped(CRukString& out, const char* pText)
{
    const char* p = pText ? pText : "";
    for (;;) {
        size_t n = strcspn(p, "<>\"'");  // a plain run goes in one piece
        out.Append(p, static_cast<int>(n));
        p += n;
        if (!*p)
            break;
        switch (*p++) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += "&#39;"; break;
        }
    }
}

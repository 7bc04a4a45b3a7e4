// CRukBBSFormMain: construction, the cutting of the board template into
// its blocks and the putting back of what the views built, and the filler
// that writes one message pattern in a single pass.
#include "rukbbsformmain.h"

#include <cstring>
#include <string>

#include "rukbbsformmain_shared.h"

CRukBBSFormMain::CRukBBSFormMain()
{
    m_bbsFile.m_nMaxData = 1000;
    m_bbsFile.m_nDeleteMode = 0;
}

// Cuts block pName out of src into out and replaces every block of that
// name in src by the empty pair. A missing block gives the empty text.
static void CutBlock(CRukString& src, const char* pName, CRukString& out)
{
    CRukString open = CRukString("<!--") + pName + "-->";
    CRukString close = CRukString("<!--/") + pName + "-->";
    out = src.GetToken(open.GetText(), close.GetText());
    src.Replace(open.GetText(), close.GetText(), (open + close).GetText(), true);
}

// Replaces the first (or every) block pName of page by pWith.
static int PutBlock(CRukString& page, const char* pName, const CRukString& with, bool bAll)
{
    CRukString open = CRukString("<!--") + pName + "-->";
    CRukString close = CRukString("<!--/") + pName + "-->";
    return page.Replace(open.GetText(), close.GetText(), with.GetText(), bAll);
}

void CRukBBSFormMain::GetTemplateBlock(CRukString& page, CRukString& inputForm,
                                       CRukString& navigation, CRukString& tableParent,
                                       CRukString& tableChild, CRukString& titleParent,
                                       CRukString& titleChild, CRukString& foundWord,
                                       CRukString& foundResult)
{
    CutBlock(page, "INPUT_FORM", inputForm);
    CutBlock(page, "NAVIGATION", navigation);
    CutBlock(page, "TABLE_PARENT", tableParent);
    CutBlock(tableParent, "TABLE_CHILD", tableChild);
    CutBlock(page, "TITLE_PARENT", titleParent);
    CutBlock(titleParent, "TITLE_CHILD", titleChild);
    CutBlock(page, "FOUND_WORD", foundWord);
    CutBlock(page, "FOUND_RESULT", foundResult);
}

int CRukBBSFormMain::PutRealizeBlock(CRukString& page, CRukString& inputForm,
                                     CRukString& navigation, CRukString& dataTable,
                                     CRukString& dataTitle)
{
    PutBlock(page, "INPUT_FORM", inputForm, false);
    PutBlock(page, "NAVIGATION", navigation, true);
    PutBlock(page, "DATA_TABLE", dataTable, true);
    return PutBlock(page, "DATA_TITLE", dataTitle, true);
}

// The byte that marks a tag's place while a pattern is cut.
static const char s_cSlotMark = '\x01';

// Fills the tags as Tag would one after the other, in the slots' order;
// the cut is made once per pattern by replacing each tag in that order
// with a mark, so the same places are found. A value is put in as text and
// never read again as a tag. With pDropOpen the first span from it through
// the next pDropClose is left out (cut out of the pattern once, rather
// than out of every filled message).
CRukString CRukBBSFormMain::FillPattern(const CRukString& pattern, const STagSlot* pSlots,
                                        int nSlots, const CRukString* pValues,
                                        const char* pDropOpen, const char* pDropClose)
{
    const SCutPattern* pCut = nullptr;
    for (const SCutPattern& cut : m_patterns)
        if (cut.pSlots == pSlots && cut.pDropOpen == pDropOpen && cut.source == pattern.GetText())
            pCut = &cut;
    if (!pCut) {
        SCutPattern cut;
        cut.pSlots = pSlots;
        cut.source = pattern.GetText();
        cut.pDropOpen = pDropOpen;
        cut.bWhole = strchr(pattern.GetText(), s_cSlotMark) != nullptr || nSlots > 26;
        if (!cut.bWhole) {
            CRukString text = pattern;
            if (pDropOpen)
                text.Replace(pDropOpen, pDropClose, "", false);
            for (int k = 0; k < nSlots; k++) {
                const char szMark[] = {s_cSlotMark, static_cast<char>('A' + k), 0};
                Tag(text, pSlots[k].pTag, szMark, pSlots[k].bAll);
            }
            std::string piece;
            for (const char* p = text.GetText(); *p; p++) {
                if (*p == s_cSlotMark && p[1] >= 'A' && p[1] < 'A' + nSlots) {
                    cut.pieces.emplace_back(std::move(piece), p[1] - 'A');
                    piece.clear();
                    p++;
                } else {
                    piece += *p;
                }
            }
            cut.pieces.emplace_back(std::move(piece), -1);
        }
        m_patterns.push_back(std::move(cut));
        pCut = &m_patterns.back();
    }
    if (pCut->bWhole) {
        CRukString text = pattern;
        for (int k = 0; k < nSlots; k++)
            Tag(text, pSlots[k].pTag, pValues[k].GetText(), pSlots[k].bAll);
        if (pDropOpen)
            text.Replace(pDropOpen, pDropClose, "", false);
        return text;
    }
    CRukBuffer out;
    for (const auto& piece : pCut->pieces) {
        out.Append(piece.first.data(), static_cast<unsigned>(piece.first.size()));
        if (piece.second >= 0)
            AddPiece(out, pValues[piece.second]);
    }
    return Joined(out);
}

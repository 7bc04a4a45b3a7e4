// CRukBBSFormMain: construction and the board template. The template is
// cut into its blocks (the input form, the navigation, the patterns of a
// message, a title line and a search hit), what the views built is put
// back in their places, and a message pattern is cut once at its tags for
// every message of the page.
#include "rukbbsformmain.h"

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
    out = BlockText(src, pName);
    ReplaceBlocks(src, pName, BlockOpen(pName) + BlockClose(pName));
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
    ReplaceBlocks(page, "INPUT_FORM", inputForm, false);
    ReplaceBlocks(page, "NAVIGATION", navigation);
    ReplaceBlocks(page, "DATA_TABLE", dataTable);
    return ReplaceBlocks(page, "DATA_TITLE", dataTitle);
}

// The attachment block of a message pattern, and the opening of the link
// tag of its attachments (in that block, or in a title pattern), which
// runs through the next "%" and names the button picture.
static const char s_szAttachBlock[] = "ATTACH";
static const char s_szLinkOpen[] = "%ATTACH_LINK%%";
static const char s_szButtonOpen[] = "%ATTACH_LINK%%BUTTON=";

// The first link tag of text as written ("%ATTACH_LINK%%BUTTON=x.gif%"),
// and the button picture it names; both empty without one.
static void FindLinkTag(const CRukString& text, CRukString& tag, CRukString& button)
{
    int nOpen = text.Find(s_szLinkOpen);
    int nAfter = nOpen + static_cast<int>(sizeof(s_szLinkOpen) - 1);
    int nClose = nOpen < 0 ? -1 : text.Find("%", nAfter);
    if (nClose >= 0)
        tag = text.Mid(nOpen, nClose + 1 - nOpen);
    button = text.GetToken(s_szButtonOpen, "%");
}

// The text a pattern of a kind is cut from (see SMessagePattern).
static void PreparePattern(CRukString& text, CRukString& linkTag, CRukString& viewTag,
                           CRukString& button, bool bAttach, bool bTable)
{
    if (!bAttach) {  // the part of the attachments left out
        if (bTable)
            ReplaceBlocks(text, s_szAttachBlock, CRukString(), false);
        else
            text.Replace(s_szLinkOpen, "%", "", false);
        return;
    }
    if (!bTable) {
        FindLinkTag(text, linkTag, button);
        return;
    }
    // The first attachment block, without its markers, holds the tags of
    // the attachments; a pattern without one shows none.
    CRukString part = BlockText(text, s_szAttachBlock);
    if (ReplaceBlocks(text, s_szAttachBlock, part, false) == 0)
        return;
    FindLinkTag(part, linkTag, button);
    viewTag = "%ATTACH_VIEW%";
}

CRukBBSFormMain::SMessagePattern& CRukBBSFormMain::MessagePattern(const CRukString& source,
                                                                  EPatternKind nKind)
{
    for (SMessagePattern& cut : m_patterns)
        if (cut.nKind == nKind && cut.source == source)
            return cut;
    m_patterns.emplace_back();
    SMessagePattern& cut = m_patterns.back();
    cut.source = source;
    cut.nKind = nKind;
    cut.text = source;
    if (nKind != kFound) {
        bool bAttach = nKind == kTableAttach || nKind == kTitleAttach;
        bool bTable = nKind == kTable || nKind == kTableAttach;
        PreparePattern(cut.text, cut.linkTag, cut.viewTag, cut.button, bAttach, bTable);
    }
    return cut;
}

CRukString CRukBBSFormMain::FillMessage(SMessagePattern& cut, const CRukTagList& tags)
{
    if (!cut.bCut) {
        cut.pattern = CRukPattern(cut.text, tags, CommonTags());
        cut.bCut = true;
    }
    return cut.pattern.Fill(tags);
}

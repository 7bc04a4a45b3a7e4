// CRukBBSFormMain: the icon list page. It shows the icons a visitor can
// choose in the input form: every icon of the board that has a picture,
// with its name. The template's block TR_ICON is one row of up to five
// cells, its part TD_ICON one cell; a skin whose row holds nothing but
// the cell gets one plain list that its style sheet can wrap.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukbbsformmain_shared.h"

// Icons to a row of the template.
static const int s_nIconsPerRow = 5;

// One cell: the icon's picture with its name as the picture's text, and
// the name. Both are the administrator's text, escaped.
static CRukString IconCell(CRukBBSFormMain& bbs, const CRukString& pattern,
                           const CRukString& url, const CRukString& name)
{
    CRukString image = CRukString("<img src=\"") + CRukBBSFormBase::EscapeHtml(url) +
                       "\" alt=\"" + CRukBBSFormBase::EscapeHtml(name) + "\">";
    return bbs.FillWithCommon(pattern, {{"%IMAGE%", image, false, true}, {"%NAME%", name}});
}

void CRukBBSFormMain::ViewIcoForm(CRukForm&)
{
    CRukString page = ReadTemplate((m_strSkinDir + "templ_ico.html").GetText());
    CRukString row = BlockText(page, "TR_ICON");
    CRukString cell = BlockText(row, "TD_ICON");
    // The page, a row and a cell are each filled once.
    page = FillWithCommon(page, CRukTagList());
    row = FillWithCommon(row, CRukTagList());
    int nMax = SettingNumber(kSysIconMax);
    CRukString rows;
    CRukString cells;
    int nCells = 0;
    auto endRow = [&]() {
        if (nCells == 0)
            return;
        CRukString full = row;
        ReplaceBlocks(full, "TD_ICON", cells, false);
        rows += full;
        cells.Free();
        nCells = 0;
    };
    // The administrator's icon (0) is nobody else's choice: not listed.
    for (int nIcon = 1; nIcon <= nMax; nIcon++) {
        CRukString url = m_cfBBS.Value(CRukSettingKeys::IconKey(kBoardIconUrl, nIcon).GetText());
        if (url.IsEmpty())
            continue;
        CRukString name = m_cfBBS.Value(CRukSettingKeys::IconKey(kBoardIconName, nIcon).GetText());
        cells += IconCell(*this, cell, url, name);
        if (++nCells == s_nIconsPerRow)
            endRow();
    }
    endRow();
    ReplaceBlocks(page, "TR_ICON", rows, false);
    PutCacheLines();
    WritePage(page);
}

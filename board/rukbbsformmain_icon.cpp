// CRukBBSFormMain: the icon list page, five icons to a row.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukbbsformmain_shared.h"

void CRukBBSFormMain::ViewIcoForm(CRukForm&)
{
    CRukString page = GetTemplate((m_strSkinDir + "templ_ico.html").GetText());
    CRukString cell = page.GetToken("<!--TD_ICON-->", "<!--/TD_ICON-->");
    int nMax = atoi(m_cfSystem.Value("icon_max").GetText());
    CRukString rows, cells;
    int nCells = 0;
    for (int i = 1; nMax >= 1 && i <= nMax + 1; i++) {
        int nIcon = i <= nMax ? i : 0;
        CRukString number = Decimal(nIcon);
        CRukString url = m_cfBBS.Value(("ico_url" + number).GetText());
        CRukString image = url.IsEmpty() ? CRukString(s_pFiller)
                                         : CRukString("<img src=\"") + url + "\" align=middle>";
        CRukString name = m_cfBBS.Value(("ico_name" + number).GetText()) + s_pFiller;
        CRukString c = cell;
        c.Replace("%NAME%", name.GetText(), false);
        c.Replace("%IMAGE%", image.GetText(), false);
        cells += c;
        nCells++;
        if (nIcon != 0 && nIcon % 5 == 0) {
            rows += CRukString("<tr>") + cells + "</tr>";
            cells.Free();
            nCells = 0;
        } else if (nIcon == 0) {
            if (nCells < 5) {
                CRukString span;
                span.Format("<td colspan=%d>%s</td>", 5 - nCells, s_pFiller);
                cells += span;
            }
            rows += CRukString("<tr>") + cells + "</tr>";
        }
    }
    page.Replace("<!--TR_ICON-->", "<!--/TR_ICON-->", rows.GetText(), false);
    WritePage(page);
}

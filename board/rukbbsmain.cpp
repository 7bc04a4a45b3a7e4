// Entry of the board program (placeholder until the board entry lands).
#include "rukhtml.h"

int main()
{
    CRukHtml html;
    html.WriteHttpHeader("text/html", "");
    html.WriteString("<html><body><p>RUK-BBS</p></body></html>\n");
    return 0;
}

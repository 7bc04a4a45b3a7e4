// Entry of the administration program (placeholder until it lands).
#include "rukhtml.h"

int main()
{
    CRukHtml html;
    html.WriteHttpHeader("text/html", "");
    html.WriteString("<html><body><p>RUK-BBS config</p></body></html>\n");
    return 0;
}

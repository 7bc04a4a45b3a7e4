// CRukView: the viewer of attachments ("ruk-view.cgi"), which the board
// opens in a tab of its own. It shows the attachment named by the url
// parameter: a picture inline, anything else as a link, under a bar with
// a close button that Escape presses too. Only a relative path into a
// registered board's data directory is accepted, so the viewer can never
// become an open redirect or a way to put script into a page.
#ifndef RUKVIEW_H
#define RUKVIEW_H

#include "rukstring.h"

class CRukView {
public:
    // True when pUrl is a relative path of plain components below the data
    // directory of a board registered in "data/" (the working directory is
    // the site's).
    static bool IsAllowedUrl(const char* pUrl);
    // The page for an accepted URL.
    static CRukString ViewPage(const char* pUrl);
    // The page that refuses a URL.
    static CRukString RefusePage();
};

#endif

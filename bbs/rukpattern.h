// CRukPattern: the one template filler of both programs, in a form that
// is cut once and filled many times.
//
// A page or a pattern holds tags ("%NAME%"); a tag list (CRukTagList)
// names them, in order, each with its value, whether every place of the
// tag is filled or only its first, and whether the value is markup the
// program built (a link, an image, a rendered body) or text, which is
// written HTML-escaped. Cutting reads the pattern once from left to right:
// at each "%" the first tag of the list that is written there, and still
// has a place to fill, takes the place. Filling writes the text between
// the places and each place's value, and never reads a value again: a
// visitor's "%MESSAGE%" stays as typed. CRukBBSFormBase::FillTags cuts
// and fills a page at once; a pattern written once per message (a message
// of a list, a search hit) is cut once and kept.
#ifndef RUKPATTERN_H
#define RUKPATTERN_H

#include <vector>

#include "rukstring.h"

// One tag of a page or a pattern and its value. A value is text, written
// HTML-escaped, unless the program built it as markup (a link, an image,
// a rendered body), which is written as it is.
struct SRukTag {
    const char* pTag;      // the tag as written, e.g. "%NAME%"; it starts with "%"
    CRukString value;
    bool bAll = false;     // every occurrence (otherwise the first only)
    bool bMarkup = false;  // trusted markup (otherwise text)
};
typedef std::vector<SRukTag> CRukTagList;

class CRukPattern {
public:
    CRukPattern() = default;
    // Cuts text at the places of tags; only the tags' names and bAll
    // count, not their values. The places of fixed (tags whose values are
    // the same for every fill, such as the board's title) are filled at
    // once; where a tag of fixed and one of tags are written at the same
    // place, fixed comes first. A tag that does not start with "%" has no
    // place.
    CRukPattern(const CRukString& text, const CRukTagList& tags,
                const CRukTagList& fixed = CRukTagList());

    // The pattern with each place holding the value of its tag. tags are
    // the same tags, in the same order, as those it was cut at (a list of
    // another length is cut anew, with the fixed values it was cut with,
    // so the result is still right).
    CRukString Fill(const CRukTagList& tags) const;
    // The same, appended to out (a list of messages grows in one text).
    void AppendFilled(CRukString& out, const CRukTagList& tags) const;

    // The text the pattern was cut from.
    const CRukString& Source() const { return m_source; }

    // Appends pText with "<", ">", '"' and "'" written as character
    // references ("&" stays): text as it enters a page.
    static void AppendEscaped(CRukString& out, const char* pText);

private:
    // A run of the pattern's text and the tag whose value follows it (-1
    // after the last run).
    struct SPiece {
        CRukString text;
        int nTag;
    };
    // Appends the value of tag to out: text escaped, markup as it is.
    static void AppendValue(CRukString& out, const SRukTag& tag);

    CRukString m_source;
    CRukTagList m_fixed;
    std::vector<SPiece> m_pieces;
    size_t m_nTags = 0;
    size_t m_nTextLength = 0;  // the bytes of all runs
};

#endif

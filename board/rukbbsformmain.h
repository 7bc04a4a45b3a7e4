// CRukBBSFormMain: the board program's front end. It cuts the board
// template into its blocks, renders message bodies, lists, the input form,
// search results and the icon list, and performs posting and deletion.
#ifndef RUKBBSFORMMAIN_H
#define RUKBBSFORMMAIN_H

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsformbase.h"
#include "rukcookie.h"
#include "rukform.h"
#include "rukstrary.h"
#include "rukstring.h"

class CRukBBSFormMain : public CRukBBSFormBase {
public:
    CRukBBSFormMain();
    ~CRukBBSFormMain() override = default;

    // --- template blocks
    void GetTemplateBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                          CRukString& tableParent, CRukString& tableChild,
                          CRukString& titleParent, CRukString& titleChild,
                          CRukString& foundWord, CRukString& foundResult);
    int PutRealizeBlock(CRukString& page, CRukString& inputForm, CRukString& navigation,
                        CRukString& dataTable, CRukString& dataTitle);

    // --- message body rendering
    void ReplaceUrlLink(CRukString& body, const char* pScheme);
    void ReplaceResQuot(CRukString& body, const CRukBBSData& rec);
    void ReplaceText2Html(CRukString& body, const CRukBBSData& rec);
    void ReplacePreFormat(CRukString& body, const CRukBBSData& rec);
    CRukString CreateNewImage(const CRukBBSData& rec);

    // --- page assembly and views
    void Reload(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNavigation(CRukCookie& cookie, CRukForm& form, const CRukString& block);
    CRukString CreateTable1(CRukCookie& cookie, CRukForm& form, const CRukString& pattern,
                            const CRukBBSData& rec);
    CRukString CreateTableThread(CRukCookie& cookie, CRukForm& form,
                                 const CRukString& rootPattern,
                                 const CRukString& replyPattern, const CRukBBSData& root);
    CRukString CreateTitle1(CRukCookie& cookie, CRukForm& form, const CRukString& pattern,
                            const CRukBBSData& rec);
    CRukString CreateTitleThread(CRukCookie& cookie, CRukForm& form,
                                 const CRukString& rootPattern,
                                 const CRukString& replyPattern, const CRukBBSData& root);
    CRukString CreateInputForm(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                               const CRukBBSData& rec, const CRukString& ppid,
                               const CRukString& pid, const CRukString& id);
    void FindResult(CRukCookie& cookie, CRukForm& form);
    CRukString CreateFound1(CRukCookie& cookie, CRukForm& form, const CRukString& block,
                            CRukStrAry& words, const CRukBBSData& rec);
    void ViewIcoForm(CRukForm& form);

    // --- posting, deletion, mail
    void Write(CRukCookie& cookie, CRukForm& form);
    CRukString CreateNewID(long* pWhen);
    void Delete(CRukCookie& cookie, CRukForm& form);
    // The notice of rec of kind pKind ("reply", "owner") to the addresses
    // pTo and pCc: CRukMail's result.
    [[nodiscard]] int Sendmail(const char* pTo, const char* pCc, const char* pKind,
                               const CRukBBSData& rec);
    // The notices of a stored message (see rukbbsformmain_mail.cpp).
    void SendNotices(const CRukBBSData& rec);

    CRukBBSFile m_bbsFile;  // the board's message file
    bool m_bLoaded = false;  // m_bbsFile holds the board as this request wrote it
    CRukString m_strFindWord;  // the search text, shown again in the search box

    // One tag of a message pattern and whether all its places are filled
    // (else only the first).
    struct STagSlot {
        const char* pTag;
        bool bAll;
    };

private:
    // A message pattern cut once at the places its tags fill, so that each
    // message is written in one pass: text pieces, each followed by the
    // value of a slot (-1 none). bWhole: the pattern holds the byte used
    // to mark the places, so it is filled tag by tag instead.
    struct SCutPattern {
        const STagSlot* pSlots;
        std::string source;
        std::vector<std::pair<std::string, int>> pieces;
        bool bWhole;
        const char* pDropOpen;  // the span left out, or null
    };
    // The pattern with the slots' values put in, in the slots' order, and
    // without the first span from pDropOpen through pDropClose when given.
    CRukString FillPattern(const CRukString& pattern, const STagSlot* pSlots, int nSlots,
                           const CRukString* pValues, const char* pDropOpen = nullptr,
                           const char* pDropClose = nullptr);
    std::vector<SCutPattern> m_patterns;

    // The local time and the shifted clock of the "new" mark, for the
    // second and the time lag they were worked out for.
    struct {
        bool bSet;
        time_t tAt;
        int nLagHours, nLagMinutes;
        struct tm tmLocal;
        time_t tShifted;
    } m_newClock = {};
};

#endif

// CRukMail: builds a plain text mail (with attachments if given) from
// Shift_JIS strings and hands it to the mail program (go's mail command
// followed by " -t", which takes the recipients from the header).
//
// What every mail is made of, so that every server accepts it and every
// reader decodes it:
// - Header values are one line of text each: CR, LF and the other control
//   bytes of a given text are dropped, so that no text can start a header
//   of its own. Address fields hold bare addresses only ("local@domain",
//   To, Cc and Bcc a comma-separated list of them): a mail whose To holds
//   anything else is not built, another field holding anything else is
//   left out. Message-ID, In-Reply-To and References take "<left@right>"
//   ids of address characters only, else they are left out. A Date header
//   is written; Return-Path and Sender are not (the mail program sets the
//   envelope).
// - A text field (Subject, an attachment's name) is written as it is when
//   it is short plain ASCII, else as RFC 2047 encoded words: ISO-2022-JP
//   when every character fits JIS X 0208, UTF-8 otherwise (NEC's row 13,
//   the Windows extension kanji...). No header line exceeds 76 bytes.
// - The body is "text/plain; format=flowed; delsp=yes" (RFC 3676). A line
//   longer than 76 bytes as sent is folded into soft lines, each ending in
//   a space that a reader drops when it joins them again; folds fall on
//   character boundaries of the Shift_JIS text, between two Japanese
//   characters or after a blank of ASCII text. An ASCII run without blank
//   (a link) is kept whole up to 900 bytes and cut past that, so that no
//   line ever exceeds 998 bytes. Lines starting with " ", ">", "From " and
//   a lone "." are space-stuffed; blanks that end a line are dropped (they
//   would make it soft). The body is ISO-2022-JP (7bit, every line back in
//   ASCII at its end) when all of it fits JIS X 0208, else UTF-8 in Base64.
#ifndef RUKMAIL_H
#define RUKMAIL_H

#include <string>

#include "rukary.h"
#include "rukbuffer.h"
#include "rukstring.h"

class CRukMailAttach {
public:
    CRukString m_strName;
    CRukBuffer m_data;
};

// The header fields of a mail as plain text (Shift_JIS for the subject).
struct SRukMailHeader {
    CRukString to, cc, bcc;  // comma-separated addresses; to is required
    CRukString from;         // one address
    CRukString replyTo;      // one address, or empty
    CRukString messageId;    // "<left@right>", or empty
    CRukString inReplyTo;    // "<left@right>", or empty
    CRukString references;   // ids separated by blanks, or empty
    CRukString subject;
};

class CRukMail {
public:
    // Results of Send.
    enum { SENT = 0, NO_RECIPIENT = -1, NOT_DELIVERED = -2 };

    // Sends the mail: SENT once the mail program took every byte and
    // exited with success; NO_RECIPIENT (nothing run) when To holds no
    // valid address; NOT_DELIVERED when the program could not be run, did
    // not read the mail or failed.
    [[nodiscard]] int Send(const SRukMailHeader& head, const char* pBody);
    [[nodiscard]] int Send(const SRukMailHeader& head, const char* pBody,
                           const CRukAry<CRukMailAttach>& files);
    [[nodiscard]] int Send(const SRukMailHeader& head, const char* pBody, const char* pFileName,
                           const CRukBuffer& data);

    // The whole mail as handed to the mail program (empty attachments are
    // left out), or "" when To holds no valid address.
    static std::string Build(const SRukMailHeader& head, const char* pBody,
                             const CRukAry<CRukMailAttach>* pFiles = nullptr);
    // One header field, "Name: value" and its folded lines, each ending in
    // a line feed; the value encoded as described above.
    static std::string EncodeHeader(const char* pName, const char* pText);
    // The text of a body in format=flowed lines; *pUtf8 tells whether it
    // is UTF-8 (to go out in Base64) or ISO-2022-JP.
    static std::string EncodeBody(const char* pText, bool* pUtf8);
    // A new Message-ID "<LEFT.RANDOM@DOMAIN>", RANDOM 16 hexadecimal
    // digits from getrandom, so that no two mails share one.
    static CRukString MakeMessageId(const char* pLeft, const char* pDomain);
    // True for one bare address: a local part of letters, digits and
    // ".!#$%&'*+/=?^_`{|}~-", "@", and a domain of letters, digits, "-"
    // and dots (no dot required: "owner@localhost" passes).
    static bool IsAddress(const char* pText);
};

#endif

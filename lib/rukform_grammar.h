// The grammar of a request, step by step, as the files of CRukForm share
// it (the pipeline is described in rukform.h): reading the body (step 1),
// header values and their parameters, the body's syntax and its cutting
// into fields (steps 2 and 3), and the parts of a multipart body (step 4).
// Callers use rukform.h only.
#ifndef RUKFORM_GRAMMAR_H
#define RUKFORM_GRAMMAR_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "rukenv.h"
#include "rukform.h"

namespace rukform {

typedef CRukForm::Refusal Refusal;

// A run of bytes inside the body or the query string.
struct Span {
    const char* p;
    size_t n;
};

// ---------------------------------------------------------------------------
// Step 1: the body (rukform_body.cpp)

// The body of a POST request: exactly CONTENT_LENGTH bytes of standard
// input. A request without a length, or not a POST, has no body.
Refusal ReadBody(const CRukEnv& env, CRukBuffer& body);

// ---------------------------------------------------------------------------
// Header values: media types and Content-Disposition (rukform_header.cpp)

// A header value "head *( OWS ";" OWS name "=" value ) OWS": the head in
// lower case (a token, or type "/" subtype), parameter names in lower
// case, values unquoted.
struct HeaderValue {
    std::string head;
    std::vector<std::pair<std::string, std::string>> params;

    // The value of a parameter, or null when it is absent.
    const std::string* Find(const char* pName) const
    {
        for (const auto& p : params)
            if (p.first == pName)
                return &p.second;
        return nullptr;
    }
};

bool IsOws(char c);
// The first byte at or after i that is no blank or tab.
size_t SkipOws(const char* p, size_t n, size_t i);
// Reads a token at i into out (lower case); false when there is none.
bool ReadToken(const char* p, size_t n, size_t& i, std::string& out);
// Parses a header value; false when it breaks the grammar (the head is
// still filled when it read). A parameter named twice breaks it too, since
// two readers could then take different ones, and so do more than a few
// parameters.
bool ParseHeaderValue(const char* p, size_t n, bool bEscapes, HeaderValue& out);
// A boundary as RFC 2046 allows it: 1 to 70 of its characters, not
// ending in a blank.
bool IsValidBoundary(const std::string& b);

// ---------------------------------------------------------------------------
// Steps 2 and 3: the body's syntax, and cutting into fields
// (rukform_body.cpp; the multipart cut in rukform_multipart.cpp)

// The fields of a request as runs of its bytes, in decoding order.
struct RequestPieces {
    std::vector<Span> parts;        // multipart body: the body parts
    std::vector<Span> bodyPieces;   // other bodies: the "&"-separated pieces
    bool bDecodeBody = false;       // the body pieces are URL-encoded
    std::vector<Span> queryPieces;  // the query string's pieces
};

// Steps 2 and 3: the body's syntax, then the body and the query string
// cut into at most CRukForm::s_nMaxFields fields in all.
Refusal CutRequest(const char* pContentType, const CRukBuffer& body, const char* pQuery,
                   RequestPieces& out);
// Cuts a multipart body at its delimiter lines into its parts. The first
// delimiter may start the body (else a preamble comes before it); the
// closing delimiter must come. At most nMax parts.
Refusal CutMultipart(const char* p, size_t n, const std::string& boundary, size_t nMax,
                     std::vector<Span>& parts);

// ---------------------------------------------------------------------------
// Step 4: the fields of a part (rukform_multipart.cpp)

// What the header lines of a body part say.
struct PartHeader {
    bool bDisposition = false;  // a Content-Disposition line was read
    bool bType = false;         // a Content-Type line was read
    bool bNamed = false;        // form-data with a name parameter
    bool bFile = false;         // a filename parameter was given
    std::string name;
    std::string fileName;
    std::string type;
};

// Splits a body part into its header lines (each ended by CR LF) and its
// content after the empty line; a part may end right after its header
// lines (no content). False when a line is unfinished or broken.
bool ReadPart(const char* p, size_t n, PartHeader& h, Span& content);

}  // namespace rukform

#endif

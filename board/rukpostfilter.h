// CRukPostFilter: the spam filters a board may set for its posts: the body
// must hold Japanese, a body may hold only so many links, and no field may
// hold a word of the board's NG-word file.
//
// Text is Shift_JIS and is walked character by character, never searched
// byte by byte: the trail byte of a two-byte character (which may equal an
// ASCII letter or a half-width katakana) is never taken for a character of
// its own, and a word matches only where a character starts.
//
// NG-word file: one word per line in Shift_JIS; blank lines and lines
// starting with "#" are ignored, blanks around a word are dropped.
#ifndef RUKPOSTFILTER_H
#define RUKPOSTFILTER_H

#include <string>
#include <vector>

class CRukPostFilter {
public:
    // The byte length of the character at p: 2 for a Shift_JIS lead byte
    // followed by a trail byte, else 1 (0 at the end of the text).
    static int CharLength(const char* p);
    // True when pText holds a hiragana, a katakana (full or half width) or
    // a kanji character.
    static bool HasJapanese(const char* pText);
    // The links of pText: "http://", "https://" and "ftp://", and "<a"
    // followed by a blank, in any case.
    static int CountLinks(const char* pText);

    // Loads the words of an NG-word file: 0, or -1 when it cannot be read.
    [[nodiscard]] int LoadWords(const char* pPath);
    void AddWord(const char* pWord);
    int GetWordCount() const { return static_cast<int>(m_words.size()); }
    // True when pText holds one of the words: ASCII letters in either case,
    // every other character exactly, starting where a character starts.
    bool HasWord(const char* pText) const;

private:
    // pText with its one-byte ASCII letters in lower case (two-byte
    // characters untouched); with pStarts, also where each character
    // starts (1) or continues (0).
    static std::string Fold(const char* pText, std::vector<char>* pStarts);

    std::vector<std::string> m_words;  // folded
};

#endif

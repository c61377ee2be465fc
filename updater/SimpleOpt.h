// Table-driven command-line option parser.
//
// Words not beginning with "-" are no options: they are skipped and moved, in
// their order, behind the options. An option is matched exactly, or by a
// unique longest beginning of an entry with the same number of leading dashes.
// Its argument follows "=" in the same word or is the next word.
#ifndef UPDATER_SIMPLEOPT_H
#define UPDATER_SIMPLEOPT_H

#include <algorithm>
#include <cstddef>
#include <string>

// Parser results.
enum {
    SO_SUCCESS = 0,
    SO_OPT_INVALID = -1,   // no table entry matches the word
    SO_OPT_MULTIPLE = -2,  // two entries match a beginning equally far
    SO_ARG_INVALID = -3,   // "=" argument given to an option that takes none
    SO_ARG_MISSING = -5,   // option that takes an argument is the last word
    SO_ARG_INVALID_DATA = -6, // the word after such an option begins with "-"
};

// Argument types of a table entry.
enum {
    SO_NONE = 0, // takes no argument
    SO_REQ_SEP = 1, // takes one, as the next word or after "="
};

template <class SOCHAR>
struct SOptionTempl {
    int id;             // -1 ends the table
    const SOCHAR* text; // option word with its dashes
    int argType;
};

template <class SOCHAR>
class CSimpleOptTempl {
public:
    using SOption = SOptionTempl<SOCHAR>;

    // The argument vector is reordered in place; flags are reserved (only 0).
    CSimpleOptTempl(int argc, SOCHAR** argv, const SOption* options, int flags)
        : m_argv(argv), m_options(options)
    {
        (void)flags;
        m_argc = (argc > 0 && argv != nullptr) ? argc : 0;
        m_nextArg = 1;
        m_lastArg = m_argc;
    }

    CSimpleOptTempl(const CSimpleOptTempl&) = delete;
    CSimpleOptTempl& operator=(const CSimpleOptTempl&) = delete;

    // Advances to the next option; false once the arguments are exhausted.
    bool Next();

    int LastError() const { return m_lastError; }
    int OptionId() const { return m_optionId; }
    // The table entry's text (the word as typed when no entry matched).
    const SOCHAR* OptionText() const { return m_optionText; }
    // The argument, or null.
    SOCHAR* OptionArg() const { return m_optionArg; }

private:
    using Traits = std::char_traits<SOCHAR>;

    static size_t countDashes(const SOCHAR* text, size_t length)
    {
        size_t n = 0;
        while (n < length && text[n] == SOCHAR('-'))
            ++n;
        return n;
    }

    // Index of the entry the name selects, or a negative parser result.
    int lookup(const SOCHAR* name, size_t length) const;

    // Moves the word at m_nextArg behind every word still to be examined,
    // keeping the order of words moved earlier.
    void moveBehind()
    {
        std::rotate(m_argv + m_nextArg, m_argv + m_nextArg + 1, m_argv + m_argc);
        --m_lastArg;
    }

    int m_argc;
    SOCHAR** m_argv;
    const SOption* m_options;
    int m_nextArg;
    int m_lastArg; // words from here on are the non-options already moved
    int m_lastError = SO_SUCCESS;
    int m_optionId = -1;
    const SOCHAR* m_optionText = nullptr;
    SOCHAR* m_optionArg = nullptr;
};

template <class SOCHAR>
int CSimpleOptTempl<SOCHAR>::lookup(const SOCHAR* name, size_t length) const
{
    if (m_options == nullptr)
        return SO_OPT_INVALID;

    const size_t dashes = countDashes(name, length);
    int best = SO_OPT_INVALID;
    size_t bestLength = 0;
    bool ambiguous = false;
    for (int i = 0; m_options[i].id != -1; ++i) {
        const SOCHAR* text = m_options[i].text;
        if (text == nullptr)
            continue;
        const size_t textLength = Traits::length(text);
        if (textLength == length && Traits::compare(text, name, length) == 0)
            return i;

        // A non-empty proper beginning of the entry after the same dashes.
        if (countDashes(text, textLength) != dashes)
            continue;
        const size_t rest = length - dashes;
        if (rest == 0 || rest >= textLength - dashes)
            continue;
        if (Traits::compare(text + dashes, name + dashes, rest) != 0)
            continue;
        if (rest > bestLength) {
            best = i;
            bestLength = rest;
            ambiguous = false;
        } else if (rest == bestLength) {
            ambiguous = true;
        }
    }
    return ambiguous ? SO_OPT_MULTIPLE : best;
}

template <class SOCHAR>
bool CSimpleOptTempl<SOCHAR>::Next()
{
    while (m_nextArg < m_lastArg) {
        SOCHAR* word = m_argv[m_nextArg];
        if (word == nullptr || word[0] != SOCHAR('-')) {
            moveBehind();
            continue;
        }
        ++m_nextArg;

        size_t nameLength = Traits::length(word);
        SOCHAR* inlineArg = nullptr;
        const SOCHAR* equals = Traits::find(word, nameLength, SOCHAR('='));
        if (equals != nullptr) {
            nameLength = static_cast<size_t>(equals - word);
            inlineArg = word + nameLength + 1;
        }

        m_optionArg = nullptr;
        const int index = lookup(word, nameLength);
        if (index < 0) {
            m_lastError = index;
            m_optionId = -1;
            m_optionText = word;
            return true;
        }

        const SOption& option = m_options[index];
        m_optionId = option.id;
        m_optionText = option.text;
        m_lastError = SO_SUCCESS;
        if (option.argType == SO_NONE) {
            if (inlineArg != nullptr)
                m_lastError = SO_ARG_INVALID;
            return true;
        }

        if (inlineArg != nullptr) {
            m_optionArg = inlineArg;
        } else if (m_nextArg >= m_lastArg || m_argv[m_nextArg] == nullptr) {
            m_lastError = SO_ARG_MISSING;
        } else if (m_argv[m_nextArg][0] == SOCHAR('-')) {
            // Left in place: it is examined as an option of its own.
            m_lastError = SO_ARG_INVALID_DATA;
        } else {
            m_optionArg = m_argv[m_nextArg++];
        }
        return true;
    }
    return false;
}

extern template class CSimpleOptTempl<char>;

using SOption = SOptionTempl<char>;
using CSimpleOpt = CSimpleOptTempl<char>;

#endif

// Line-level building blocks for Boost.Spirit (classic) grammars of
// Postfix-style configuration files: line feeds, blanks, empty lines,
// "#" comments and the field separator that may continue a logical line on
// following lines that start with whitespace.
//
// Whitespace means space, tab or carriage return; a line feed is never
// whitespace, so a grammar sees line structure explicitly. The parsers carry
// no attribute and hold no state: use them through the *_p objects, with a
// plain character scanner (no skipper).
#ifndef KORVO_POSTFIX_PARSER_LINEPARSERS_H
#define KORVO_POSTFIX_PARSER_LINEPARSERS_H

#include <boost/spirit/include/classic_core.hpp>

namespace korvo::parser {

namespace classic = boost::spirit::classic;

inline const classic::chlit<char> lf_p('\n');
inline const classic::chlit<char> sp_p(' ');

// One whitespace character: space, tab or carriage return.
struct swsp_parser : classic::char_parser<swsp_parser> {
    template <typename CharT> bool test(CharT ch) const {
        return ch == ' ' || ch == '\t' || ch == '\r';
    }
};

inline const swsp_parser swsp_p;

// Zero or more whitespace characters.
struct empty_line_parser : classic::parser<empty_line_parser> {
    template <typename ScannerT>
    typename classic::parser_result<empty_line_parser, ScannerT>::type
    parse(const ScannerT& scan) const {
        return (*swsp_p).parse(scan);
    }
};

// "#" and everything up to, not including, the next line feed.
struct comments_parser : classic::parser<comments_parser> {
    template <typename ScannerT>
    typename classic::parser_result<comments_parser, ScannerT>::type
    parse(const ScannerT& scan) const {
        return (classic::ch_p('#') >> *(classic::anychar_p - lf_p)).parse(scan);
    }
};

inline const comments_parser comments_p;

// Optional whitespace, then a comment.
struct comments_line_parser : classic::parser<comments_line_parser> {
    template <typename ScannerT>
    typename classic::parser_result<comments_line_parser, ScannerT>::type
    parse(const ScannerT& scan) const {
        return (*swsp_p >> comments_p).parse(scan);
    }
};

// A field separator, possibly empty: optional whitespace and comment; then
// optionally a line feed, any number of blank or comment lines, and a line
// that starts with at least one whitespace character. This is how an entry
// continues on the next line.
struct continuous_spaces_parser : classic::parser<continuous_spaces_parser> {
    template <typename ScannerT>
    typename classic::parser_result<continuous_spaces_parser, ScannerT>::type
    parse(const ScannerT& scan) const {
        return (*swsp_p >> !comments_p >> !(lf_p >> *(*swsp_p >> !comments_p >> lf_p) >> +swsp_p))
            .parse(scan);
    }
};

inline const empty_line_parser empty_line_p;
inline const comments_line_parser comments_line_p;
inline const continuous_spaces_parser continuous_spaces_p;

} // namespace korvo::parser

#endif

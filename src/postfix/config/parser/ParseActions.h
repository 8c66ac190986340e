// Semantic actions shared by the Boost.Spirit (classic) grammars.
//
// Both hold references to the object being filled, which must outlive the
// parse. They accept the two call forms that Spirit uses: an iterator range
// for parsers without an attribute, or the attribute value itself (a
// character or number). Neither can fail beyond std::bad_alloc.
#ifndef KORVO_POSTFIX_PARSER_PARSEACTIONS_H
#define KORVO_POSTFIX_PARSER_PARSEACTIONS_H

#include <list>
#include <string>

namespace korvo::parser {

// Appends the matched text as one word.
class WordAppender {
public:
    explicit WordAppender(std::list<std::string>& words) : words_(words) {}

    template <typename IteratorT> void operator()(IteratorT first, IteratorT last) const {
        words_.emplace_back(first, last);
    }

private:
    std::list<std::string>& words_;
};

// Stores a fixed value whenever its parser matches, whatever it matched.
template <typename T> class ConstAssigner {
public:
    ConstAssigner(T& target, T value) : target_(target), value_(value) {}

    template <typename IteratorT> void operator()(IteratorT, IteratorT) const { target_ = value_; }
    template <typename AttributeT> void operator()(const AttributeT&) const { target_ = value_; }

private:
    T& target_;
    T value_;
};

} // namespace korvo::parser

#endif

// Record filters for whole-table rewrites of Postfix lookup tables.
//
// An element filter is any copyable object whose call operator takes one
// string by reference (a key, a whole value or one element of an address
// list), may rewrite it in place, and returns whether the item is kept. The
// templates here compose element filters into record-line filters:
//
//   ValueListFilter<F>       applies F to every element of a list value
//                            ("a@x, b@y c@z") and joins the survivors with
//                            ", "; an empty result drops the value;
//   KeyValueFilter<K, V>     splits a record line "key value" and applies K
//                            to the key and V to the value;
//   ElementsFilter<F>        a KeyValueFilter whose key is filtered by F and
//                            whose value is a list filtered by F.
//
// A record-line filter takes one line by reference and returns whether the
// record stays; a kept line is rewritten as key, one blank, value. Lines
// that hold no key/value pair are not errors: they are reported on
// std::clog and dropped. Nothing here throws except on allocation failure.
//
// Use: DatabaseHelper::filterRecords(table,
//          ElementsFilter<ReplaceElementFilterRef>(ReplaceElementFilterRef(from, to)));
// The Ref filter holds references: the strings must outlive the rewrite.
#ifndef KORVO_POSTFIX_ELEMENTFILTERS_H
#define KORVO_POSTFIX_ELEMENTFILTERS_H

#include <string>

namespace korvo::mail::postfix::database {

// An item equal to from becomes to; every item is kept.
class ReplaceElementFilterRef {
public:
    ReplaceElementFilterRef(const std::string& from, const std::string& to) : from(from), to(to) {}

    bool operator()(std::string& item) const {
        if (item == from) {
            item = to;
        }
        return true;
    }

private:
    const std::string& from;
    const std::string& to;
};

// A comma or any white space separates the elements of an address list.
bool isListSep(char c);

// Applies filter to each element of the list in text and replaces text with
// the kept elements joined by ", ". Runs of separators count as one, and the
// empty pieces before a leading or after a trailing separator are no
// elements. Returns false when no element remains.
template <class F> bool filterList(F& filter, std::string& text) {
    std::string result;
    std::string element;
    std::string::size_type pos = 0;
    const std::string::size_type size = text.size();
    while (pos < size) {
        while (pos < size && isListSep(text[pos])) {
            ++pos;
        }
        const std::string::size_type begin = pos;
        while (pos < size && !isListSep(text[pos])) {
            ++pos;
        }
        if (begin == pos) {
            break;
        }
        element.assign(text, begin, pos - begin);
        if (!filter(element)) {
            continue;
        }
        if (!result.empty()) {
            result += ", ";
        }
        result += element;
    }
    text.swap(result);
    return !text.empty();
}

// An element filter over a whole list value.
template <class F> class ValueListFilter {
public:
    explicit ValueListFilter(const F& filter) : filter(filter) {}

    bool operator()(std::string& value) { return filterList(filter, value); }

private:
    F filter;
};

// Reports a line that holds no key/value pair; such a line is dropped.
void reportInvalidLine(const std::string& line);

// Splits line at the first blank or tab into key and value (the value
// trimmed of blanks and tabs). False when there is no separator (reported)
// or no value (silent).
bool splitRecordLine(const std::string& line, std::string& key, std::string& value);

// A record-line filter: keyFilter decides on the key, valueFilter on the
// value; both may rewrite their part.
template <class K, class V> class KeyValueFilter {
public:
    KeyValueFilter(const K& keyFilter, const V& valueFilter)
        : keyFilter(keyFilter), valueFilter(valueFilter) {}

    bool operator()(std::string& line) {
        std::string key;
        std::string value;
        if (!splitRecordLine(line, key, value) || !keyFilter(key) || !valueFilter(value)) {
            return false;
        }
        line.assign(key).append(1, ' ').append(value);
        return true;
    }

private:
    K keyFilter;
    V valueFilter;
};

// The same element filter on the key and on every element of the value.
template <class F> class ElementsFilter : public KeyValueFilter<F, ValueListFilter<F>> {
public:
    explicit ElementsFilter(const F& filter)
        : KeyValueFilter<F, ValueListFilter<F>>(filter, ValueListFilter<F>(filter)) {}
};

} // namespace korvo::mail::postfix::database

#endif

// Semantic actions of the master.cf grammar (MasterCfGrammar.h).
//
// They move what the grammar recognises into a MasterCfContent: a service
// entry becomes an indexed entry with its exact text, a comment or blank
// line becomes a raw line. The content and the entry being parsed must
// outlive the parse. Only std::bad_alloc can escape.
#ifndef KORVO_POSTFIX_MASTERCFACTIONS_H
#define KORVO_POSTFIX_MASTERCFACTIONS_H

#include "postfix/config/MasterCfContent.h"
#include "postfix/config/ModuleInfo.h"

#include <string>

namespace korvo::mail::postfix {

// At the service name: starts a fresh entry from the defaults, so an entry
// never inherits fields or command words of the one before it.
class MasterCfModuleStarter {
public:
    explicit MasterCfModuleStarter(ModuleInfo& current) : current_(current) {}

    template <typename IteratorT> void operator()(IteratorT first, IteratorT last) const {
        current_ = ModuleInfo();
        current_.name.assign(first, last);
    }

private:
    ModuleInfo& current_;
};

// At the end of a service entry: stores it with its text, from the first
// character of the name to the end of its trailing whitespace.
class MasterCfModuleAppender {
public:
    MasterCfModuleAppender(MasterCfContent& content, const ModuleInfo& current)
        : content_(content), current_(current) {}

    template <typename IteratorT> void operator()(IteratorT first, IteratorT last) const {
        content_.addModule(current_, std::string(first, last));
    }

private:
    MasterCfContent& content_;
    const ModuleInfo& current_;
};

// A comment line or blank line, kept as it is.
class MasterCfRawAppender {
public:
    explicit MasterCfRawAppender(MasterCfContent& content) : content_(content) {}

    template <typename IteratorT> void operator()(IteratorT first, IteratorT last) const {
        content_.appendRawLine(std::string(first, last));
    }

private:
    MasterCfContent& content_;
};

} // namespace korvo::mail::postfix

#endif

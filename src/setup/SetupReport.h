// What one run of the setup program changed, noticed and could not do.
//
// Every change is one line on the output stream as it is made, so a second
// run over a finished installation prints nothing there. Notes (an existing
// directory whose owner or mode differs from what setup would give it) and
// refusals (a setting someone else made, a step that failed) go to the error
// stream; a refusal makes the run incomplete, which the program reports by
// its exit status. Nothing here fails beyond the streams' own errors.
//
// Use: SetupReport report(std::cout, std::cerr); report.changed("..."); ...
//      return report.complete() ? 0 : 1;
#ifndef KORVO_SETUP_SETUPREPORT_H
#define KORVO_SETUP_SETUPREPORT_H

#include <ostream>
#include <string>

namespace korvo::setup {

class SetupReport {
public:
    SetupReport(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    void changed(const std::string& what);
    void note(const std::string& what);
    // Something that is not as setup needs it and was left as it is.
    void refused(const std::string& what);
    void failed(const std::string& step, const std::string& why);

    bool complete() const { return complete_; }
    bool changedAnything() const { return changes_ != 0; }

private:
    std::ostream& out_;
    std::ostream& err_;
    int changes_ = 0;
    bool complete_ = true;
};

} // namespace korvo::setup

#endif

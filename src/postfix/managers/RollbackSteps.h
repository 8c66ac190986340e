// Undo steps of a change that rewrites several lookup tables one after the
// other, such as renaming a mailname or a domain.
//
// After each table is rewritten, the operation arms the step that would
// rewrite it back. When a later step fails, run() undoes the armed steps in
// reverse order and the operation lets the first exception continue. An undo
// step that fails itself cannot be repaired here: it is reported on
// korvo::uerr as one message naming the table (doubleErrorHead, the table's
// title, doubleErrorTail) and the remaining steps still run, so as much as
// possible is restored.
//
// Use:
//   RollbackSteps rollback;
//   try {
//       rewrite(table, from, to);
//       rollback.arm(table, [&] { rewrite(table, to, from); });
//       ...
//   } catch (...) {
//       rollback.run();
//       throw;
//   }
#ifndef KORVO_POSTFIX_ROLLBACKSTEPS_H
#define KORVO_POSTFIX_ROLLBACKSTEPS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace korvo::mail::postfix {

// Head and tail of the message of an undo step that failed; the table's
// title goes between them.
extern const std::string doubleErrorHead;
extern const std::string doubleErrorTail;

// The title of a table (Tables.h) in that message; the table name itself for
// a table without one.
std::string tableTitle(const std::string& table);

class RollbackSteps {
public:
    using Step = std::function<void()>;

    RollbackSteps() = default;
    RollbackSteps(const RollbackSteps&) = delete;
    RollbackSteps& operator=(const RollbackSteps&) = delete;

    // Arms step as the undo of the rewrite of table just made.
    void arm(const std::string& table, Step step);

    // Runs the armed steps, the last armed first, and disarms them. Never
    // throws: a failing step is reported and the next one runs.
    void run() noexcept;

private:
    std::vector<std::pair<std::string, Step>> steps;
};

} // namespace korvo::mail::postfix

#endif

#include "front/Usage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iomanip>

namespace korvo::mail::postfix::vornctl_commands {

void usageShort(int status, std::ostream& out) {
    out << "Usage: vornctl <COMMAND> <COMMAND OPTIONS...>" << std::endl;
    out << "\t for a complete list of commands use ``vornctl --help-commands''" << std::endl;
    out << "\t for help on syntax for a particular command use ``vornctl <COMMAND> --help''"
        << std::endl;
    out << "\t for legacy complete help use ``vornctl --help-legacy''" << std::endl;
    std::exit(status);
}

void usageCommands(int status, std::ostream& out, const CommandDescription* rows,
                   std::size_t count) {
    out << "Vornctl commands:" << '\n';
    std::size_t longest = 0;
    for (std::size_t i = 0; i < count; ++i)
        longest = std::max(longest, std::strlen(rows[i].name));
    const int width = static_cast<int>(longest + 2);
    for (std::size_t i = 0; i < count; ++i)
        out << std::left << std::setw(width) << rows[i].name << rows[i].description << '\n';
    out.flush();
    std::exit(status);
}

void usageLegacy(int status, std::ostream& out, const CommandDescription* rows, std::size_t count) {
    out << "Usage: vornctl [OPTIONS]... " << '\n';
    for (std::size_t i = 0; i < count; ++i) {
        const CommandDescription& row = rows[i];
        out << "  " << row.name << ' ' << row.syntax << '\n';
        out << "        " << row.description << '\n';
    }
    out.flush();
    std::exit(status);
}

} // namespace korvo::mail::postfix::vornctl_commands

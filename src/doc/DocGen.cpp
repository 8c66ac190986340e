// vornctl-docgen: writes vornctl(8) from the command table, or the bash
// completion of vornctl from the command table and the options the built
// tool reports for each command, so that neither can drift from the tool.
//
//   vornctl-docgen man OUTPUT
//   vornctl-docgen bash-completion OUTPUT VORNCTL
#include "doc/Completion.h"
#include "doc/ManPage.h"
#include "front/CommandTable.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    namespace commands = korvo::mail::postfix::vornctl_commands;
    const std::string kind = argc >= 3 ? argv[1] : "";
    if (!(kind == "man" && argc == 3) && !(kind == "bash-completion" && argc == 4)) {
        std::cerr << "usage: vornctl-docgen man OUTPUT\n"
                     "       vornctl-docgen bash-completion OUTPUT VORNCTL"
                  << std::endl;
        return 2;
    }
    // Written in full before the output is opened, so that a failure
    // leaves no half-written file behind for the build to install.
    std::ostringstream text;
    try {
        if (kind == "man")
            korvo::doc::writeManPage(text, commands::commandDescriptions,
                                     commands::commandDescriptionCount);
        else
            korvo::doc::writeBashCompletion(text, commands::commandDescriptions,
                                            commands::commandDescriptionCount,
                                            korvo::doc::builtToolHelp(argv[3]));
    } catch (const korvo::doc::CompletionError& error) {
        std::cerr << "vornctl-docgen: " << error.what() << std::endl;
        return 1;
    }
    std::ofstream out(argv[2], std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        std::cerr << "vornctl-docgen: cannot write " << argv[2] << std::endl;
        return 1;
    }
    return 0;
}

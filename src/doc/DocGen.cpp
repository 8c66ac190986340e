// vornctl-docgen: writes vornctl(8) or the bash completion of vornctl from
// the command table, so that neither can drift from the tool's own help.
//
//   vornctl-docgen man|bash-completion OUTPUT
#include "doc/Completion.h"
#include "doc/ManPage.h"
#include "front/CommandTable.h"

#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    namespace commands = korvo::mail::postfix::vornctl_commands;
    const std::string kind = argc == 3 ? argv[1] : "";
    if (kind != "man" && kind != "bash-completion") {
        std::cerr << "usage: vornctl-docgen man|bash-completion OUTPUT" << std::endl;
        return 2;
    }
    std::ofstream out(argv[2], std::ios::trunc);
    if (kind == "man")
        korvo::doc::writeManPage(out, commands::commandDescriptions,
                                 commands::commandDescriptionCount);
    else
        korvo::doc::writeBashCompletion(out, commands::commandDescriptions,
                                        commands::commandDescriptionCount);
    out.close();
    if (!out) {
        std::cerr << "vornctl-docgen: cannot write " << argv[2] << std::endl;
        return 1;
    }
    return 0;
}

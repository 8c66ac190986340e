#include "front/Dispatch.h"

#include "front/CommandTable.h"
#include "front/Usage.h"
#include "mail/auth/MailAuthDB.h"
#include "mysql/DbConnect.h"

#include <iostream>
#include <string>

namespace korvo::mail::postfix::vornctl_commands {

int do_main(int argc, char** argv) {
    if (argc <= 1) {
        std::cerr << "Error: "
                  << "no command specified" << std::endl;
        usageShort(1, std::cerr);
    }
    const std::string word = argv[1];
    const CommandMap commands = buildCommandTable();
    const auto found = commands.find(word);
    if (found == commands.end()) {
        std::cerr << "Error: "
                  << "invalid command " << word << std::endl;
        usageShort(1, std::cerr);
    }
    mailAuthDBSelectStyle(1);
    // Every panel lookup of the run goes over one connection, opened at the
    // first lookup: a command that reads no panel opens none.
    const korvo::mysql::SharedConnection panel;
    return found->second(argc - 1, argv + 1);
}

} // namespace korvo::mail::postfix::vornctl_commands

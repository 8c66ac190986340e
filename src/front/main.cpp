// Process entry: runs one command and turns whatever escapes into a status.
#include "front/Dispatch.h"
#include "utils/ReportException.h"

#include <exception>

int main(int argc, char** argv) {
    try {
        return korvo::mail::postfix::vornctl_commands::do_main(argc, argv);
    } catch (const std::exception& e) {
        korvo::reportException(e);
        return 1;
    } catch (...) {
        korvo::reportUntypedException();
        return 2;
    }
}

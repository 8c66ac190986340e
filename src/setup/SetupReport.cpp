#include "setup/SetupReport.h"

namespace korvo::setup {

void SetupReport::changed(const std::string& what) {
    out_ << what << std::endl;
    ++changes_;
}

void SetupReport::note(const std::string& what) {
    err_ << "note: " << what << std::endl;
}

void SetupReport::refused(const std::string& what) {
    err_ << "not changed: " << what << std::endl;
    complete_ = false;
}

void SetupReport::failed(const std::string& step, const std::string& why) {
    err_ << "error: " << step << ": " << why << std::endl;
    complete_ = false;
}

} // namespace korvo::setup

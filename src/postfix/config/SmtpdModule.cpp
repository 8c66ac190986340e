#include "postfix/config/SmtpdModule.h"

namespace korvo::mail::postfix {

namespace {
const char* const proxyFilterHost = "127.0.0.1";
const char* const proxyFilterPort = "10025";
} // namespace

SmtpdModule::SmtpdModule() {
    name = "smtp";
    type = ModuleType::INET;
    privateService = false;
    chroot = false;
    command = {"smtpd", proxyFilterOption()};
}

std::string SmtpdModule::proxyFilterOption() {
    return std::string("-o smtpd_proxy_filter=") + proxyFilterHost + ":" + proxyFilterPort;
}

} // namespace korvo::mail::postfix

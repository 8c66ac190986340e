// A mailbox's automatic reply as the panel stores it (tables mail_resp and
// mail_resp_files of the panel database, tests/sql/panel-schema.sql).
//
// The hook runs as the mail account, which has no share of the panel's
// administrator password: it connects over the local socket as the database
// account named like the system account it runs as (MariaDB's unix_socket
// authentication), which may only read those tables and the mailbox rows.
// Failures (no connection, a failed query) raise std::runtime_error with
// the server's error text; a mailbox without a reply row gives nothing.
#ifndef KORVO_AUTORESPONDER_REPLYSETTINGS_H
#define KORVO_AUTORESPONDER_REPLYSETTINGS_H

#include <optional>
#include <string>
#include <vector>

namespace korvo::autoresponder {

struct ReplySettings {
    std::string subject; // empty: "Re: " and the original subject
    std::string text;
    std::string contentType = "text/plain";
    std::string charset = "UTF-8";
    long resendInterval = 86400;    // seconds between two replies to one sender
    std::vector<std::string> files; // names in the mailbox's attachment store
};

std::optional<ReplySettings> loadReplySettings(const std::string& mailname,
                                               const std::string& domain);

} // namespace korvo::autoresponder

#endif

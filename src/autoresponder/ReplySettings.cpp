#include "autoresponder/ReplySettings.h"

#include <memory>
#include <mysql.h>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace korvo::autoresponder {

namespace {

const char* const DATABASE = "orq";

using Connection = std::unique_ptr<MYSQL, void (*)(MYSQL*)>;
using Result = std::unique_ptr<MYSQL_RES, void (*)(MYSQL_RES*)>;

[[noreturn]] void fail(MYSQL* handle, const std::string& step) {
    throw std::runtime_error("panel database: " + step + ": " + ::mysql_error(handle));
}

Connection connect() {
    Connection handle(::mysql_init(nullptr), ::mysql_close);
    if (!handle)
        throw std::runtime_error("panel database: out of memory");
    const struct passwd* account = ::getpwuid(::getuid());
    if (account == nullptr)
        throw std::runtime_error("panel database: the hook's account has no name");
    if (::mysql_real_connect(handle.get(), "localhost", account->pw_name, nullptr, DATABASE, 0,
                             nullptr, 0) == nullptr)
        fail(handle.get(), "connect as " + std::string(account->pw_name));
    if (::mysql_set_character_set(handle.get(), "utf8mb4") != 0)
        fail(handle.get(), "set the character set");
    return handle;
}

std::string quoted(MYSQL* handle, const std::string& text) {
    std::string escaped(text.size() * 2 + 1, '\0');
    escaped.resize(::mysql_real_escape_string(handle, escaped.data(), text.data(), text.size()));
    return "'" + escaped + "'";
}

Result query(MYSQL* handle, const std::string& text) {
    if (::mysql_real_query(handle, text.data(), text.size()) != 0)
        fail(handle, "query");
    Result result(::mysql_store_result(handle), ::mysql_free_result);
    if (!result)
        fail(handle, "fetch the result");
    return result;
}

std::string column(MYSQL_ROW row, unsigned long* lengths, unsigned index) {
    return row[index] == nullptr ? std::string() : std::string(row[index], lengths[index]);
}

} // namespace

std::optional<ReplySettings> loadReplySettings(const std::string& mailname,
                                               const std::string& domain) {
    const Connection handle = connect();
    const std::string mailbox =
        "FROM mail m JOIN domains d ON m.dom_id = d.id WHERE m.mail_name = " +
        quoted(handle.get(), mailname) + " AND d.name = " + quoted(handle.get(), domain);
    const Result reply =
        query(handle.get(), "SELECT r.subject, r.text, r.content_type, r.charset, "
                            "r.resend_interval FROM mail_resp r JOIN (SELECT m.id " +
                                mailbox + ") b ON r.mn_id = b.id");
    const MYSQL_ROW row = ::mysql_fetch_row(reply.get());
    if (row == nullptr)
        return std::nullopt;
    unsigned long* lengths = ::mysql_fetch_lengths(reply.get());
    ReplySettings settings;
    settings.subject = column(row, lengths, 0);
    settings.text = column(row, lengths, 1);
    settings.contentType = column(row, lengths, 2);
    settings.charset = column(row, lengths, 3);
    settings.resendInterval = std::stol("0" + column(row, lengths, 4));

    const Result files =
        query(handle.get(), "SELECT f.file_name FROM mail_resp_files f JOIN "
                            "(SELECT m.id " +
                                mailbox + ") b ON f.mn_id = b.id ORDER BY f.file_name");
    while (const MYSQL_ROW file = ::mysql_fetch_row(files.get()))
        settings.files.push_back(column(file, ::mysql_fetch_lengths(files.get()), 0));
    return settings;
}

} // namespace korvo::autoresponder

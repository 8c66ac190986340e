#include "autoresponder/Reply.h"

#include "handlers/HandlerRunner.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"
#include "utils/ForkExec.h"
#include "utils/QuotedAddress.h"
#include "utils/UnnamedFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace korvo::autoresponder {

namespace {

const char* const SENDMAIL = "/usr/sbin/sendmail";
const char* const ATTACHMENTS = "@attachments";
const char* const SPOOL_DIRECTORY = "/var/tmp";
constexpr std::size_t BASE64_LINE_BYTES = 57; // 76 characters a line

const char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const unsigned char* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; i += 3) {
        const unsigned value = (data[i] << 16) | (i + 1 < size ? data[i + 1] << 8 : 0) |
                               (i + 2 < size ? data[i + 2] : 0);
        out += BASE64[(value >> 18) & 63];
        out += BASE64[(value >> 12) & 63];
        out += i + 1 < size ? BASE64[(value >> 6) & 63] : '=';
        out += i + 2 < size ? BASE64[value & 63] : '=';
    }
    return out;
}

bool plainAscii(const std::string& text) {
    for (const unsigned char c : text)
        if (c >= 0x80 || c < 0x20)
            return false;
    return true;
}

// A header text, as an encoded word when it is not plain ASCII.
std::string headerText(const std::string& text) {
    if (plainAscii(text))
        return text;
    return "=?UTF-8?B?" + base64(reinterpret_cast<const unsigned char*>(text.data()), text.size()) +
           "?=";
}

// Only names without a path and without quotes fit a header parameter.
bool usableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\"\\\r\n") == std::string::npos;
}

class Writer {
public:
    explicit Writer(int fd) : fd_(fd) {}
    Writer& operator<<(const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t put = ::write(fd_, text.data() + done, text.size() - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                throwSystemError("write the reply", errno);
            done += static_cast<std::size_t>(put);
        }
        return *this;
    }

private:
    int fd_;
};

// The file as base64 lines; false when it is not there.
bool writeAttachment(Writer& out, int storeFd, const std::string& name) {
    const FdOwner file(::openat(storeFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0)
        return false;
    unsigned char buffer[BASE64_LINE_BYTES * 64];
    std::size_t filled = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer + filled, sizeof buffer - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throwSystemError("read the attachment " + name, errno);
        filled += static_cast<std::size_t>(got);
        const bool end = got == 0;
        std::size_t done = 0;
        while (filled - done >= BASE64_LINE_BYTES || (end && done < filled)) {
            const std::size_t take = std::min(BASE64_LINE_BYTES, filled - done);
            out << base64(buffer + done, take) << "\n";
            done += take;
        }
        std::copy(buffer + done, buffer + filled, buffer);
        filled -= done;
        if (end)
            return true;
    }
}

std::string boundary() {
    std::random_device random;
    return "=_vornctl_reply_" + std::to_string(random()) + std::to_string(random());
}

} // namespace

void composeReply(int fd, const ReplySettings& settings, const IncomingMessage& incoming,
                  const ReplyParties& parties, int homeFd) {
    Writer out(fd);
    const std::string subject =
        settings.subject.empty() ? "Re: " + incoming.field("subject") : settings.subject;
    out << "From: <" << parties.mailbox << ">\n"
        << "To: <" << quotedAddress(parties.sender) << ">\n"
        << "Subject: " << headerText(subject) << "\n"
        << "Auto-Submitted: auto-replied\n";
    const std::string messageId = incoming.field("message-id");
    if (!messageId.empty()) {
        const std::string references = incoming.field("references");
        out << "In-Reply-To: " << messageId << "\n"
            << "References: " << (references.empty() ? "" : references + " ") << messageId << "\n";
    }
    out << "MIME-Version: 1.0\n";
    const std::string textType = "Content-Type: " + settings.contentType + "; charset=\"" +
                                 settings.charset + "\"\nContent-Transfer-Encoding: 8bit\n";
    const FdOwner store(
        ::openat(homeFd, ATTACHMENTS, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (settings.files.empty() || store.get() < 0) {
        out << textType << "\n" << settings.text << "\n";
        return;
    }
    const std::string mark = boundary();
    out << "Content-Type: multipart/mixed; boundary=\"" << mark << "\"\n\n"
        << "--" << mark << "\n"
        << textType << "\n"
        << settings.text << "\n";
    for (const std::string& name : settings.files) {
        if (!usableFileName(name))
            continue;
        out << "--" << mark << "\n"
            << "Content-Type: application/octet-stream; name=\"" << name << "\"\n"
            << "Content-Disposition: attachment; filename=\"" << name << "\"\n"
            << "Content-Transfer-Encoding: base64\n\n";
        if (!writeAttachment(out, store.get(), name))
            out << "\n";
    }
    out << "--" << mark << "--\n";
}

void sendReply(const ReplySettings& settings, const IncomingMessage& incoming,
               const ReplyParties& parties, int homeFd) {
    // Composed completely before sendmail sees a byte: a failure half-way
    // must not send half a reply.
    const FdOwner spool(createUnnamedFile(SPOOL_DIRECTORY));
    composeReply(spool.get(), settings, incoming, parties, homeFd);
    const FdOwner reader(reopenForReading(spool.get()));
    std::string from = "<>";
    // Postfix's unquoted form would make sendmail split "john doe"@x.
    std::string to = quotedAddress(parties.sender);
    char* const argv[] = {const_cast<char*>("sendmail"),
                          const_cast<char*>("-i"),
                          const_cast<char*>("-f"),
                          from.data(),
                          const_cast<char*>("--"),
                          to.data(),
                          nullptr};
    const pid_t child = fork_execv_pipes(reader.get(), -1, 2, SENDMAIL, argv);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            throwSystemError("wait for sendmail", errno);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string(SENDMAIL) + " did not take the reply");
}

} // namespace korvo::autoresponder

#include "postfix/tables/DatabaseHelper.h"

#include "postfix/tables/PostfixUtilities.h"
#include "postfix/tables/TableRebuild.h"
#include "postfix/tables/Tables.h"
#include "process/DescriptorSpec.h"
#include "process/MKLock.h"
#include "process/Pipe.h"
#include "utils/ChildCore.h"
#include "utils/Exceptions.h"
#include "utils/FdOwner.h"

#include <boost/bind/bind.hpp>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ios>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace korvo::mail::postfix {

namespace {

using utilities::errorMessage;
using utilities::exitedSuccessfully;

// A run whose failure is an add, rebuild or dump failure.
void runConfiguring(process::Pipe& pipe) {
    std::string errors;
    if (!exitedSuccessfully(utilities::runCollectingErrors(pipe, errors))) {
        throw PostfixConfigurationError(errorMessage(errors));
    }
}

// A delete run: a non-zero exit without an error line is an absent key.
void runDeleting(process::Pipe& pipe) {
    std::string errors;
    const int status = utilities::runCollectingErrors(pipe, errors);
    if (exitedSuccessfully(status)) {
        return;
    }
    if (!WIFEXITED(status) || !checkOutput(errors)) {
        throw PostfixDatabaseError(errorMessage(errors));
    }
}

void feedStdin(process::Pipe& pipe, const DatabaseHelper::Feeder& feeder) {
    pipe.flags.stdinChannel.fd = process::FD_PIPE;
    pipe.flags.stdinChannel.function = feeder;
}

// The lock every change of table holds, record-level or whole.
class TableLock {
public:
    explicit TableLock(const std::string& table)
        : lock_(tables::sourcePath(table), MKLock::LOCK_BY_DIGEST, MKLock::BLOCK) {}

private:
    const MKLock lock_;
};

void rebuild(const utilities::ProcessParameters& command) {
    process::Pipe pipe(command);
    pipe.flags.stdinChannel.fd = process::FD_DEVNULL;
    runConfiguring(pipe);
}

// How a rebuild's child reports a failure: a kind letter, the error code,
// a line feed, the message (without the text of the error code).
std::string report(char kind, int code, const std::string& what) {
    std::string message = what;
    const std::string codeText = std::string(": ") + std::strerror(code);
    if (code != 0 && message.size() >= codeText.size() &&
        message.compare(message.size() - codeText.size(), codeText.size(), codeText) == 0) {
        message.resize(message.size() - codeText.size());
    }
    return kind + std::to_string(code) + "\n" + message;
}

std::string runReporting(const std::function<void()>& work) {
    try {
        work();
        return "";
    } catch (const PostfixConfigurationError& e) {
        return report('C', 0, e.what());
    } catch (const std::ios_base::failure& e) {
        return report('I', e.code().value(), e.what());
    } catch (const SystemError& e) {
        return report('S', e.code(), e.what());
    } catch (const std::exception& e) {
        return report('R', 0, e.what());
    } catch (...) {
        return report('R', 0, "unknown error");
    }
}

void raiseReported(const std::string& reported) {
    if (reported.empty()) {
        return;
    }
    const std::string::size_type end = reported.find('\n');
    const int code = std::atoi(reported.substr(1, end - 1).c_str());
    const std::string message = end == std::string::npos ? "" : reported.substr(end + 1);
    switch (reported[0]) {
    case 'C':
        throw PostfixConfigurationError(message);
    case 'I':
        throw std::ios_base::failure(message, std::error_code(code, std::system_category()));
    case 'S':
        throwSystemError(message, code);
    default:
        throw std::runtime_error(message);
    }
}

std::string readToEnd(int fd) {
    std::string text;
    char piece[4096];
    for (;;) {
        const ssize_t got = ::read(fd, piece, sizeof piece);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(piece, static_cast<std::size_t>(got));
    }
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

// Runs a rebuild of table in a child process of its own and raises its
// failure here, with its class and message. The child inherits the
// table's lock, so when the tool is killed mid-way (kill -9, a time-out)
// the child still finishes: it switches to the new database or keeps the
// old one and removes its temporaries before the lock is released, as
// postmap itself would finish its run anyway.
void rebuildToTheEnd(const std::string& table, const std::function<void()>& work) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throwSystemError("pipe for the rebuild of " + table);
    }
    FdOwner readEnd(ends[0]);
    FdOwner writeEnd(ends[1]);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throwSystemError("fork for the rebuild of " + table);
    }
    if (pid == 0) {
        writeAll(writeEnd.get(), runReporting(work));
        // Nothing of the parent's (buffered output, exit handlers) may run
        // twice.
        ::_exit(0);
    }
    writeEnd.close();
    const std::string reported = readToEnd(readEnd.get());
    int status = 0;
    if (waitChild(pid, status, 0) != pid) {
        throwSystemError("waitpid for the rebuild of " + table);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the rebuild of " + table + " ended abnormally (wait status " +
                                 std::to_string(status) + ")");
    }
    raiseReported(reported);
}

// True for a diagnostic line whose severity word is an error.
bool reportsError(const std::string& line) {
    const std::string::size_type colon = line.find(':');
    if (colon == std::string::npos || colon + 1 == line.size()) {
        return false;
    }
    const std::string::size_type word = line.find_first_not_of(' ', colon + 1);
    if (word == std::string::npos || word + 1 == line.size() ||
        line.find(':', word + 1) == std::string::npos) {
        return false;
    }
    const std::string severity = line.substr(word, 6);
    return severity == "panic:" || severity == "fatal:" || severity == "error:";
}

} // namespace

bool checkOutput(const std::string& output) {
    std::string::size_type begin = 0;
    while (begin < output.size()) {
        std::string::size_type end = output.find('\n', begin);
        if (end == std::string::npos) {
            end = output.size();
        }
        if (reportsError(output.substr(begin, end - begin))) {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

void DatabaseHelper::addRecord(const std::string& table, const std::string& key,
                               const std::string& value) {
    const Record record(key, value);
    addRecords(table, &record, &record + 1);
}

void DatabaseHelper::removeRecord(const std::string& table, const std::string& key) {
    requireRepresentableKey(key);
    process::Pipe pipe(utilities::postmapDelete(key, table));
    pipe.flags.stdinChannel.fd = process::FD_DEVNULL;
    const TableLock lock(table);
    runDeleting(pipe);
}

bool DatabaseHelper::findRecord(const std::string& table, const std::string& key,
                                std::string& value) {
    requireRepresentableKey(key);
    process::Pipe pipe(utilities::postmapQuery(key, table));
    pipe.flags.stdinChannel.fd = process::FD_DEVNULL;
    std::string found;
    pipe.flags.stdoutChannel.fd = process::FD_PIPE;
    pipe.flags.stdoutChannel.function = process::makeStringReceiver(found);
    std::string errors;
    const int status = utilities::runCollectingErrors(pipe, errors);
    if (!WIFEXITED(status) || !checkOutput(errors))
        throw PostfixDatabaseError(errorMessage(errors));
    if (!exitedSuccessfully(status))
        return false;
    if (!found.empty() && found.back() == '\n')
        found.pop_back();
    value = found;
    return true;
}

void DatabaseHelper::addFromFeeder(const std::string& table, const Feeder& feeder) {
    process::Pipe pipe(utilities::postmapAdd(table));
    feedStdin(pipe, feeder);
    const TableLock lock(table);
    runConfiguring(pipe);
}

void DatabaseHelper::removeFromFeeder(const std::string& table, const Feeder& feeder) {
    process::Pipe pipe(utilities::postmapDeleteListed(table));
    feedStdin(pipe, feeder);
    const TableLock lock(table);
    runDeleting(pipe);
}

void DatabaseHelper::rebuildFromSource(const std::string& table, const SourceWriter& writeSource) {
    const TableLock lock(table);
    rebuildToTheEnd(table, [&table, &writeSource] {
        TableRebuild rebuilt(table);
        writeSource(rebuilt.source());
        rebuilt.closeSource();
        rebuild(utilities::postmapReplace(rebuilt.temporaryTable()));
        rebuilt.install();
    });
}

void DatabaseHelper::rewriteThrough(const std::string& table, database::DumpReceiver& receiver) {
    const TableLock lock(table);
    rebuildToTheEnd(table, [&table, &receiver] {
        process::Pipe dump(utilities::postmapDump(table));
        dump.flags.stdinChannel.fd = process::FD_DEVNULL;
        dump.flags.stdoutChannel.fd = process::FD_PIPE;
        dump.flags.stdoutChannel.function =
            boost::bind(&database::DumpReceiver::filterChunk, &receiver, boost::placeholders::_1);
        TableRebuild rebuilt(table);
        receiver.setOutput(rebuilt.source());
        runConfiguring(dump);
        receiver.finish();
        rebuilt.closeSource();
        rebuild(utilities::postmapRebuild(rebuilt.temporaryTable()));
        rebuilt.install();
    });
}

} // namespace korvo::mail::postfix

#include "postfix/tables/DatabaseHelper.h"

#include "postfix/tables/PostfixUtilities.h"
#include "postfix/tables/Tables.h"
#include "process/AutocleanOFStream.h"
#include "process/DescriptorSpec.h"
#include "process/MKLock.h"
#include "process/Pipe.h"
#include "utils/Exceptions.h"

#include <boost/bind/bind.hpp>
#include <stdexcept>
#include <sys/wait.h>

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

// The source file, written only by whoever holds the table's lock and
// deleted whatever happens.
class SourceFile : public AutocleanOFStream {
public:
    explicit SourceFile(const std::string& table) : AutocleanOFStream(tables::sourcePath(table)) {
        exceptions(std::ios_base::badbit | std::ios_base::failbit);
    }
};

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
    SourceFile source(table);
    writeSource(source);
    source.close();
    rebuild(utilities::postmapReplace(table));
}

void DatabaseHelper::rewriteThrough(const std::string& table, database::DumpReceiver& receiver) {
    process::Pipe dump(utilities::postmapDump(table));
    dump.flags.stdinChannel.fd = process::FD_DEVNULL;
    dump.flags.stdoutChannel.fd = process::FD_PIPE;
    dump.flags.stdoutChannel.function =
        boost::bind(&database::DumpReceiver::filterChunk, &receiver, boost::placeholders::_1);

    const TableLock lock(table);
    SourceFile source(table);
    receiver.setOutput(source);
    runConfiguring(dump);
    receiver.finish();
    source.close();
    rebuild(utilities::postmapRebuild(table));
}

} // namespace korvo::mail::postfix

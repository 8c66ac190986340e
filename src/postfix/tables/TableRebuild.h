// The temporary files of one whole-table rebuild, and the switch to the new
// database.
//
// A table is rebuilt beside itself, never in place: the records go to a
// temporary source file (the table's source path plus ".tmp"), postmap
// builds that name's own database from it, and install() renames the new
// database over the table's, so Postfix always reads either the old or the
// new complete table. The temporary source is created with
// O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600, owned by the tool's own user and
// group (root on a server), so postmap, which runs as the owner of its
// source file, keeps running as root. Temporaries of an earlier rebuild
// that died are removed first; the caller holds the table's lock, so no
// live rebuild owns them. The destructor removes both temporaries,
// whatever happened, and never throws.
//
// Failures: the temporary source that cannot be created or written raises
// std::ios_base::failure naming the file and the system error (through
// source(), which throws on bad and fail states); removing a stale
// temporary or installing the new database raises korvo::SystemError
// naming the operation and the file.
//
// Use (holding the table's lock):
//   TableRebuild rebuild(tables::VIRTUAL);
//   rebuild.source() << "info@example.com info@example.com\n";
//   rebuild.closeSource();
//   ... run "postmap -r" on rebuild.temporaryTable() ...
//   rebuild.install();
#ifndef KORVO_POSTFIX_TABLEREBUILD_H
#define KORVO_POSTFIX_TABLEREBUILD_H

#include "utils/FdOwner.h"

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace korvo::mail::postfix {

class TableRebuild {
public:
    explicit TableRebuild(const std::string& table);
    ~TableRebuild();

    TableRebuild(const TableRebuild&) = delete;
    TableRebuild& operator=(const TableRebuild&) = delete;

    // Where the record lines go; buffered, written as the buffer fills.
    std::ostream& source() { return stream_; }
    // Writes what is buffered and closes the temporary source.
    void closeSource();

    // The map specification postmap builds: the table's type and the
    // temporary source path.
    const std::string& temporaryTable() const { return temporaryTable_; }

    // Flushes the new database to disk with the old one's owner and mode,
    // renames it over the table's database and flushes the directory.
    void install();

private:
    // The two temporary names; stale ones are removed on construction, and
    // both are removed on destruction (declared first, so that a failing
    // constructor removes them too).
    struct Temporaries {
        explicit Temporaries(const std::string& table);
        ~Temporaries();
        Temporaries(const Temporaries&) = delete;
        Temporaries& operator=(const Temporaries&) = delete;

        const std::string source;
        const std::string index;
        // Berkeley DB's own scratch file, which postmap leaves when it
        // fails part-way (a full disk): "__db." and the index's name.
        const std::string scratch;
    };

    // Writes to the temporary source through its descriptor, in buffered
    // pieces; a failed write throws std::ios_base::failure.
    class SourceBuffer : public std::streambuf {
    public:
        SourceBuffer(int fd, const std::string& path);

    protected:
        int_type overflow(int_type c) override;
        int sync() override;

    private:
        void writeOut();

        const int fd_;
        const std::string path_;
        const std::unique_ptr<char[]> buffer_;
    };

    const Temporaries temporaries_;
    const std::string index_;
    const std::string temporaryTable_;
    FdOwner sourceFd_;
    std::unique_ptr<SourceBuffer> buffer_;
    std::ostream stream_;
};

} // namespace korvo::mail::postfix

#endif

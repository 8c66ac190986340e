// The panel's utility configuration, "/etc/orq/orq.conf", and its
// compiled-in defaults.
//
// The file holds one "KEY value" setting per line ('#' starts a comment, the
// last definition of a key wins). It is loaded on the first lookup and kept
// for the rest of the run; while no load has succeeded every lookup tries
// again. A missing, unreadable or malformed file is never an error to the
// callers: rejected lines and read failures are logged through korvo_log at
// LOG_LEVEL_DETAIL (normally silent) and the lookups fall back to the defaults.
//
// Callers name the well-known keys by their OrqConfIndex and use
// orqConfGetDefaultByIndex, which never yields null. orqConfGet looks up any
// key the file may set (NO_RESTART_DAEMON) and yields null when it is unset.
// Returned strings live as long as the process.
//
// The conf_*_r functions work on any conf_data and return 0, or -1 with
// errno set. Single-threaded: the loaded table and the index cache are
// process-wide and unlocked.
#ifndef KORVO_UTILS_ORQCONF_H
#define KORVO_UTILS_ORQCONF_H

#include <cstdint>

struct conf_entry {
    char* key;
    char* value;
};

// Entries are unique by key; while finalized is 1 they are sorted in strcmp
// order and searched by bisection, otherwise linearly.
struct conf_data {
    conf_entry* data;
    std::uint64_t size;  // capacity of data
    std::uint64_t nmemb; // entries in use
    std::int32_t finalized;
};

// Positions in theOrqConfNames / theOrqConfDefauls; the two ends are
// sentinels.
enum OrqConfIndex {
    ORQ_CONF_MIN_INDEX = 0,
    KORVO_MAILNAMES_D,
    COURIER_IMAP_ROOT_D,
    RBLSMTPD,
    CLIENT_PHP_BIN,
    LIB_CRYPTO_PATH,
    LIB_SSL_PATH,
    AWSTATS_DOC_D,
    AWSTATS_TOOLS_D,
    AWSTATS_BIN_D,
    AWSTATS_ETC_D,
    CATALINA_HOME,
    MAILMAN_VAR_D,
    MAILMAN_ROOT_D,
    PGSQL_DATA_D,
    PGSQL_BIN_D,
    MYSQL_BIN_D,
    MYSQL_VAR_D,
    WEB_STAT,
    DUMP_D,
    DUMP_TMP_D,
    NAMED_RUN_ROOT_D,
    FTPD_CONF_INC,
    HTTPD_SERVICE,
    HTTPD_LOG_D,
    HTTPD_INCLUDE_D,
    HTTPD_CONF_D,
    HTTPD_VHOSTS_D,
    PRODUCT_ROOT_D,
    NAMED_OPTIONS_CONF,
    NAMED_ZONES_CONF,
    ORQ_CONF_MAX_INDEX,
    ORQ_CONF_TABLE_SIZE
};

extern const char* const ORQ_CONF_PATH; // "/etc/orq/orq.conf"

extern conf_data* theOrqConfHash;
extern const char* const theOrqConfNames[ORQ_CONF_TABLE_SIZE];
extern const char* const theOrqConfDefauls[ORQ_CONF_TABLE_SIZE];
extern const char* theOrqConfArray[ORQ_CONF_TABLE_SIZE];

int conf_init_r(conf_data* conf);
int conf_set_r(const char* key, const char* value, conf_data* conf);
int conf_finalize_r(conf_data* conf);
int conf_read_file_r(const char* path, conf_data* conf);
void conf_free_r(conf_data* conf);
// The value stored for key, or null.
const char* conf_get_r(const char* key, const conf_data* conf);

// 0 when the configuration is loaded (now or before), -1 otherwise.
int autoprepend();

const char* orqConfGet(const char* name);
const char* orqConfGetByIndex(int index);
const char* orqConfGetDefaultByIndex(int index);
const char* orqConfGetDefault(const char* name);

#endif

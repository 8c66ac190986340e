#include "utils/OrqConf.h"

#include "utils/Logging.h"
#include "utils/StdioFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

const char* const ORQ_CONF_PATH = "/etc/orq/orq.conf";

conf_data* theOrqConfHash = nullptr;
const char* theOrqConfArray[ORQ_CONF_TABLE_SIZE];

const char* const theOrqConfNames[ORQ_CONF_TABLE_SIZE] = {
    "_MIN_POSSIBLE_ORQ_CONF_VAR_NAME",
    "KORVO_MAILNAMES_D",
    "COURIER_IMAP_ROOT_D",
    "RBLSMTPD",
    "CLIENT_PHP_BIN",
    "LIB_CRYPTO_PATH",
    "LIB_SSL_PATH",
    "AWSTATS_DOC_D",
    "AWSTATS_TOOLS_D",
    "AWSTATS_BIN_D",
    "AWSTATS_ETC_D",
    "CATALINA_HOME",
    "MAILMAN_VAR_D",
    "MAILMAN_ROOT_D",
    "PGSQL_DATA_D",
    "PGSQL_BIN_D",
    "MYSQL_BIN_D",
    "MYSQL_VAR_D",
    "WEB_STAT",
    "DUMP_D",
    "DUMP_TMP_D",
    "NAMED_RUN_ROOT_D",
    "FTPD_CONF_INC",
    "HTTPD_SERVICE",
    "HTTPD_LOG_D",
    "HTTPD_INCLUDE_D",
    "HTTPD_CONF_D",
    "HTTPD_VHOSTS_D",
    "PRODUCT_ROOT_D",
    "NAMED_OPTIONS_CONF",
    "NAMED_ZONES_CONF",
    "_MAX_POSSIBLE_ORQ_CONF_VAR_NAME",
};

const char* const theOrqConfDefauls[ORQ_CONF_TABLE_SIZE] = {
    "_MIN_POSSIBLE_ORQ_CONF_VAR_VALUE",
    "/var/qmail/mailnames",
    "/",
    "/usr/sbin/rblsmtpd",
    "/usr/local/orq/bin/php-cli",
    "/lib/libcrypto.so",
    "/lib/libssl.so",
    "/usr/share/apache2/icons/awstats",
    "/usr/share/awstats",
    "/srv/www/cgi-bin/awstats",
    "/etc/awstats",
    "/usr/share/tomcat6",
    "/var/lib/mailman",
    "/usr/lib/mailman",
    "/var/lib/pgsql/data",
    "/usr/bin",
    "/usr/bin",
    "/var/lib/mysql",
    "/usr/bin/webalizer",
    "/var/lib/orq/dumps",
    "/tmp",
    "/var/lib/named",
    "/etc/proftpd.include",
    "apache2",
    "/var/log/apache2",
    "/etc/apache2/conf.d",
    "/etc/apache2",
    "/srv/www/vhosts",
    "/usr/local/orq",
    "/etc/named.conf.include.korvo-options",
    "/etc/named.conf.include.korvo-zones",
    "_MAX_POSSIBLE_ORQ_CONF_VAR_VALUE",
};

namespace {

bool arrayInitialized = false;

constexpr std::uint64_t kInitialEntries = 20;

// The C locale's white space, independent of whatever locale is active.
bool isBlank(char c) {
    return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr;
}

bool isKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

int cmp_conf(const void* a, const void* b) {
    return std::strcmp(static_cast<const conf_entry*>(a)->key,
                       static_cast<const conf_entry*>(b)->key);
}

int failAllocation(const char* format) {
    errno = ENOMEM;
    korvo_log(LOG_LEVEL_DETAIL, format, std::strerror(ENOMEM));
    errno = ENOMEM;
    return -1;
}

// Applies the syntax rules to one line; a rejected line is logged and
// skipped. -1 only when storing an accepted setting fails.
int parseLine(char* line, conf_data* conf) {
    char* p = line;
    while (isBlank(*p))
        ++p;
    if (*p == '\0' || *p == '#')
        return 0;
    char* const key = p;
    while (isKeyChar(*p))
        ++p;
    char* const keyEnd = p;
    if (!isBlank(*p)) {
        korvo_log(LOG_LEVEL_DETAIL,
                  "Invalid variable definition %s\nExpected a space after variable name\n", key);
        return 0;
    }
    while (isBlank(*p))
        ++p;
    if (*p == '\0' || *p == '#') {
        korvo_log(LOG_LEVEL_DETAIL, "Invalid variable definition %s\nExpected a value", key);
        return 0;
    }
    char* const value = p;
    char* end = std::strchr(value, '#');
    if (end == nullptr)
        end = value + std::strlen(value);
    while (end > value && isBlank(end[-1]))
        --end;
    *end = '\0';
    *keyEnd = '\0';
    return conf_set_r(key, value, conf);
}

} // namespace

int conf_init_r(conf_data* conf) {
    if (conf->data == nullptr || conf->size == 0) {
        auto* data = static_cast<conf_entry*>(std::calloc(kInitialEntries, sizeof(conf_entry)));
        if (data == nullptr)
            return failAllocation("Unable to read configuration: %s");
        conf->data = data;
        conf->size = kInitialEntries;
        conf->nmemb = 0;
        conf->finalized = 1;
        return 0;
    }
    if (conf->nmemb < conf->size)
        return 0;
    std::uint64_t newSize = conf->size * 2;
    if (newSize <= conf->nmemb)
        newSize = conf->nmemb + kInitialEntries;
    if (newSize > SIZE_MAX / sizeof(conf_entry))
        return failAllocation("Unable to read configuration: %s");
    auto* data = static_cast<conf_entry*>(std::realloc(conf->data, newSize * sizeof(conf_entry)));
    if (data == nullptr)
        return failAllocation("Unable to read configuration: %s");
    conf->data = data;
    conf->size = newSize;
    return 0;
}

int conf_set_r(const char* key, const char* value, conf_data* conf) {
    char* const keyCopy = strdup(key);
    char* const valueCopy = strdup(value);
    if (keyCopy == nullptr || valueCopy == nullptr) {
        std::free(keyCopy);
        std::free(valueCopy);
        return failAllocation("Unable to form configuration: %s");
    }
    for (std::uint64_t i = 0; i < conf->nmemb; ++i) {
        if (std::strcmp(conf->data[i].key, keyCopy) == 0) {
            std::free(conf->data[i].value);
            conf->data[i].value = valueCopy;
            std::free(keyCopy);
            return 0;
        }
    }
    if (conf_init_r(conf) != 0) {
        std::free(keyCopy);
        std::free(valueCopy);
        return -1;
    }
    conf->data[conf->nmemb++] = conf_entry{keyCopy, valueCopy};
    conf->finalized = 0;
    return 0;
}

int conf_finalize_r(conf_data* conf) {
    if (conf->finalized == 0) {
        if (conf->nmemb > 0)
            std::qsort(conf->data, conf->nmemb, sizeof(conf_entry), cmp_conf);
        conf->finalized = 1;
    }
    return 0;
}

const char* conf_get_r(const char* key, const conf_data* conf) {
    if (conf->nmemb == 0)
        return nullptr;
    if (conf->finalized) {
        conf_entry probe{const_cast<char*>(key), nullptr};
        const auto* found = static_cast<const conf_entry*>(
            std::bsearch(&probe, conf->data, conf->nmemb, sizeof(conf_entry), cmp_conf));
        return found == nullptr ? nullptr : found->value;
    }
    for (std::uint64_t i = 0; i < conf->nmemb; ++i) {
        if (std::strcmp(conf->data[i].key, key) == 0)
            return conf->data[i].value;
    }
    return nullptr;
}

int conf_read_file_r(const char* path, conf_data* conf) {
    if (conf_init_r(conf) != 0)
        return -1;
    const korvo::StdioFile file(std::fopen(path, "r"));
    if (!file) {
        const int error = errno;
        korvo_log(LOG_LEVEL_DETAIL, "unable to open configuration file %s: %s\n", path,
                  std::strerror(error));
        errno = error;
        return -1;
    }
    korvo::LineBuffer line;
    while (line.read(file.get()) != -1) {
        if (parseLine(line.text(), conf) != 0)
            return -1;
    }
    if (std::ferror(file.get())) {
        const int error = errno;
        korvo_log(LOG_LEVEL_DETAIL, "Unable to read configuration file: %s", std::strerror(error));
        errno = error;
        return -1;
    }
    return conf_finalize_r(conf);
}

void conf_free_r(conf_data* conf) {
    if (conf == nullptr)
        return;
    for (std::uint64_t i = 0; i < conf->nmemb; ++i) {
        std::free(conf->data[i].key);
        std::free(conf->data[i].value);
    }
    std::free(conf->data);
    std::free(conf);
}

int autoprepend() {
    if (theOrqConfHash != nullptr)
        return 0;
    if (!arrayInitialized) {
        std::memset(theOrqConfArray, 0, sizeof(theOrqConfArray));
        arrayInitialized = true;
    }
    auto* conf = static_cast<conf_data*>(std::calloc(1, sizeof(conf_data)));
    if (conf == nullptr) {
        messlog2(0, 0, "Not enough memory to allocate Korvo runtime configuration structure\n");
        return -1;
    }
    if (conf_read_file_r(ORQ_CONF_PATH, conf) != 0) {
        conf_free_r(conf);
        return -1;
    }
    theOrqConfHash = conf;
    return 0;
}

const char* orqConfGet(const char* name) {
    if (autoprepend() != 0)
        return nullptr;
    return conf_get_r(name, theOrqConfHash);
}

const char* orqConfGetByIndex(int index) {
    if (theOrqConfArray[index] != nullptr)
        return theOrqConfArray[index];
    const char* const value = orqConfGet(theOrqConfNames[index]);
    if (value != nullptr)
        theOrqConfArray[index] = value;
    return value;
}

const char* orqConfGetDefaultByIndex(int index) {
    const char* const value = orqConfGetByIndex(index);
    return value != nullptr ? value : theOrqConfDefauls[index];
}

const char* orqConfGetDefault(const char* name) {
    for (int index = ORQ_CONF_MIN_INDEX; index < ORQ_CONF_MAX_INDEX; ++index) {
        if (std::strcmp(name, theOrqConfNames[index]) == 0)
            return orqConfGetDefaultByIndex(index);
    }
    messlog2(0, 0, "variable '%s' isn't found neither in %s nor in compile-time defaults\n", name,
             ORQ_CONF_PATH);
    return nullptr;
}

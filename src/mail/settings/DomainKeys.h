// DomainKeys signing keys: the file "default" in the directory of the
// domain's lower-cased name below /etc/domainkeys (directory root:root
// 0755, key root:popuser 0440). A domain has keys on exactly when that file
// exists and is a regular file.
//
// Domain lists are comma-separated; runs of commas count as one and empty
// entries are skipped. A domain that is not one plain path component
// ("/" inside, "." or "..") is refused, so nothing outside /etc/domainkeys
// and never /etc/domainkeys itself is written or removed. The list functions
// go on over the remaining domains after a failed one and return -1 at the
// end. Messages go through messlog2 without ending the process, except that
// a failing copy_file_atomic or rm_tree ends it (FileUtils.h).
#ifndef KORVO_MAIL_SETTINGS_DOMAINKEYS_H
#define KORVO_MAIL_SETTINGS_DOMAINKEYS_H

#define KORVO_DOMAINKEYS_D "/etc/domainkeys"

// Installs keyFile as the key of every domain of the list. 0 or -1.
int set_domain_key(const char* domains, const char* keyFile);

// Removes the key directory of every domain of the list. 0 or -1.
int remove_domain_key(const char* domains);

// A new (malloc'ed) path of the domain's key file, or null.
char* get_domainkeys_file(const char* domain);

// 1 when the domain's key file exists and is a regular file, else 0.
int domainkeys_enabled(const char* domain);

// When sourceDomain has a key, installs it for targetDomains; otherwise
// does nothing. 0 or -1.
int clone_domain_key(const char* sourceDomain, const char* targetDomains);

#endif

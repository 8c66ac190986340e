// Quotas of all mailboxes of a domain, read from the panel database.
//
// A mailbox whose own quota in the panel ("mail"."mbox_quota") is -1 (or
// not a number, or NULL) follows the domain's default mailbox quota; these
// functions write that default into the maildirsize of every such mailbox
// (store_mbox_quota, MailboxQuota.h) and leave the others alone.
// rm_mbox_quota gives one mailbox the domain's mailbox quota (its limit
// "mbox_quota") back.
//
// Function library conventions: 1 on success, 0 on failure after a message
// through messlog2 (never ending the process). Every connection opened
// here is closed on every path.
#ifndef KORVO_MAIL_STORAGE_DOMAINQUOTA_H
#define KORVO_MAIL_STORAGE_DOMAINQUOTA_H

// Stores quota for every mailbox of domain whose own quota is the default;
// the first failure stops it.
int store_default_mbox_quota(const char* domain, long long quota);
// The same as store_default_mbox_quota.
int store_domain_quota(const char* domain, long long quota);
// store_default_mbox_quota(domain, -1): no limit.
int rm_default_mbox_quota(const char* domain);
int rm_domain_quota(const char* domain);
// Stores the domain's limit "mbox_quota" (-1 when it is not a number) for
// the mailbox.
int rm_mbox_quota(const char* domain, const char* mailname);

#endif

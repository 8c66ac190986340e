// The settings files of the SPF checker: one setting per file, the whole
// content being the value (written unchanged, no newline added).
//
//   /etc/orq-spf/spfbehavior  'spf_behavior'
//   /etc/orq-spf/spfrules     'spf_rules'
//   /etc/orq-spf/spfguess     'spf_guess'
//   /etc/orq-spf/spfexp       'spf_exp'
//
// Each file is replaced in one step (a temporary file beside it, renamed
// over it), keeping its owner and mode; a new file gets mode 0644.
// Messages go through messlog2 without ending the process.
#ifndef KORVO_MAIL_SETTINGS_SPF_H
#define KORVO_MAIL_SETTINGS_SPF_H

#define KORVO_SPF_D "/etc/orq-spf"

// Writes value into path. 0, or -1 after "Unable to open file %s for
// writing: %s" or "Unable to close file %s: %s".
int update_spf_file_and_parameter(const char* path, const char* value);

// Writes every non-null value into its file, in the order above. The first
// failure stops with "Unable to update '<setting>' parameter" and -1; the
// files written before it stay changed.
int update_spf(const char* behavior, const char* rules, const char* guess, const char* exp);

#endif

// Where the mail-authentication database lives.
//
// Two mail-server styles keep it in two places. The entry point selects
// style 1 once per run, before any command runs; every function that opens
// the database then uses mailAuthDB. Selecting an unknown style changes
// nothing.
#ifndef KORVO_MAIL_AUTH_MAILAUTHDB_H
#define KORVO_MAIL_AUTH_MAILAUTHDB_H

#include <string>

extern std::string mailAuthDB;

void mailAuthDBSelectStyle(int style);

#endif

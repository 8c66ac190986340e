// The mailbox password that the panel hands over in the environment.
//
// Passwords never travel on the command line: the panel sets ORQ_PASSWORD
// (plain text) or ORQ_CRYPTED_PASSWORD (already crypted). get_env_password
// takes the first of the two that is set and not empty, reports which one it
// was, and removes that variable so that no child started later inherits it.
#ifndef KORVO_UTILS_ENVPASSWORD_H
#define KORVO_UTILS_ENVPASSWORD_H

// 0 with password and crypted (0 plain, 1 crypted) set; -1 when neither
// variable holds a password, leaving both outputs untouched. The password
// stays valid for the rest of the run.
int get_env_password(const char** password, int* crypted);

#endif

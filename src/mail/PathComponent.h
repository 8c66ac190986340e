// Names from the command line that become one component of a path.
//
// Handler types, hooks, addresses and domains name directories of the
// handler registry and of /etc/domainkeys. A name can only stay inside its
// parent directory when it is one plain component: not empty, no "/", and
// neither "." nor "..". Callers refuse any other name before they build a
// path from it, so nothing outside those directories is ever created,
// written or removed.
#ifndef KORVO_MAIL_PATHCOMPONENT_H
#define KORVO_MAIL_PATHCOMPONENT_H

// True when name is non-null, non-empty, holds no "/" and is not "." or "..".
bool is_path_component(const char* name);

#endif

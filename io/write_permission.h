// Who may write where: the rules a result's place must pass before a run
// works and before a commit replaces it. Links are followed only where the
// kernel's rule for shared folders would follow them, so that another
// user's link never redirects a result; a file is replaced only where the
// sticky bit and the inode flags (append-only, immutable) let it be.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <string>

// The file a chain of links at `path` ends at (path itself when it is no
// link); a relative target is taken from its link's folder. 0, or EACCES
// when a link of the chain stands in a world-writable folder with the sticky
// bit and belongs neither to this process's user nor to the folder's owner
// (`end` is then that link), or ELOOP past 40 links (`end` is path).
int io_link_end(const std::string& path, std::string& end);

// The folder of `path`: "." for a bare name.
std::string io_folder_of(const std::string& path);

// The sticky bit's rule: in such a folder, a file is removed or replaced
// only by its owner, the folder's owner, or a process that may override
// ownership. `info` describes the existing file at `place`.
bool io_sticky_forbids(const std::string& place, const struct stat& info);

// What would stop writing `file` and putting it in place at a commit, found
// without touching it: empty when nothing, else "(name: reason)" naming the
// file, the link or the folder that stands in the way (io_open_failure's
// form for the name the user typed). Its folder is asked for a new file,
// made and removed at once.
std::string io_output_refusal(const char* typed, const std::string& file);

// Whether a user other than this process's may write the file open on
// `descriptor` (`info` is its fstat): its owner, where that is someone else;
// anyone, where others may write it; a member of its group, where the group
// may write it and is not the user's own private group (any other group may
// hold another user, through a directory service that lists no one); a user
// or group named by an access list, where the group bits allow it. The
// superuser counts as no other user: it may change the process itself.
bool io_writable_by_others(int descriptor, const struct stat& info);

// Whether `group` is the private group of `user`, which holds no one else:
// the user's primary group, named after the user, listing no member but the
// user.
bool io_group_is_private(const struct group& group, const struct passwd& user);

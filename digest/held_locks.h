#pragma once

#include <string>

#include "digest/file_status.h"

namespace dupfind {

// How a file came to be read under an exclusive lock.
enum class LockHold {
  kOwn,          // this descriptor holds the lock: release it with ReleaseLock
  kThisProgram,  // another descriptor of this program holds it: read on under that one
  kUnsupported,  // the file system cannot lock: read without a lock
};

// Takes an exclusive advisory lock on `fd`, an open file `identity`, without
// waiting: other programs that honour the lock can then neither lock nor
// change the file until it is released. A lock that another descriptor of
// this program holds, for another read of the same file (a hard link, a
// search that ended while one of its reads was still inside the system), is
// never reported as another program's and never waited for: the file is read
// under that lock. Throws "Cannot open file ..." naming `path` when another
// program holds the lock, or when locking fails otherwise.
//
// The program's holders are counted per identity, in memory only; a holder
// counts from before its lock is taken until its descriptor is closed, so a
// lock is never seen free of holders while its file is still locked by us.
LockHold LockFile(const std::string& path, int fd, const FileIdentity& identity);

// Ends the hold of LockFile's kOwn: call it once `fd` has been closed.
void ReleaseLock(const FileIdentity& identity);

}  // namespace dupfind

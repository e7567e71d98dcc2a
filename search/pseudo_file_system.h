#pragma once

namespace dupfind {

// Whether a walk begun in the folder `root` steps out of an ordinary file
// system into a pseudo one (proc, sysfs, debugfs, tracefs, cgroup, devtmpfs,
// devpts, securityfs, pstore, bpf) by going to the entry `name` of the
// folder `folder`, a link followed to its end, or to `folder` itself when
// `name` is empty. Such files describe the running system rather than hold
// data, and many change as they are read; a walk that begins on a pseudo
// file system keeps going into them. False when it cannot tell.
bool StepsIntoPseudoFileSystem(int root, int folder, const char* name = "");

}  // namespace dupfind

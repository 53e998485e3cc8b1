#pragma once

#include <linux/magic.h>

namespace lotrix {

// Whether a file system of this type makes its files' text as they are read (/proc, /sys and
// their kind): the size such a file states (0, or a page) says nothing of its text, and there is
// no folder of the user's beside it.
inline bool MakesTextAsRead(unsigned long type) {
  switch (type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace lotrix

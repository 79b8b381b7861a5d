// Descriptor flags. Descriptors the host and the module open must not leak into the
// scripts and helper programs the job engine starts.
#ifndef HOST_RUNTIME_FD_H
#define HOST_RUNTIME_FD_H

// Sets close-on-exec on `fd`. Returns 0, or -1 with errno set.
int enable_fd_cloexec(int fd);

#endif  // HOST_RUNTIME_FD_H

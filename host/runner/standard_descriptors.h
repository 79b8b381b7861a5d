// The standard descriptors quillon3 is started without (a service manager, cron, `2>&-`
// may close them): each is opened onto the null device before anything else is opened,
// since otherwise the first file opened takes its number and the progress, the messages
// or the history are written into a record of the home or an image of the pool.
#ifndef RUNNER_STANDARD_DESCRIPTORS_H
#define RUNNER_STANDARD_DESCRIPTORS_H

#include <string>

namespace runner {

// Opens `null_device` ("/dev/null") onto each of stdin, stdout and stderr that is closed.
// True when all three are open; `stdout_closed` then tells whether stdout was one of
// them, since its output is lost and must be reported so. False, with the reason in
// `error` and the descriptors left closed, when the device cannot be opened or is not the
// null device, character device 1:3 (a file or link put in its place would take the
// writes and give back what was written; another device, /dev/zero bound over it, would
// give a closed stdin endless zeros).
bool occupy_closed_standard_descriptors(const char* null_device, bool& stdout_closed,
                                        std::string& error);

}  // namespace runner

#endif  // RUNNER_STANDARD_DESCRIPTORS_H

// Where running rq735-sim processes publish their pseudo-terminals, so that the port list of the
// program can offer them.
//
// A simulator publishes a symbolic link <directory>/module-<pid> that points at the slave side of
// its pseudo-terminal (/dev/pts/N). The program opens the link path as its port.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// $XDG_RUNTIME_DIR/rq735-sim when that variable is set and names a writable directory, otherwise
// /tmp/rq735-sim-<uid>. The directory itself may not exist yet.
std::string SimulatedPortDirectory();

// Paths of the links of running simulators, in ascending pid order. Links whose owner process is
// gone or whose target no longer exists are skipped and removed. Nothing is listed when the
// directory is missing, is not a directory of its own, or belongs to another user.
std::vector<std::string> ListSimulatedPorts();

// Creates the directory (mode 0700) if needed and the link <directory>/module-<pid> -> target,
// replacing a leftover link of that name. Returns the link path, or an empty string with a reason
// in *error.
std::string PublishSimulatedPort(const std::string &target, pid_t pid, std::string *error = nullptr);

// Removes a link made by PublishSimulatedPort, but only while it still points at target.
void UnpublishSimulatedPort(const std::string &linkPath, const std::string &target);

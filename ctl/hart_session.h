// rq735ctl hart: the instrument behind the module, through its transparent working mode.
#pragma once

#include <optional>
#include <string>

#include "ctl/commands.h"
#include "protocol/hart_settings.h"

void RunHart(const Invocation &inv, PortResult &result, const Trace &trace);

// From here on SIGINT and SIGTERM stop a loop test, which then leaves fixed current mode, instead
// of ending the program. Call before any thread starts.
void WatchStopSignals();

// A file of hart save, its values checked; nothing, with the reason in `error`, otherwise.
std::optional<HartValues> ReadHartSettingsFile(const std::string &path, std::string *error);

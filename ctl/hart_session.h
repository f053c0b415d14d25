// rq735ctl hart: the instrument behind the module, through its transparent working mode.
#pragma once

#include "ctl/commands.h"

void RunHart(const Invocation &inv, PortResult &result, const Trace &trace);

// rq735ctl's command line, read with QCommandLineParser: options anywhere on the line, "--" ends
// them, then the command and what it takes.
//
// QCommandLineParser knows no commands with options of their own (hart identity --polling,
// modbus read --slave ...). So the parser knows every command's options as well as the global
// ones, and a command's option is refused afterwards where another command stands; a command's
// words after its name are checked by its row of the command table.
#pragma once

#include <QStringList>

#include <string>
#include <vector>

#include "ctl/commands.h"

struct CommandLine {
  enum class Request { Run, Help, Version, Complete };
  Request request = Request::Run;
  Invocation invocation;           // Run
  std::vector<std::string> words;  // Complete: the words after the program's name, the last one being typed
};

// `arguments` as main() has them, the program's name first. Throws UsageError.
CommandLine ReadCommandLine(const QStringList &arguments);

// The usage, the options, the commands and every setting with the values it takes.
std::string HelpText();

// For the shell: what may stand at the last of `words`, among the words that begin with it.
Completion Complete(const std::vector<std::string> &words);

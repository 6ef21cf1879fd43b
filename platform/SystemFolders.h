// SPDX-License-Identifier: Apache-2.0
// Where an installed suite keeps what an administrator sets and what it
// writes, as Debian places them, and the build tree's stand-in for each.
#pragma once

#include <string>

#include "platform/Export.h"

namespace corvane::platform {

enum class SystemFolder {
  kConfiguration,  // /etc/corvane/: settings files such as wharfpost.ini
  kLog,            // /var/log/corvane/: logs such as SendMail.log
  kState,          // /var/lib/corvane/: data kept between runs
  kCache,          // /var/cache/corvane/: data that can be made again
};

// True when this code runs from a build tree: the folder of the module
// holding it (the shared runtime, or a self-contained program) lies in a
// build folder, one level below the build's CMakeCache.txt. Never fails.
CORVANE_API bool RunsFromBuildTree();

// True when `program_folder` (with its trailing '/') is the bin/ folder of
// an installation: a folder named bin beside share/corvane/, as /usr/bin is
// beside /usr/share/corvane. A copy of a program in a CGI folder is not
// installed. Never fails.
CORVANE_API bool IsInstalledProgram(const std::string& program_folder);

// The folder, with its trailing '/': the Debian path above for an
// installation, the module's own folder (the build's bin/) in a build tree.
// The folder need not exist. Never fails.
CORVANE_API std::string SystemFolderPath(SystemFolder folder);

}  // namespace corvane::platform

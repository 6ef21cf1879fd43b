// SPDX-License-Identifier: Apache-2.0
// Dynamic loading of shared libraries and the paths of the running program
// and of a loaded library.
#pragma once

#include <string>

#include "platform/Export.h"

namespace corvane::platform {

// Loads a library; nullptr on failure, with the loader's message in `error`.
CORVANE_API void* LoadLibrary(const std::string& path, std::string* error);

// The address of an export; nullptr on failure, with the loader's message.
CORVANE_API void* FindExport(void* library, const std::string& name,
                             std::string* error);

// The full path of the library (or program) holding `address`; empty when
// the loader cannot tell.
CORVANE_API std::string ModulePath(const void* address);

// The folder part of a path, with its trailing '/'; "./" for a bare name.
CORVANE_API std::string DirectoryOf(const std::string& path);

// The full path of the running program (/proc/self/exe); empty on failure.
CORVANE_API std::string ProgramPath();

}  // namespace corvane::platform

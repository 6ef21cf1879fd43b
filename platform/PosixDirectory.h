// SPDX-License-Identifier: Apache-2.0
// The descriptor-relative operations of the POSIX file system: directory
// handles whose entries are named relative to an open directory, removal
// inside an open directory, copying from an open file, and naming a file
// made without a name. For platform/ only.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"
#include "platform/FileSystem.h"

namespace corvane::platform {

// An open directory stream, closed with its descriptor when it goes.
struct CloseDirectory {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirectoryStream = std::unique_ptr<DIR, CloseDirectory>;

// Read-only as the components know it: the owner's write bit is clear.
bool IsReadOnlyMode(mode_t mode);

// The directory open as `fd` as a handle; `shown` (ending in '/') is put
// before an entry's name in the handle's failures. Never fails.
std::unique_ptr<DirectoryHandle> MakeDirectoryHandle(Descriptor fd,
                                                     std::string shown);

// Removes `name` relative to `directory_fd` unless it is a directory or a
// read-only file; the delete refuses read-only files as the original
// platform does, for every user including root. `shown_folder` + `name` is
// the path a failure names; it is put together only then, since a tree's
// removal calls this for every file. Throws Failure.
void UnlinkUnlessReadOnly(int directory_fd, const std::string& name,
                          std::string_view shown_folder = {});

// Creates `to` (which must not exist) with a copy of the regular file open
// as `in`, by the kernel; `from` names that file in failures. Anything but
// a regular file is refused (75). Throws Failure.
void CopyOpenFile(Descriptor in, std::string_view from, std::string_view to);

// Gives the unnamed file open as `fd` the name `path` (which must not
// exist): directly where the process may, else through its /proc entry.
// Throws Failure naming `path`.
void LinkUnnamedFile(int fd, const std::string& path);

}  // namespace corvane::platform

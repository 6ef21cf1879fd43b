// SPDX-License-Identifier: Apache-2.0
#include "platform/Library.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Failure.h"

namespace corvane::platform {

namespace {

[[noreturn]] void Refuse(int32_t number, const std::string& reason) {
  Failure failure = StandardFailure(number);
  failure.description += ": " + reason;
  throw failure;
}

}  // namespace

void* LoadLibrary(const std::string& path) {
  // The loader opens a path without asking what it is: a FIFO or a device
  // would block it until a writer came, so only regular files go to it.
  if (path.find('\0') != std::string::npos) {
    Refuse(kErrorInLoadingDll, "cannot load a name with a NUL character");
  }
  struct stat st;
  if (path.find('/') != std::string::npos && ::stat(path.c_str(), &st) == 0 &&
      !S_ISREG(st.st_mode)) {
    Refuse(kErrorInLoadingDll, path + ": not a regular file");
  }
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* message = ::dlerror();
    Refuse(kErrorInLoadingDll, message ? message : "cannot load " + path);
  }
  return library;
}

void* FindExport(void* library, const std::string& name) {
  ::dlerror();
  void* address = ::dlsym(library, name.c_str());
  if (address == nullptr) {
    const char* message = ::dlerror();
    Refuse(kDllFunctionNotFound, message ? message : "no export " + name);
  }
  return address;
}

std::string ModulePath(const void* address) {
  Dl_info info;
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved) == nullptr) return info.dli_fname;
  return resolved;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string ProgramPath() {
  char buffer[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace corvane::platform

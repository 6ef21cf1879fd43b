// SPDX-License-Identifier: Apache-2.0
// The in-process component model: a library declares its classes, exports
// the four server entry points generated from that declaration, and writes
// them into a registry file; CreateObject finds a class there by its ProgID,
// loads its library and asks its class factory.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Dispatch.h"
#include "platform/Export.h"

namespace corvane {

// Results of the entry points.
inline constexpr int32_t kSucceeded = 0;
inline constexpr int32_t kFalse = 1;
inline constexpr int32_t kClassNotAvailable = -2147221231;   // 0x80040111
inline constexpr int32_t kRegistrationFailed = -2147220991;  // 0x80040201

class CORVANE_API ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  // A new object; throws Failure when it cannot be made.
  virtual std::shared_ptr<Dispatch> CreateInstance() = 0;
};

// One creatable class of a library.
struct CORVANE_API ClassEntry {
  std::string progid;
  std::string clsid;
  std::function<std::shared_ptr<Dispatch>()> create;
};

template <class T>
ClassEntry Creatable(std::string progid, std::string clsid) {
  return ClassEntry{std::move(progid), std::move(clsid),
                    [] { return std::make_shared<T>(); }};
}

// One line of the registry file.
struct CORVANE_API RegisteredClass {
  std::string progid;
  std::string clsid;
  std::string library;
};

// $CORVANE_REGISTRY, else "corvane.registry" beside the shared runtime (the
// build's bin/, an installation's lib/corvane/).
CORVANE_API std::string RegistryPath();

// The file to load for a registry entry's `library`: a name without a
// folder names the file beside the registry at `registry` when one is there
// (an installed registry lists its libraries so, and the tree may move),
// else the loader's search finds it. Never fails.
CORVANE_API std::string RegisteredLibraryFile(const std::string& registry,
                                              const std::string& library);

// The registry's classes; empty when the file is missing. Throws Failure:
// 321 "Invalid file format: PATH line N" for a line that is not three
// tab-separated fields, or the file system's failure when it cannot be read.
CORVANE_API std::vector<RegisteredClass> ReadRegistry(const std::string& path);

// Adds the classes of `library` (replacing earlier lines of the same ProgID
// or library) or removes them; throws Failure when the file cannot be
// written.
CORVANE_API void RegisterLibrary(const std::string& path,
                                 const std::string& library,
                                 const std::vector<RegisteredClass>& classes);
CORVANE_API void UnregisterLibrary(const std::string& path,
                                   const std::string& library);

// A new object of the class registered under `progid` (without regard to
// case). Throws Failure: 429 for an unknown ProgID, 53 "File not found: "
// and the library for a library that is not there, 48 "Error in loading
// DLL: " and the loader's message for one that cannot be loaded, 453 for a
// library without the entry point, 321 for a malformed registry line.
CORVANE_API std::shared_ptr<Dispatch> CreateObject(std::string_view progid);

// The library side: the classes behind the four entry points.
class CORVANE_API ComponentLibrary {
 public:
  explicit ComponentLibrary(std::vector<ClassEntry> classes);
  ~ComponentLibrary();
  int32_t RegisterServer(const void* address_in_library);
  int32_t UnregisterServer(const void* address_in_library);
  int32_t GetClassObject(const char* clsid, ClassFactory** factory);
  int32_t CanUnloadNow() const;

 private:
  class Factory;
  std::vector<ClassEntry> classes_;
  std::vector<std::unique_ptr<Factory>> factories_;
  std::atomic<int> live_objects_{0};
};

}  // namespace corvane

// Declares a component library's classes and exports its entry points:
//   CORVANE_COMPONENT_LIBRARY(
//       corvane::Creatable<SMTP>("Corvane.SMTP", "{475A2558-...}"))
#define CORVANE_COMPONENT_LIBRARY(...)                                    \
  static corvane::ComponentLibrary& CorvaneComponentLibrary() {           \
    static corvane::ComponentLibrary library({__VA_ARGS__});              \
    return library;                                                       \
  }                                                                       \
  extern "C" int32_t DllRegisterServer() {                                \
    return CorvaneComponentLibrary().RegisterServer(                      \
        reinterpret_cast<const void*>(&DllRegisterServer));               \
  }                                                                       \
  extern "C" int32_t DllUnregisterServer() {                              \
    return CorvaneComponentLibrary().UnregisterServer(                    \
        reinterpret_cast<const void*>(&DllUnregisterServer));             \
  }                                                                       \
  extern "C" int32_t DllGetClassObject(const char* clsid,                 \
                                       corvane::ClassFactory** factory) { \
    return CorvaneComponentLibrary().GetClassObject(clsid, factory);      \
  }                                                                       \
  extern "C" int32_t DllCanUnloadNow() {                                  \
    return CorvaneComponentLibrary().CanUnloadNow();                      \
  }

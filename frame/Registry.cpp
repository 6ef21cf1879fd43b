// SPDX-License-Identifier: Apache-2.0
#include "frame/Registry.h"

#include <mutex>
#include <optional>
#include <string_view>

#include "frame/Text.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Process.h"

namespace corvane {
namespace {

const char kSource[] = "Corvane";

using EntryPoint = int32_t (*)(const char*, ClassFactory**);

void WriteRegistry(const std::string& path,
                   const std::vector<RegisteredClass>& classes) {
  std::string text;
  for (const auto& entry : classes) {
    text += entry.progid + '\t' + entry.clsid + '\t' + entry.library + '\n';
  }
  platform::WriteFileReplacing(path, text);
}

template <class Keep>
void RewriteRegistry(const std::string& path, Keep keep,
                     const std::vector<RegisteredClass>& added) {
  platform::FileLock lock(path + ".lock");
  std::vector<RegisteredClass> classes;
  for (auto& entry : ReadRegistry(path)) {
    if (keep(entry)) classes.push_back(std::move(entry));
  }
  classes.insert(classes.end(), added.begin(), added.end());
  WriteRegistry(path, classes);
}

Failure CreateFailure(int32_t number, const std::string& description) {
  return Failure(number, kSource, description);
}

// "ProgID<TAB>CLSID<TAB>library", every field present and the ProgID and
// library not empty; nullopt for anything else.
std::optional<RegisteredClass> ParseRegistryLine(std::string_view line) {
  size_t first = line.find('\t');
  if (first == std::string_view::npos) return std::nullopt;
  size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  RegisteredClass entry{std::string(line.substr(0, first)),
                        std::string(line.substr(first + 1, second - first - 1)),
                        std::string(line.substr(second + 1))};
  if (entry.progid.empty() || entry.library.empty()) return std::nullopt;
  return entry;
}

// 53 "File not found: " and the name when the library is not there, else
// the loader's 48 with its message (a missing dependency, a file that is
// not a library).
Failure LoadFailure(const std::string& library, const Failure& loader) {
  if (!platform::Files().Stat(library)) {
    return CreateFailure(kFileNotFound, "File not found: " + library);
  }
  return CreateFailure(loader.number, loader.description);
}

}  // namespace

std::string RegistryPath() {
  if (auto path = platform::EnvironmentVariable("CORVANE_REGISTRY")) {
    if (!path->empty()) return *path;
  }
  std::string runtime =
      platform::ModulePath(reinterpret_cast<const void*>(&RegistryPath));
  return platform::DirectoryOf(runtime) + "corvane.registry";
}

std::string RegisteredLibraryFile(const std::string& registry,
                                  const std::string& library) {
  if (library.find('/') != std::string::npos) return library;
  std::string beside = platform::DirectoryOf(registry) + library;
  return platform::Files().Stat(beside) ? beside : library;
}

std::vector<RegisteredClass> ReadRegistry(const std::string& path) {
  auto& files = platform::Files();
  if (!files.Stat(path)) return {};
  std::string text = files.ReadFile(path);
  std::vector<RegisteredClass> classes;
  size_t number = 0;
  for (std::string_view rest = text; !rest.empty();) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
    ++number;
    if (line.empty()) continue;
    auto entry = ParseRegistryLine(line);
    if (!entry) {
      throw CreateFailure(kInvalidFileFormat,
                          StandardErrorText(kInvalidFileFormat) + ": " + path +
                              " line " + std::to_string(number));
    }
    classes.push_back(std::move(*entry));
  }
  return classes;
}

void RegisterLibrary(const std::string& path, const std::string& library,
                     const std::vector<RegisteredClass>& classes) {
  RewriteRegistry(
      path,
      [&](const RegisteredClass& entry) {
        if (entry.library == library) return false;
        for (const auto& added : classes) {
          if (EqualsIgnoringCase(added.progid, entry.progid)) return false;
        }
        return true;
      },
      classes);
}

void UnregisterLibrary(const std::string& path, const std::string& library) {
  RewriteRegistry(
      path,
      [&](const RegisteredClass& entry) { return entry.library != library; },
      {});
}

std::shared_ptr<Dispatch> CreateObject(std::string_view progid) {
  std::string registry = RegistryPath();
  for (const auto& entry : ReadRegistry(registry)) {
    if (!EqualsIgnoringCase(entry.progid, progid)) continue;
    std::string file = RegisteredLibraryFile(registry, entry.library);
    void* library = nullptr;
    try {
      library = platform::LoadLibrary(file);
    } catch (const Failure& loader) {
      throw LoadFailure(file, loader);
    }
    EntryPoint get_class_object = nullptr;
    try {
      get_class_object = reinterpret_cast<EntryPoint>(
          platform::FindExport(library, "DllGetClassObject"));
    } catch (const Failure&) {
      throw CreateFailure(kDllFunctionNotFound,
                          StandardErrorText(kDllFunctionNotFound));
    }
    ClassFactory* factory = nullptr;
    if (get_class_object(entry.clsid.c_str(), &factory) != kSucceeded ||
        factory == nullptr) {
      break;
    }
    return factory->CreateInstance();
  }
  throw CreateFailure(
      kCannotCreateObject,
      "Cannot create object: " + std::string(progid) + " is not registered");
}

class ComponentLibrary::Factory : public ClassFactory {
 public:
  Factory(const ClassEntry& entry, std::atomic<int>& live)
      : entry_(entry), live_(live) {}

  // The object's own pointer, whose release also counts it off, so that
  // the library can tell when it may be unloaded.
  std::shared_ptr<Dispatch> CreateInstance() override {
    std::shared_ptr<Dispatch> object = entry_.create();
    ++live_;
    Dispatch* raw = object.get();
    std::atomic<int>* live = &live_;
    return std::shared_ptr<Dispatch>(
        raw, [object = std::move(object), live](Dispatch*) mutable {
          object.reset();
          --*live;
        });
  }

 private:
  const ClassEntry& entry_;
  std::atomic<int>& live_;
};

ComponentLibrary::ComponentLibrary(std::vector<ClassEntry> classes)
    : classes_(std::move(classes)) {
  for (const auto& entry : classes_) {
    factories_.push_back(std::make_unique<Factory>(entry, live_objects_));
  }
}

ComponentLibrary::~ComponentLibrary() = default;

int32_t ComponentLibrary::RegisterServer(const void* address_in_library) {
  try {
    std::string library = platform::ModulePath(address_in_library);
    std::vector<RegisteredClass> classes;
    for (const auto& entry : classes_) {
      classes.push_back({entry.progid, entry.clsid, library});
    }
    RegisterLibrary(RegistryPath(), library, classes);
    return kSucceeded;
  } catch (...) {
    return kRegistrationFailed;
  }
}

int32_t ComponentLibrary::UnregisterServer(const void* address_in_library) {
  try {
    UnregisterLibrary(RegistryPath(), platform::ModulePath(address_in_library));
    return kSucceeded;
  } catch (...) {
    return kRegistrationFailed;
  }
}

int32_t ComponentLibrary::GetClassObject(const char* clsid,
                                         ClassFactory** factory) {
  if (factory == nullptr || clsid == nullptr) return kClassNotAvailable;
  *factory = nullptr;
  for (size_t i = 0; i < classes_.size(); ++i) {
    if (EqualsIgnoringCase(classes_[i].clsid, clsid)) {
      *factory = factories_[i].get();
      return kSucceeded;
    }
  }
  return kClassNotAvailable;
}

int32_t ComponentLibrary::CanUnloadNow() const {
  return live_objects_.load() == 0 ? kSucceeded : kFalse;
}

}  // namespace corvane

// SPDX-License-Identifier: Apache-2.0
#include "frame/Registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/tests/Caught.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// Points CORVANE_REGISTRY at a fresh file for the test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-registry-XXXXXX";
    directory_ = mkdtemp(pattern);
    registry_ = directory_ + "/registry";
    setenv("CORVANE_REGISTRY", registry_.c_str(), 1);
    library_ =
        platform::DirectoryOf(platform::ProgramPath()) + "libcorvanetest.so";
  }
  void TearDown() override {
    unsetenv("CORVANE_REGISTRY");
    fs::remove_all(directory_);
  }

  using EntryPoint = int32_t (*)();
  EntryPoint Export(const char* name) {
    void* handle = platform::LoadLibrary(library_);
    return reinterpret_cast<EntryPoint>(platform::FindExport(handle, name));
  }

  std::string directory_, registry_, library_;
};

TEST_F(RegistryTest, RegisteredLibrariesCreateObjectsByProgId) {
  ASSERT_EQ(Export("DllRegisterServer")(), kSucceeded);
  auto classes = ReadRegistry(registry_);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].progid, "Corvane.Test");
  EXPECT_EQ(classes[0].library, fs::canonical(library_).string());

  auto object = CreateObject("CORVANE.test");
  object->Put("Name", "made");
  EXPECT_EQ(object->Get("Name").ToText(), "made");
  EXPECT_EQ(Export("DllCanUnloadNow")(), kFalse);
  object.reset();
  EXPECT_EQ(Export("DllCanUnloadNow")(), kSucceeded);

  ASSERT_EQ(Export("DllRegisterServer")(), kSucceeded);
  EXPECT_EQ(ReadRegistry(registry_).size(), 1u);  // registering again replaces
  ASSERT_EQ(Export("DllUnregisterServer")(), kSucceeded);
  EXPECT_TRUE(ReadRegistry(registry_).empty());
}

// A web host creates objects on many threads at once while the registry
// may be rewritten: every creation succeeds and every object is counted off.
TEST_F(RegistryTest, ObjectsAreCreatedOnManyThreadsAtOnce) {
  ASSERT_EQ(Export("DllRegisterServer")(), kSucceeded);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 200; ++i) {
        try {
          auto object = CreateObject("Corvane.Test");
          std::string name = std::to_string(t) + "." + std::to_string(i);
          object->Put("Name", name);
          if (object->Get("Name").ToText() != name) ++failures;
        } catch (...) {
          ++failures;
        }
      }
    });
  }
  auto re_register = Export("DllRegisterServer");
  for (int i = 0; i < 50; ++i) EXPECT_EQ(re_register(), kSucceeded);
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Export("DllCanUnloadNow")(), kSucceeded);
}

TEST_F(RegistryTest, CreationFailuresSayWhatIsMissing) {
  {
    auto failure = CaughtFailure([&] { CreateObject("Corvane.Test"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kCannotCreateObject);
  }
  RegisterLibrary(registry_, "/nonexistent/libgone.so",
                  {{"Corvane.Gone", "{1}", "/nonexistent/libgone.so"}});
  {
    auto failure = CaughtFailure([&] { CreateObject("Corvane.Gone"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kFileNotFound);
    EXPECT_EQ(failure->description, "File not found: /nonexistent/libgone.so");
  }
  RegisterLibrary(registry_, "libc.so.6",
                  {{"Corvane.Libc", "{2}", "libc.so.6"}});
  {
    auto failure = CaughtFailure([&] { CreateObject("Corvane.Libc"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kDllFunctionNotFound);
    EXPECT_EQ(failure->description, "Specified DLL function not found");
  }
}

// The loader would wait on a FIFO for a writer; the entry fails at once with
// the loader's reason instead. Should it hang, a writer is opened to free
// the waiting thread, and the test fails.
TEST_F(RegistryTest, LibraryThatIsNoRegularFileFailsAtOnce) {
  std::string fifo = directory_ + "/libfifo.so";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  RegisterLibrary(registry_, fifo, {{"Corvane.Fifo", "{3}", fifo}});
  auto creation = std::async(std::launch::async, [] {
    return CaughtFailure([] { CreateObject("Corvane.Fifo"); });
  });
  if (creation.wait_for(std::chrono::seconds(20)) !=
      std::future_status::ready) {
    int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    creation.wait();
    if (writer >= 0) close(writer);
    FAIL() << "CreateObject waited on a FIFO";
  }
  auto failure = creation.get();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, kErrorInLoadingDll);
  EXPECT_TRUE(failure->description.ends_with(fifo + ": not a regular file"))
      << failure->description;
  for (const std::string& path : {fifo, directory_}) {
    try {
      platform::LoadLibrary(path);
      ADD_FAILURE() << path << " was loaded";
    } catch (const Failure& refused) {
      EXPECT_EQ(refused.number, kErrorInLoadingDll);
      EXPECT_EQ(refused.description,
                "Error in loading DLL: " + path + ": not a regular file");
    }
  }
}

TEST_F(RegistryTest, ALibraryThatCannotLoadGivesTheLoadersMessage) {
  std::string broken = directory_ + "/libbroken.so";
  std::ofstream(broken) << "not a shared library";
  RegisterLibrary(registry_, broken, {{"Corvane.Broken", "{3}", broken}});
  auto failure = CaughtFailure([&] { CreateObject("Corvane.Broken"); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, kErrorInLoadingDll);
  // The loader's own words follow the path ("file too short", ...).
  std::string prefix = "Error in loading DLL: " + broken + ": ";
  EXPECT_TRUE(failure->description.starts_with(prefix)) << failure->description;
  EXPECT_GT(failure->description.size(), prefix.size());
}

TEST_F(RegistryTest, AMalformedLineIsReportedWithItsNumber) {
  std::ofstream(registry_) << "Corvane.A\t{1}\t/lib/a.so\n"
                           << "\n"
                           << "Corvane.B {2} /lib/b.so\n";
  for (auto read : std::vector<std::function<void()>>{
           [&] { (void)ReadRegistry(registry_); },
           [&] { CreateObject("Corvane.A"); }}) {
    auto failure = CaughtFailure(read);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kInvalidFileFormat);
    EXPECT_EQ(failure->description,
              "Invalid file format: " + registry_ + " line 3");
  }
  std::ofstream(registry_) << "\tno-progid\t/lib/c.so\n";
  EXPECT_EQ(FailureNumber([&] { (void)ReadRegistry(registry_); }),
            kInvalidFileFormat);
}

// An installed registry names its libraries without a folder, so that the
// tree can be moved; other bare names are left to the loader's search.
TEST_F(RegistryTest, ALibraryNamedWithoutAFolderIsTakenFromBesideTheRegistry) {
  std::string copy = directory_ + "/libcorvanetest.so";
  fs::create_symlink(library_, copy);
  ASSERT_EQ(Export("DllRegisterServer")(), kSucceeded);
  std::string clsid = ReadRegistry(registry_).at(0).clsid;
  std::ofstream(registry_) << "Corvane.Test\t" << clsid
                           << "\tlibcorvanetest.so\n";
  EXPECT_NE(CreateObject("Corvane.Test"), nullptr);
  for (auto [library, file] : std::vector<std::pair<std::string, std::string>>{
           {"libcorvanetest.so", copy},
           {"libc.so.6", "libc.so.6"},
           {"/lib/a.so", "/lib/a.so"},
           {"sub/liba.so", "sub/liba.so"}}) {
    EXPECT_EQ(RegisteredLibraryFile(registry_, library), file) << library;
  }
  unsetenv("CORVANE_REGISTRY");
  // The build's programs and the shared runtime share one folder.
  EXPECT_EQ(RegistryPath(), platform::DirectoryOf(platform::ProgramPath()) +
                                "corvane.registry");
}

// A registry that exists only in the installed file system.
class InMemoryRegistry : public platform::ForwardingFileSystem {
 public:
  InMemoryRegistry(std::string path, std::string text)
      : ForwardingFileSystem(platform::Files()),
        path_(std::move(path)),
        text_(std::move(text)) {}
  std::optional<platform::FileInfo> Stat(std::string_view path) override {
    if (path != path_) return inner_.Stat(path);
    return platform::FileInfo{.name = "registry", .size = text_.size()};
  }
  std::string ReadFile(std::string_view path) override {
    return path == path_ ? text_ : inner_.ReadFile(path);
  }

 private:
  std::string path_, text_;
};

TEST_F(RegistryTest, TheFileIsReadThroughThePlatformFileSystem) {
  InMemoryRegistry files(registry_, "Corvane.Mem\t{4}\t/lib/mem.so\n");
  platform::ScopedFileSystem scope(files);
  auto classes = ReadRegistry(registry_);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].progid, "Corvane.Mem");
  EXPECT_EQ(classes[0].clsid, "{4}");
  EXPECT_EQ(classes[0].library, "/lib/mem.so");
}

// A rewrite that fails (here its last step, the rename) leaves the
// registry as it was and nothing but the lock file beside it.
TEST_F(RegistryTest, AFailedRewriteLeavesTheRegistryAndNoTemporaryFile) {
  RegisterLibrary(registry_, "/lib/old.so",
                  {{"Corvane.Old", "{5}", "/lib/old.so"}});
  struct FailingRename : platform::ForwardingFileSystem {
    using ForwardingFileSystem::ForwardingFileSystem;
    void Rename(std::string_view, std::string_view) override {
      throw StandardFailure(kDiskFull);
    }
  } failing(platform::Files());
  {
    platform::ScopedFileSystem scope(failing);
    EXPECT_EQ(FailureNumber([&] {
                RegisterLibrary(registry_, "/lib/new.so",
                                {{"Corvane.New", "{6}", "/lib/new.so"}});
              }),
              kDiskFull);
  }
  auto classes = ReadRegistry(registry_);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].progid, "Corvane.Old");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"registry", "registry.lock"}));
}

TEST_F(RegistryTest, TheClassObjectAnswersOnlyItsOwnClassIds) {
  using GetClassObject = int32_t (*)(const char*, ClassFactory**);
  void* handle = platform::LoadLibrary(library_);
  auto get = reinterpret_cast<GetClassObject>(
      platform::FindExport(handle, "DllGetClassObject"));
  ClassFactory* factory = nullptr;
  EXPECT_EQ(get("{00000000-0000-0000-0000-000000000000}", &factory),
            kClassNotAvailable);
  EXPECT_EQ(factory, nullptr);
  EXPECT_EQ(get("{6c1b0f3e-2d4a-4e8b-9a51-3f7c2e9d0b14}", &factory),
            kSucceeded);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->CreateInstance()->Class().name(), "TestObject");
}

}  // namespace
}  // namespace corvane

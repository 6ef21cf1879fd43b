#include "frame/Registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

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
    void* handle = platform::LoadLibrary(library_, nullptr);
    return reinterpret_cast<EntryPoint>(
        platform::FindExport(handle, name, nullptr));
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

TEST_F(RegistryTest, TheClassObjectAnswersOnlyItsOwnClassIds) {
  using GetClassObject = int32_t (*)(const char*, ClassFactory**);
  void* handle = platform::LoadLibrary(library_, nullptr);
  auto get = reinterpret_cast<GetClassObject>(
      platform::FindExport(handle, "DllGetClassObject", nullptr));
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

// SPDX-License-Identifier: Apache-2.0
// corvane files: one subcommand per operation of Corvane.Vantry, each one
// call of the component. Exit status 0 when the call did its work, 1 with
// the result and the error triple on standard error otherwise.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "filemgmt/Vantry.h"
#include "frame/Component.h"
#include "frame/Registry.h"
#include "platform/FileSystem.h"
#include "tools/corvane/Command.h"

namespace corvane::tool {
namespace {

using Json = nlohmann::ordered_json;

// The recorded number, 32 bits wide; the 16-bit getter of the dispatch
// table cannot return the component's own numbers.
std::string ErrorNumber(Dispatch& vantry) {
  if (auto* component = dynamic_cast<Component*>(&vantry)) {
    return std::to_string(component->GetLastErrNum());
  }
  try {
    return vantry.Get("GetLastErrNum").ToText();
  } catch (const Failure& failure) {
    return "(" + failure.description + ")";
  }
}

// Why a call on `path` did not do its work, for the first line of the
// report: from the recorded error number, else from what lies at the path.
std::string Reason(Dispatch& vantry, const std::string& path) {
  std::string number = ErrorNumber(vantry);
  if (number == "53") return "no such file: " + path;
  if (number == "76") return "no such directory: " + path;
  if (number == "75") {
    // One number for many refusals: the system's text tells them apart.
    std::string reason = LastSystemText(vantry);
    if (reason.empty()) return "permission denied: " + path;
    reason[0] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason + ": " + path;
  }
  if (number == "58") return "already exists: " + path;
  if (number == "61") return "disk full: " + path;
  std::string description = vantry.Get("GetLastErrDescription").ToText();
  if (!description.empty()) return description + ": " + path;
  bool exists = false;
  try {
    exists = platform::Files().Stat(path).has_value();
  } catch (const Failure&) {
    // A path that cannot be looked at is reported as not there.
  }
  return exists ? "failed: " + path : "no such file or directory: " + path;
}

std::string Shown(const std::string& name);

// Reports a call on `path` that did not do its work: the reason and the
// path (control characters shown as escapes), then the result and the error
// triple; the exit status.
int Failed(Dispatch& vantry, const std::string& command, const Variant& result,
           const std::string& path) {
  std::cerr << "corvane files " << command << ": "
            << Shown(Reason(vantry, path)) << "\nresult "
            << (result.IsObject() ? "Nothing" : result.ToText()) << "\n";
  std::string description = vantry.Get("GetLastErrDescription").ToText();
  if (!description.empty()) {
    std::cerr << "error " << ErrorNumber(vantry) << " ("
              << vantry.Get("GetLastErrSource").ToText() << "): " << description
              << "\n"
              << SystemTextLine(LastSystemText(vantry));
  }
  return 1;
}

// A fresh object records nothing until a call fails.
bool Recorded(Dispatch& vantry) {
  return !vantry.Get("GetLastErrDescription").ToText().empty();
}

std::string AttributeLetters(int attributes) {
  std::string letters = "-----";
  const char kLetters[] = "RHSDA";
  const int kBits[] = {1, 2, 4, 16, 32};
  for (int i = 0; i < 5; ++i) {
    if (attributes & kBits[i]) letters[i] = kLetters[i];
  }
  return letters;
}

std::string Dump(const Json& json) {
  // Names are 8-bit text; bytes that are not UTF-8 become U+FFFD.
  return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

Json SubDirJson(Dispatch& record) {
  return Json{{"name", record.Get("Name").ToText()},
              {"date_time", record.Get("DateTime").ToText()},
              {"attr", record.Get("Attr").ToInt32()}};
}

Json FileJson(Dispatch& record) {
  return Json{{"name", record.Get("Name").ToText()},
              {"length", record.Get("Length").ToInt32()},
              {"attr", record.Get("Attr").ToInt32()},
              {"creation_time", record.Get("CreationTime").ToText()},
              {"last_write_time", record.Get("LastWriteTime").ToText()},
              {"last_access_time", record.Get("LastAccessTime").ToText()}};
}

// A name as the terminal gets it: a control character (a line break, an
// escape) is shown as \xHH and a backslash as \\, so a name can neither
// add lines to a listing nor send the terminal commands.
std::string Shown(const std::string& name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      shown += escape;
    } else if (c == '\\') {
      shown += "\\\\";
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

void PrintRow(const std::string& attributes, const std::string& size,
              const std::string& time, const std::string& name) {
  std::cout << std::left << std::setw(7) << attributes << std::right
            << std::setw(12) << size << "  " << std::left << std::setw(22)
            << time << Shown(name) << "\n";
}

// A size as people read it: bytes below 1024, else one decimal below ten
// units and whole units above (1.5K, 12M, 3.0G). Cannot fail.
std::string HumanSize(double bytes) {
  const char* units[] = {"K", "M", "G", "T", "P"};
  if (bytes < 1024) return std::to_string(static_cast<int64_t>(bytes));
  int unit = -1;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, bytes < 10 ? "%.1f%s" : "%.0f%s", bytes,
                units[unit]);
  return text;
}

// The records of a collection, in the order `sort` asks: "name" (bytes),
// "size" (largest first, then name) or "none" (the directory's order).
std::vector<std::shared_ptr<Dispatch>> Records(Dispatch& collection,
                                               const std::string& sort) {
  std::vector<std::shared_ptr<Dispatch>> records;
  for (auto& item : collection.Enumerate()) records.push_back(item.ToObject());
  if (sort == "none") return records;
  auto name = [](Dispatch& record) { return record.Get("Name").ToText(); };
  auto size = [](Dispatch& record) {
    return record.Get("Length").ToCurrency().value;
  };
  std::stable_sort(records.begin(), records.end(),
                   [&](const auto& a, const auto& b) {
                     if (sort == "size") {
                       auto left = size(*a), right = size(*b);
                       if (left != right) return left > right;
                     }
                     return name(*a) < name(*b);
                   });
  return records;
}

// The listing of the last ReadDir: sorted as `sort` asks (JSON keeps the
// directory's order unless a sort is asked for), sizes in bytes with
// `bytes`, else as HumanSize shows them.
void PrintListing(Dispatch& vantry, bool json, const std::string& sort,
                  bool bytes) {
  auto sub_dirs_collection = vantry.Get("SubDirs").ToObject();
  auto files_collection = vantry.Get("Files").ToObject();
  std::string order = json && sort.empty() ? "none" : sort;
  if (order.empty()) order = "name";
  auto sub_dirs =
      Records(*sub_dirs_collection, order == "size" ? "name" : order);
  auto files = Records(*files_collection, order);
  if (json) {
    Json result{{"subdirs", Json::array()}, {"files", Json::array()}};
    for (auto& record : sub_dirs) {
      result["subdirs"].push_back(SubDirJson(*record));
    }
    for (auto& record : files) {
      result["files"].push_back(FileJson(*record));
    }
    std::cout << Dump(result) << "\n";
    return;
  }
  PrintRow("Attr", "Size", "Date and time", "Name");
  for (auto& record : sub_dirs) {
    PrintRow(AttributeLetters(record->Get("Attr").ToInt32()), "<DIR>",
             record->Get("DateTime").ToText(), record->Get("Name").ToText());
  }
  for (auto& record : files) {
    std::string size = record->Get("Length").ToText();
    if (!bytes) size = HumanSize(record->Get("Length").ToDouble());
    PrintRow(AttributeLetters(record->Get("Attr").ToInt32()), size,
             record->Get("LastWriteTime").ToText(),
             record->Get("Name").ToText());
  }
}

void PrintInfo(Dispatch& record, bool json) {
  if (json) {
    std::cout << Dump(FileJson(record)) << "\n";
    return;
  }
  for (const char* property : {"Name", "Length", "Attr", "CreationTime",
                               "LastWriteTime", "LastAccessTime"}) {
    std::cout << std::left << std::setw(16) << (std::string(property) + ":")
              << Shown(record.Get(property).ToText()) << "\n";
  }
}

// Standard input, read up to one byte more than WriteFile takes: the
// component then refuses a longer input itself, and an endless one is
// never held whole.
std::string StandardInput() {
  constexpr size_t kLimit = size_t{vantry::kLongestFile} + 1;
  std::string content;
  char buffer[65536];
  while (content.size() < kLimit) {
    size_t wanted = std::min(sizeof buffer, kLimit - content.size());
    size_t got = std::fread(buffer, 1, wanted, stdin);
    content.append(buffer, got);
    if (got < wanted) break;
  }
  return content;
}

// The positional arguments and flags of every subcommand.
struct FilesOptions {
  std::string first;
  std::string second;
  std::optional<std::string> third;
  std::optional<int> bits;
  bool json = false;
  bool file_only = false;
  bool parents = false;  // mkdir -p
  bool bytes = false;    // exact byte counts instead of 1.5K, 12M
  std::string sort;      // ls: name, size or none; empty: the default
};

// MakeDir of every missing level of `path`, as mkdir -p: done when the
// directory exists at the end (an existing one included).
int MakeParents(Dispatch& vantry, const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string level = path.substr(0, slash);
    if (!level.empty() && level.back() != '/' &&
        vantry.Call("IsDirExists", {level}).ToInt32() != 1) {
      Variant result = vantry.Call("MakeDir", {level});
      if (result.ToInt32() != 1) {
        return Failed(vantry, "mkdir", result, level);
      }
    }
    if (slash == std::string::npos) return 0;
  }
}

// Makes the one call of `command` and prints its answer; the exit status.
int RunFiles(const std::string& command, const FilesOptions& o) {
  auto vantry = CreateObject("Corvane.Vantry");
  auto call = [&](const char* member, Arguments args) {
    return vantry->Call(member, std::move(args));
  };
  auto status = [&](const Variant& result, bool done) {
    // An existing target is the second path's fault.
    bool target = ErrorNumber(*vantry) == "58" && !o.second.empty();
    return done ? 0
                : Failed(*vantry, command, result, target ? o.second : o.first);
  };
  if (command == "ls") {
    Variant result = call("ReadDir", {o.first});
    if (result.ToInt32() != 1) return Failed(*vantry, command, result, o.first);
    PrintListing(*vantry, o.json, o.sort, o.bytes);
    return 0;
  }
  if (command == "info") {
    Variant result = call("GetFileInfo", {o.first});
    auto record = result.ToObject();
    if (!record) return Failed(*vantry, command, result, o.first);
    PrintInfo(*record, o.json);
    return 0;
  }
  if (command == "cat") {
    std::string content = call("ReadFile", {o.first}).ToText();
    if (Recorded(*vantry))
      return Failed(*vantry, command, Variant(""), o.first);
    std::fwrite(content.data(), 1, content.size(), stdout);
    return 0;
  }
  if (command == "put") {
    Variant result = call("WriteFile", {o.first, StandardInput()});
    if (result.ToInt32() < 0) return Failed(*vantry, command, result, o.first);
    std::cout << result.ToText() << "\n";
    return 0;
  }
  if (command == "df") {
    Variant result = call("GetDiskFreeSpace", {o.first});
    int64_t value = result.ToCurrency().value;
    if (value < 0) return Failed(*vantry, command, Variant(-1), o.first);
    const int64_t bytes = value / 10'000;  // whole bytes of the currency
    if (o.bytes) {
      std::cout << bytes << "\n";
    } else {
      std::cout << HumanSize(static_cast<double>(bytes)) << "\n";
    }
    return 0;
  }
  if (command == "attr") {
    if (o.bits) {
      Variant result =
          call("SetFDAttr", {o.first, static_cast<int32_t>(*o.bits)});
      return status(result, result.ToInt32() == 1);
    }
    Variant result = call("GetFDAttr", {o.first});
    if (result.ToInt32() < 0) return Failed(*vantry, command, result, o.first);
    int bits = result.ToInt32();
    std::cout << bits << " " << AttributeLetters(bits) << "\n";
    return 0;
  }
  if (command == "exists") {
    Variant result =
        call(o.file_only ? "IsFileExists" : "IsDirExists", {o.first});
    if (result.ToInt32() != 1) return Failed(*vantry, command, result, o.first);
    std::cout << result.ToText() << "\n";
    return 0;
  }
  Variant result;
  if (command == "cp") result = call("CopyFile", {o.first, o.second});
  if (command == "cpx") {
    result = call("CopyFileEx", {o.first, o.second, o.third.value_or("")});
  }
  if (command == "mv") result = call("RenameDir", {o.first, o.second});
  if (command == "rm") result = call("DeleteFile", {o.first});
  if (command == "rmtree") result = call("DeleteDir", {o.first});
  if (command == "mkdir" && o.parents) return MakeParents(*vantry, o.first);
  if (command == "mkdir") result = call("MakeDir", {o.first});
  return status(result, result.ToInt32() == 1);
}

struct Subcommand {
  const char* name;
  const char* help;
  const char* first;
  const char* second;  // nullptr when the command takes one path
  const char* example;
};

constexpr Subcommand kSubcommands[] = {
    {"ls", "List a directory (ReadDir)", "DIR", nullptr,
     "corvane files ls --sort size /srv/uploads"},
    {"info", "Show the record of a path or its first match (GetFileInfo)",
     "PATH", nullptr, "corvane files info --json /srv/uploads/notes.txt"},
    {"cp", "Copy a file (CopyFile)", "SRC", "DST",
     "corvane files cp notes.txt /srv/uploads/notes.txt"},
    {"cpx", "Copy the files of a directory that match PATTERN (CopyFileEx)",
     "SRCDIR", "DSTDIR",
     "corvane files cpx /srv/uploads /backup/uploads \"*.txt\""},
    {"mv", "Rename or move a file or directory (RenameDir)", "OLD", "NEW",
     "corvane files mv old-name.txt new-name.txt"},
    {"rm", "Delete a file (DeleteFile)", "FILE", nullptr,
     "corvane files rm /srv/uploads/notes.txt"},
    {"rmtree", "Delete a directory with everything in it (DeleteDir)", "DIR",
     nullptr, "corvane files rmtree /srv/uploads/old"},
    {"mkdir", "Create a directory (MakeDir)", "DIR", nullptr,
     "corvane files mkdir -p /srv/uploads/2025/june"},
    {"cat", "Write a file to standard output (ReadFile)", "FILE", nullptr,
     "corvane files cat /srv/uploads/notes.txt"},
    {"put", "Write standard input to a file (WriteFile)", "FILE", nullptr,
     "echo hello | corvane files put /srv/uploads/hello.txt"},
    {"df", "Free bytes on the volume (GetDiskFreeSpace)", "PATH", nullptr,
     "corvane files df /srv"},
    {"attr", "Show attribute bits, or set them (GetFDAttr, SetFDAttr)", "PATH",
     nullptr, "corvane files attr notes.txt 1   # make it read-only"},
    {"exists",
     "Print 1 when a file or directory matches (IsDirExists); exit 1 "
     "otherwise",
     "PATH", nullptr, "corvane files exists --file \"/srv/uploads/*.txt\""},
};

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto* files = app.add_subcommand(
      "files", "Manage files and directories through Corvane.Vantry");
  files->require_subcommand(1);
  files->footer(
      "Example:\n  corvane files ls /srv/uploads\n"
      "Run 'corvane files SUBCOMMAND --help' for each one's example.");
  for (const Subcommand& sub : kSubcommands) {
    auto* command = files->add_subcommand(sub.name, sub.help);
    auto options = std::make_shared<FilesOptions>();
    command->add_option(sub.first, options->first, sub.first)->required();
    if (sub.second) {
      command->add_option(sub.second, options->second, sub.second)->required();
    }
    std::string name = sub.name;
    if (name == "ls" || name == "info") {
      command->add_flag("--json", options->json, "Print JSON");
    }
    if (name == "ls") {
      command
          ->add_option("--sort", options->sort,
                       "Order of the entries: name (the default), size "
                       "(largest first) or none (the directory's order; "
                       "the default with --json)")
          ->check(CLI::IsMember({"name", "size", "none"}));
    }
    if (name == "ls" || name == "df") {
      command->add_flag("-b,--bytes", options->bytes,
                        "Exact sizes in bytes instead of 1.5K, 12M, 3.0G");
    }
    if (name == "mkdir") {
      command->add_flag("-p,--parents", options->parents,
                        "Create the missing parent directories too; an "
                        "existing directory is no failure");
    }
    command->footer(std::string("Example:\n  ") + sub.example);
    if (name == "cpx") {
      command->add_option("PATTERN", options->third,
                          "Names to copy, with * and ? (every file if left "
                          "out)");
    }
    if (name == "attr") {
      command->add_option("BITS", options->bits,
                          "Bits to set: 1 read-only, 32 archive");
    }
    if (name == "exists") {
      command->add_flag("--file", options->file_only,
                        "Only a plain file counts (IsFileExists)");
    }
    command->callback([name, options, &exit_status] {
      try {
        exit_status = RunFiles(name, *options);
      } catch (const Failure& failure) {
        std::cerr << "corvane files " << name << ": " << failure.description
                  << "\n"
                  << SystemTextLine(failure.system_text);
        exit_status = 1;
      }
    });
  }
});

}  // namespace
}  // namespace corvane::tool

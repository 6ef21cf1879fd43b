// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapBootstrap.h"

#include <nlohmann/json.hpp>

#include "frame/DataFiles.h"
#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace corvane::namewell {
namespace {

using nlohmann::json;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool IsHttpUrl(const json& url) {
  if (!url.is_string()) return false;
  const std::string& text = url.get_ref<const std::string&>();
  return StartsWithIgnoringCase(text, "https://") ||
         StartsWithIgnoringCase(text, "http://");
}

// The service's base URL: the first https one, else the first; ends in "/".
std::string ChosenUrl(const json& urls) {
  const json* chosen = nullptr;
  for (const json& url : urls) {
    if (!IsHttpUrl(url)) continue;
    if (!chosen) chosen = &url;
    if (StartsWithIgnoringCase(url.get_ref<const std::string&>(), "https://")) {
      chosen = &url;
      break;
    }
  }
  if (!chosen) return {};
  std::string base = chosen->get<std::string>();
  if (base.back() != '/') base += '/';
  return base;
}

[[noreturn]] void Refuse(std::string problem) {
  throw Failure(kInvalidFileFormat, "", std::move(problem));
}

// Adds one service ([[entries...], [urls...]]); throws Failure with the
// problem.
void AddService(const json& service, size_t index, RdapBootstrap& bootstrap) {
  std::string where = "service " + std::to_string(index + 1);
  if (!service.is_array() || service.size() != 2 || !service[0].is_array() ||
      !service[1].is_array()) {
    Refuse(where + " is not a pair of an entry list and a URL list");
  }
  std::string base = ChosenUrl(service[1]);
  if (base.empty()) Refuse(where + " has no http or https URL");
  if (service[0].empty()) Refuse(where + " lists no entries");
  for (const json& entry : service[0]) {
    if (!entry.is_string() || entry.get_ref<const std::string&>().empty()) {
      Refuse(where + " has an entry that is not a domain label");
    }
    std::string label = LowerCase(entry.get<std::string>());
    while (!label.empty() && label.back() == '.') label.pop_back();
    bootstrap.servers.emplace(std::move(label), base);
  }
}

}  // namespace

RdapBootstrap ReadBootstrap(std::string_view text) {
  json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) Refuse("it is not JSON");
  if (!document.is_object()) Refuse("it is not a JSON object");
  auto version = document.find("version");
  if (version == document.end() || !version->is_string()) {
    Refuse("\"version\" is missing");
  }
  if (*version != "1.0") Refuse("\"version\" is not \"1.0\"");
  auto publication = document.find("publication");
  if (publication == document.end() || !publication->is_string()) {
    Refuse("\"publication\" is missing");
  }
  auto description = document.find("description");
  if (description != document.end() && !description->is_string()) {
    Refuse("\"description\" is not a text");
  }
  auto services = document.find("services");
  if (services == document.end() || !services->is_array()) {
    Refuse("\"services\" is missing or not a list");
  }
  RdapBootstrap bootstrap;
  bootstrap.publication = publication->get<std::string>();
  for (size_t i = 0; i < services->size(); ++i) {
    AddService((*services)[i], i, bootstrap);
  }
  return bootstrap;
}

std::string TopLevelLabel(std::string_view ascii_name) {
  while (!ascii_name.empty() && ascii_name.back() == '.') {
    ascii_name.remove_suffix(1);
  }
  size_t dot = ascii_name.rfind('.');
  return LowerCase(dot == std::string_view::npos ? ascii_name
                                                 : ascii_name.substr(dot + 1));
}

std::string RdapBaseFor(const RdapBootstrap& bootstrap,
                        std::string_view ascii_name) {
  std::string name = LowerCase(ascii_name);
  while (!name.empty() && name.back() == '.') name.pop_back();
  // From the whole name down to its last label: the longest match wins.
  for (size_t start = 0; start < name.size();) {
    auto found = bootstrap.servers.find(std::string_view(name).substr(start));
    if (found != bootstrap.servers.end()) return found->second;
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return {};
}

std::string BootstrapPath() { return DataFilePath(kBootstrapFile); }

RdapBootstrap LoadBootstrap() {
  std::string path = BootstrapPath();
  std::string text;
  try {
    text = platform::Files().ReadRegularFile(path, kBootstrapLimit);
  } catch (Failure& failure) {
    failure.description = "The RDAP bootstrap file " + path +
                          " cannot be read: " + failure.description;
    throw;
  }
  try {
    return ReadBootstrap(text);
  } catch (Failure& failure) {
    failure.description =
        "The RDAP bootstrap file " + path +
        " is not an RDAP bootstrap file: " + failure.description + ".";
    throw;
  }
}

BootstrapFile ReadBootstrapFile(std::string_view path) {
  BootstrapFile file;
  try {
    file.text = platform::Files().ReadRegularFile(path, kBootstrapLimit);
  } catch (Failure& failure) {
    failure.description =
        std::string(path) + " cannot be read: " + failure.description;
    throw;
  }
  try {
    file.bootstrap = ReadBootstrap(file.text);
  } catch (Failure& failure) {
    failure.description =
        std::string(path) +
        " is not an RDAP bootstrap file: " + failure.description;
    throw;
  }
  return file;
}

RdapBootstrap InstallBootstrap(std::string_view source) {
  BootstrapFile file = ReadBootstrapFile(source);
  std::string target = BootstrapPath();
  try {
    platform::WriteFileReplacing(target, file.text);
  } catch (Failure& failure) {
    failure.description =
        target + " cannot be replaced: " + failure.description;
    throw;
  }
  return std::move(file.bootstrap);
}

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "tools/corvane/ScriptHost.h"

#include "frame/Dispatch.h"
#include "frame/MemoryHost.h"
#include "frame/Registry.h"
#include "platform/FileSystem.h"
#include "tools/corvane/TextCodec.h"

namespace corvane::tool {
namespace {

const char kSource[] = "Corvane";

// The deepest nesting of arrays and objects a line may have; every step
// needs a handful, and the converters that walk a value recurse.
constexpr int kDeepestNesting = 256;

// A required text field of a step.
std::string TextField(const Json& step, const char* field) {
  auto found = step.find(field);
  if (found == step.end() || !found->is_string()) {
    throw MalformedLine(std::string("\"") + field + "\" must be a string");
  }
  return found->get<std::string>();
}

Json Ok() { return Json{{"ok", true}}; }

bool IsSkipped(const std::string& line) {
  size_t first = line.find_first_not_of(" \t\r");
  return first == std::string::npos || line[first] == '#';
}

MemoryRequestData RequestFrom(const Json& request) {
  if (!request.is_object())
    throw MalformedLine("\"request\" must be an object");
  MemoryRequestData data;
  if (request.contains("body")) data.body = TextField(request, "body");
  if (request.contains("body_base64")) {
    auto body = DecodeBase64(TextField(request, "body_base64"));
    if (!body) throw MalformedLine("\"body_base64\" is not Base64");
    data.body = std::move(*body);
  }
  if (request.contains("body_file")) {
    data.body = platform::Files().ReadFile(TextField(request, "body_file"));
  }
  if (request.contains("content_type")) {
    data.server_variables["CONTENT_TYPE"] = TextField(request, "content_type");
  }
  if (request.contains("query"))
    data.query_string = TextField(request, "query");
  if (request.contains("server_variables")) {
    const Json& variables = request["server_variables"];
    if (!variables.is_object()) {
      throw MalformedLine("\"server_variables\" must be an object");
    }
    for (const auto& [name, value] : variables.items()) {
      if (!value.is_string()) {
        throw MalformedLine("server variable " + name + " must be a string");
      }
      data.server_variables[name] = value.get<std::string>();
    }
  }
  return data;
}

}  // namespace

Json ScriptHost::ParseLine(const std::string& line) {
  return Json::parse(line, [](int depth, Json::parse_event_t event, Json&) {
    if ((event == Json::parse_event_t::object_start ||
         event == Json::parse_event_t::array_start) &&
        depth >= kDeepestNesting) {
      throw MalformedLine("nesting deeper than " +
                          std::to_string(kDeepestNesting) + " levels");
    }
    return true;
  });
}

int ScriptHost::Run(std::istream& script, std::ostream& errors) {
  std::string line;
  for (int number = 1; std::getline(script, line); ++number) {
    if (IsSkipped(line)) continue;
    try {
      RunStep(ParseLine(line));
    } catch (const Json::exception& error) {
      errors << "corvane run: line " << number << ": " << error.what() << "\n";
      return 2;
    } catch (const MalformedLine& error) {
      errors << "corvane run: line " << number << ": " << error.what() << "\n";
      return 2;
    }
  }
  return 0;
}

void ScriptHost::RunStep(const Json& step) {
  using Handler = Json (ScriptHost::*)(const Json&);
  static const std::pair<const char*, Handler> kSteps[] = {
      {"create", &ScriptHost::Create}, {"page", &ScriptHost::Page},
      {"get", &ScriptHost::Get},       {"call", &ScriptHost::Call},
      {"put", &ScriptHost::Put},       {"items", &ScriptHost::Items},
      {"output", &ScriptHost::Output}, {"release", &ScriptHost::Release},
  };
  if (!step.is_object()) throw MalformedLine("a step must be a JSON object");
  for (const auto& [key, handler] : kSteps) {
    if (!step.contains(key)) continue;
    Json answer;
    try {
      answer = (this->*handler)(step);
    } catch (const MalformedLine&) {
      throw;
    } catch (const Json::exception&) {
      throw;
    } catch (...) {
      Failure failure = CurrentFailure(kSource);
      answer = Json{{"error",
                     {{"number", failure.number},
                      {"source", failure.source},
                      {"description", failure.description}}}};
    }
    out_ << answer.dump(-1, ' ', false, Json::error_handler_t::replace)
         << std::endl;
    return;
  }
  throw MalformedLine("no step kind in " + step.dump());
}

Variant ScriptHost::Held(const std::string& name) const {
  auto found = held_.find(name);
  if (found == held_.end()) {
    throw Failure(kObjectRequired, kSource,
                  "Object required: nothing is held as '" + name + "'");
  }
  return found->second;
}

Variant::Object ScriptHost::HeldObject(const std::string& name) const {
  Variant::Object object = Held(name).ToObject();
  if (!object) {
    throw Failure(kObjectRequired, kSource,
                  "Object required: '" + name + "' holds no object");
  }
  return object;
}

Variant ScriptHost::ValueOf(const Json& value) const {
  return VariantFromJson(
      value, [this](const std::string& name) { return Held(name); });
}

Arguments ScriptHost::ArgumentsOf(const Json& step) const {
  Arguments args;
  auto found = step.find("args");
  if (found == step.end()) return args;
  if (!found->is_array()) throw MalformedLine("\"args\" must be an array");
  for (const Json& value : *found) args.push_back(ValueOf(value));
  return args;
}

void ScriptHost::Hold(const Json& step, const Variant& value) {
  if (step.contains("as")) held_[TextField(step, "as")] = value;
}

Json ScriptHost::Create(const Json& step) {
  std::string progid = TextField(step, "create");
  std::string name = TextField(step, "as");
  held_[name] = CreateObject(progid);
  return Ok();
}

Json ScriptHost::Page(const Json& step) {
  std::string name = TextField(step, "page");
  MemoryRequestData data;
  if (step.contains("request")) data = RequestFrom(step["request"]);
  held_[name] = MemoryContext::New(std::move(data));
  return Ok();
}

Json ScriptHost::Get(const Json& step) {
  std::string member = TextField(step, "get");
  auto object = HeldObject(TextField(step, "on"));
  Arguments args = ArgumentsOf(step);
  Variant value = object->Get(member, args);
  Hold(step, value);
  return Json{{"value", JsonFromVariant(value)}};
}

Json ScriptHost::Call(const Json& step) {
  std::string member = TextField(step, "call");
  auto object = HeldObject(TextField(step, "on"));
  Arguments args = ArgumentsOf(step);
  Variant value = object->Call(member, args);
  Hold(step, value);
  Json byref = Json::array();
  for (const Variant& arg : args) byref.push_back(JsonFromVariant(arg));
  return Json{{"value", JsonFromVariant(value)}, {"byref", byref}};
}

Json ScriptHost::Put(const Json& step) {
  std::string member = TextField(step, "put");
  auto object = HeldObject(TextField(step, "on"));
  if (!step.contains("value")) throw MalformedLine("\"value\" is missing");
  object->Put(member, ValueOf(step["value"]));
  return Ok();
}

Json ScriptHost::Items(const Json& step) {
  auto collection = HeldObject(TextField(step, "items"));
  std::vector<std::string> fields;
  if (step.contains("fields")) {
    if (!step["fields"].is_array()) {
      throw MalformedLine("\"fields\" must be an array");
    }
    for (const Json& field : step["fields"]) {
      if (!field.is_string()) throw MalformedLine("fields must be strings");
      fields.push_back(field.get<std::string>());
    }
  }
  Json items = Json::array();
  for (const Variant& item : collection->Enumerate()) {
    if (fields.empty()) {
      items.push_back(JsonFromVariant(item));
      continue;
    }
    auto object = item.ToObject();
    if (!object) throw StandardFailure(kObjectRequired);
    Json record = Json::object();
    for (const auto& field : fields) {
      record[field] = JsonFromVariant(object->Get(field));
    }
    items.push_back(record);
  }
  return Json{{"value", items}};
}

Json ScriptHost::Output(const Json& step) {
  auto object = HeldObject(TextField(step, "output"));
  auto page = std::dynamic_pointer_cast<MemoryContext>(object);
  if (!page) {
    throw Failure(
        kTypeMismatch, kSource,
        "Type mismatch: '" + TextField(step, "output") + "' is not a page");
  }
  return Json{{"value", JsonFromVariant(page->Output())}};
}

Json ScriptHost::Release(const Json& step) {
  held_.erase(TextField(step, "release"));
  return Ok();
}

}  // namespace corvane::tool

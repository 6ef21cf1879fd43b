// SPDX-License-Identifier: Apache-2.0
#include "web/FilesPage.h"

#include <httplib.h>

#include <algorithm>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "web/DataDirectory.h"
#include "web/FormFields.h"
#include "web/Html.h"

namespace corvane::web {
namespace {

constexpr int16_t kDirectoryBit = 16;

constexpr std::pair<int, const char*> kAttributeNames[] = {
    {1, "read-only"},  {2, "hidden"},   {4, "system"},
    {16, "directory"}, {32, "archive"},
};

constexpr std::pair<const char*, const char*> kContentTypes[] = {
    {"txt", "text/plain; charset=utf-8"},
    {"csv", "text/csv; charset=utf-8"},
    {"htm", "text/html; charset=utf-8"},
    {"html", "text/html; charset=utf-8"},
    {"css", "text/css"},
    {"js", "text/javascript"},
    {"json", "application/json"},
    {"xml", "application/xml"},
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"svg", "image/svg+xml"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
};

std::string AttributeText(int attributes) {
  std::string text;
  for (const auto& [bit, name] : kAttributeNames) {
    if ((attributes & bit) == 0) continue;
    if (!text.empty()) text += ' ';
    text += name;
  }
  return text;
}

std::string ContentTypeOf(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) {
    std::string extension = LowerCase(name.substr(dot + 1));
    for (const auto& [known, type] : kContentTypes) {
      if (extension == known) return type;
    }
  }
  return "application/octet-stream";
}

// An attachment named `name`: a plain ASCII fallback for old readers and the
// exact name percent-encoded in UTF-8 (RFC 6266).
std::string DispositionOf(std::string_view name) {
  std::string fallback;
  for (unsigned char c : name) {
    bool plain = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    fallback += plain ? static_cast<char>(c) : '_';
  }
  return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" +
         PercentEncoded(name);
}

std::string FilesHref(std::string_view relative) {
  return "/files?path=" + PercentEncoded(relative);
}

std::string ChildOf(std::string_view directory, std::string_view name) {
  return directory.empty() ? std::string(name)
                           : std::string(directory) + "/" + std::string(name);
}

std::string HiddenField(std::string_view name, std::string_view value) {
  return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" +
         Escape(value) + "\">";
}

std::string RefusalHtml(std::string_view reason) {
  return "<div class=\"error\" id=\"refusal\">" + Escape(reason) + "</div>\n";
}

std::string OkHtml(std::string_view text) {
  return "<div class=\"ok\" id=\"result\">" + Escape(text) + "</div>\n";
}

// `text` with every path a held descriptor gives replaced by the path the
// request named, so that messages speak of the data directory's names.
std::string WithShownPaths(
    std::string text,
    const std::vector<std::pair<std::string, std::string>>& shown) {
  for (const auto& [held, name] : shown) {
    for (size_t at = text.find(held); at != std::string::npos;
         at = text.find(held, at)) {
      size_t end = at + held.size();
      if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        at = end;  // a longer descriptor number
        continue;
      }
      // The data directory itself shows as "/", or as nothing before the
      // "/" of a name inside it.
      std::string shown_name = name;
      if (shown_name.empty() && (end == text.size() || text[end] != '/')) {
        shown_name = "/";
      }
      text.replace(at, held.size(), shown_name);
      at += shown_name.size();
    }
  }
  return text;
}

// One request's Vantry object and the data directory it works in.
class FilesWork {
 public:
  explicit FilesWork(PageCall& call)
      : data_(call.settings.data_directory),
        context_(HttpContext::New(call.request, call.server, {})),
        vantry_("Corvane.Vantry", context_) {}

  const DataDirectory& data() const { return data_; }
  Dispatch& vantry() const { return *vantry_; }

  // The held path for Vantry; its failures will name `relative` instead.
  std::string Use(const platform::HeldPath& held, std::string_view relative) {
    shown_.emplace_back(held.Path(), Shown(relative));
    return held.Path();
  }
  std::string Use(const NamedEntry& entry, std::string_view relative) {
    size_t slash = relative.rfind('/');
    shown_.emplace_back(entry.Path(), Shown(relative));
    shown_.emplace_back(
        entry.parent.Path(),
        Shown(relative.substr(0, slash == std::string_view::npos ? 0 : slash)));
    return entry.Path();
  }

  // The component's last-error triple, paths as the request named them. A
  // number beyond 16 bits (the directory walk's) cannot be read back.
  std::string ErrorTripleHtml() const {
    std::string number;
    try {
      number = std::to_string(vantry_->Get("GetLastErrNum").ToInt32());
    } catch (const Failure&) {
      number = "(beyond 16 bits)";
    }
    return ErrorHtml(
        number, vantry_->Get("GetLastErrSource").ToText(),
        WithShownPaths(vantry_->Get("GetLastErrDescription").ToText(), shown_));
  }

  // Whether the last call recorded a failure (the object is new per page).
  bool Failed() const {
    return !vantry_->Get("GetLastErrDescription").ToText().empty();
  }

 private:
  // "/a/b" for "a/b"; empty for the data directory itself.
  static std::string Shown(std::string_view relative) {
    return relative.empty() ? std::string() : "/" + std::string(relative);
  }

  DataDirectory data_;
  std::shared_ptr<HttpContext> context_;
  PageObject vantry_;
  std::vector<std::pair<std::string, std::string>> shown_;
};

std::string DeleteHtml(FilesWork& work, std::string_view given) {
  std::string item = DataDirectory::Joined(DataDirectory::Levels(given));
  NamedEntry entry = work.data().HoldEntry(item);
  std::string path = work.Use(entry, item);
  if (!platform::PathEntryExists(path)) {
    throw PathRefused(404, "No file or directory is named \"" + item +
                               "\" in the data directory.");
  }
  // A link is deleted as a link, never entered.
  bool directory = false;
  if (!entry.parent.IsLink(entry.name)) {
    int16_t attributes =
        work.vantry().Call("GetFDAttr", {Variant(path)}).ToInt16();
    directory = attributes != -1 && (attributes & kDirectoryBit) != 0;
  }
  int16_t code =
      work.vantry()
          .Call(directory ? "DeleteDir" : "DeleteFile", {Variant(path)})
          .ToInt16();
  if (code == 1) return OkHtml("Deleted /" + item);
  if (code == 0) {
    return "<div class=\"error\" id=\"result\">Nothing deleted: /" +
           Escape(item) + " is missing, hidden, read-only or in use.</div>\n";
  }
  return "<div class=\"error\" id=\"result\">Not deleted</div>\n" +
         work.ErrorTripleHtml();
}

std::string MakeDirHtml(FilesWork& work, const std::string& here,
                        const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    throw PathRefused(400, "A new directory needs a name without \"/\".");
  }
  std::string item = ChildOf(here, name);
  NamedEntry entry = work.data().HoldEntry(item);
  std::string path = work.Use(entry, item);
  if (work.vantry().Call("MakeDir", {Variant(path)}).ToInt16() == 1) {
    return OkHtml("Made the directory /" + item);
  }
  return "<div class=\"error\" id=\"result\">No directory made</div>\n" +
         work.ErrorTripleHtml();
}

// Refuses a copy whose pattern matches a link that leads out: the copy
// would read the file it points to.
void RefuseLinksOut(const FilesWork& work, const platform::HeldPath& source,
                    const std::string& from, const std::string& pattern) {
  for (const auto& found :
       platform::Files().Find(source.Path() + "/" + pattern)) {
    // Only what the copy takes: plain files (a link counts as what it
    // points to), neither hidden nor directories.
    if (found.attributes &
        (platform::kDirectory | platform::kHidden | platform::kSystem)) {
      continue;
    }
    if (source.IsLink(found.name) && work.data().LeadsOut(source, found.name)) {
      throw PathRefused(403, "Refused: \"" + ChildOf(from, found.name) +
                                 "\" is a symbolic link that leads out of "
                                 "the data directory.");
    }
  }
}

std::string CopyHtml(FilesWork& work, const std::string& from,
                     const std::string& to, const std::string& pattern) {
  if (pattern.find('/') != std::string::npos ||
      pattern.find('\0') != std::string::npos) {
    throw PathRefused(400, "A pattern names files of one directory: no \"/\".");
  }
  std::string from_path = DataDirectory::Joined(DataDirectory::Levels(from));
  std::string to_path = DataDirectory::Joined(DataDirectory::Levels(to));
  platform::HeldPath source = work.data().HoldDirectory(from_path);
  platform::HeldPath target = work.data().HoldDirectory(to_path);
  RefuseLinksOut(work, source, from_path, pattern);
  int16_t code = work.vantry()
                     .Call("CopyFileEx", {Variant(work.Use(source, from_path)),
                                          Variant(work.Use(target, to_path)),
                                          Variant(pattern)})
                     .ToInt16();
  if (code == 1) {
    return OkHtml("Copied the files matching \"" +
                  (pattern.empty() ? std::string("*") : pattern) + "\" from /" +
                  from_path + " to /" + to_path);
  }
  return "<div class=\"error\" id=\"result\">Not copied</div>\n" +
         work.ErrorTripleHtml();
}

std::string ActionHtml(FilesWork& work, const FormFields& form,
                       const std::string& here) {
  std::string action = form.Value("action");
  if (action == "delete") return DeleteHtml(work, form.Value("item"));
  if (action == "mkdir") return MakeDirHtml(work, here, form.Value("name"));
  if (action == "copy") {
    return CopyHtml(work, form.Value("from"), form.Value("to"),
                    form.Value("pattern"));
  }
  throw PathRefused(400, "The form asks for no known action.");
}

std::string DeleteButton(const std::string& here, const std::string& item) {
  return "<form method=\"post\" action=\"/files\" class=\"inline\">" +
         HiddenField("action", "delete") + HiddenField("path", here) +
         HiddenField("item", item) +
         "<button type=\"submit\" class=\"delete\" data-item=\"" +
         Escape(item) + "\">Delete</button></form>";
}

struct Row {
  std::string name;
  std::vector<std::string> cells;
};

std::vector<std::vector<std::string>> SortedCells(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return a.name < b.name; });
  std::vector<std::vector<std::string>> cells;
  for (auto& row : rows) cells.push_back(std::move(row.cells));
  return cells;
}

std::string LinkOutNote() {
  return "<em>a symbolic link that leads out of the data directory: "
         "refused</em>";
}

std::string DirectoryRows(const FilesWork& work,
                          const platform::HeldPath& directory,
                          const std::string& here) {
  std::vector<Row> rows;
  for (const Variant& item :
       work.vantry().Get("SubDirs").ToObject()->Enumerate()) {
    auto record = item.ToObject();
    std::string name = record->Get("Name").ToText();
    std::string child = ChildOf(here, name);
    if (directory.IsLink(name) && work.data().LeadsOut(directory, name)) {
      rows.push_back({name, {Escape(name) + "/", LinkOutNote(), "", ""}});
      continue;
    }
    rows.push_back(
        {name,
         {"<a class=\"directory\" href=\"" + Escape(FilesHref(child)) + "\">" +
              Escape(name) + "/</a>",
          Escape(record->Get("DateTime").ToText()),
          Escape(AttributeText(record->Get("Attr").ToInt16())),
          DeleteButton(here, child)}});
  }
  if (rows.empty()) return {};
  return "<h2>Directories</h2>\n" +
         MarkupTableHtml({"Name", "Created", "Attributes", ""},
                         SortedCells(std::move(rows)));
}

std::string FileRows(const FilesWork& work, const platform::HeldPath& directory,
                     const std::string& here) {
  std::vector<Row> rows;
  for (const Variant& item :
       work.vantry().Get("Files").ToObject()->Enumerate()) {
    auto record = item.ToObject();
    std::string name = record->Get("Name").ToText();
    std::string child = ChildOf(here, name);
    if (directory.IsLink(name) && work.data().LeadsOut(directory, name)) {
      rows.push_back({name, {Escape(name), LinkOutNote(), "", "", "", "", ""}});
      continue;
    }
    rows.push_back(
        {name,
         {"<span class=\"file\">" + Escape(name) + "</span>",
          Escape(record->Get("Length").ToText()),
          Escape(AttributeText(record->Get("Attr").ToInt16())),
          Escape(record->Get("CreationTime").ToText()),
          Escape(record->Get("LastWriteTime").ToText()),
          Escape(record->Get("LastAccessTime").ToText()),
          "<a class=\"download\" href=\"/files/download?path=" +
              Escape(PercentEncoded(child)) + "\" data-item=\"" +
              Escape(child) + "\">Download</a> " + DeleteButton(here, child)}});
  }
  if (rows.empty()) return "<p>No files here.</p>\n";
  return "<h2>Files</h2>\n" +
         MarkupTableHtml({"Name", "Bytes", "Attributes", "Created",
                          "Last written", "Last read", ""},
                         SortedCells(std::move(rows)));
}

// Where the listing is: the data directory and each level, linked.
std::string TrailHtml(const std::string& here) {
  std::string html = "<p id=\"where\"><a href=\"/files\">data directory</a>";
  std::string path;
  for (const auto& level : DataDirectory::Levels(here)) {
    path = ChildOf(path, level);
    html += " / <a href=\"" + Escape(FilesHref(path)) + "\">" + Escape(level) +
            "</a>";
  }
  return html + "</p>\n";
}

std::string FormsHtml(const std::string& here) {
  return "<form method=\"post\" action=\"/files\" id=\"mkdir\">" +
         HiddenField("action", "mkdir") + HiddenField("path", here) +
         "<label><span>New directory</span><input type=\"text\" name=\"name\" "
         "id=\"name\"></label><button type=\"submit\">Make directory</button>"
         "</form>\n<form method=\"post\" action=\"/files\" id=\"copy\">" +
         HiddenField("action", "copy") + HiddenField("path", here) +
         "<label><span>Copy files matching</span><input type=\"text\" "
         "name=\"pattern\" id=\"pattern\" placeholder=\"*.txt\"></label>"
         "<label><span>from</span><input type=\"text\" name=\"from\" "
         "id=\"from\" value=\"" +
         Escape(here) +
         "\"></label><label><span>to</span><input type=\"text\" name=\"to\" "
         "id=\"to\"></label><p>Directories are relative to the data "
         "directory; <code>*</code> and <code>?</code> are wildcards, an "
         "empty pattern copies every file. Subdirectories are not copied."
         "</p><button type=\"submit\">Copy</button></form>\n";
}

std::string ListingHtml(FilesWork& work, const std::string& here) {
  platform::HeldPath directory = work.data().HoldDirectory(here);
  std::string html = TrailHtml(here);
  int16_t code = work.vantry()
                     .Call("ReadDir", {Variant(work.Use(directory, here))})
                     .ToInt16();
  if (code != 1) return html + work.ErrorTripleHtml();
  return html + DirectoryRows(work, directory, here) +
         FileRows(work, directory, here);
}

}  // namespace

PageAnswer FilesPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Files";
  FormFields form;
  std::string here;
  std::string result;
  try {
    if (call.IsPost()) {
      form = FormFields::Parse(call.body);
      here = form.Value("path");
    } else {
      here = call.request.get_param_value("path");
    }
    here = DataDirectory::Joined(DataDirectory::Levels(here));
  } catch (const PathRefused& refused) {
    answer.status = refused.status;
    result = RefusalHtml(refused.what());
    here.clear();
  }
  try {
    FilesWork work(call);
    if (call.IsPost() && answer.status == 200) {
      try {
        result = ActionHtml(work, form, here);
      } catch (const PathRefused& refused) {
        answer.status = refused.status;
        result = RefusalHtml(refused.what());
      }
    }
    std::string listing;
    try {
      listing = ListingHtml(work, here);
    } catch (const PathRefused& refused) {
      answer.status = refused.status;
      result += RefusalHtml(refused.what());
      here.clear();
      listing = ListingHtml(work, here);
    }
    answer.body_html = result + listing + FormsHtml(here);
  } catch (const PathRefused& refused) {
    answer.status = refused.status;
    answer.body_html = result + RefusalHtml(refused.what());
  }
  return answer;
}

PageAnswer FileDownload(PageCall& call) {
  PageAnswer answer;
  answer.title = "Download";
  std::string relative = call.request.get_param_value("path");
  std::string held_path;
  try {
    FilesWork work(call);
    platform::HeldPath file = work.data().Hold(relative);
    held_path = file.Path();
    std::string path = DataDirectory::Joined(DataDirectory::Levels(relative));
    if (file.IsDirectory()) {
      throw PathRefused(400, "\"" + path + "\" is a directory, not a file.");
    }
    // Sent in pieces from the held file, not read whole through Vantry:
    // a download of any size keeps the console's memory flat.
    auto info = platform::Files().Stat(file.Path());
    if (!info) throw PathRefused(404, "\"" + path + "\" is gone.");
    FileBody body{platform::Files().OpenReader(file.Path()), info->size,
                  info->last_write_time};
    std::string name = path.substr(path.rfind('/') + 1);
    answer.content_type = ContentTypeOf(name);
    answer.file = std::move(body);
    answer.headers.emplace_back("Content-Disposition", DispositionOf(name));
  } catch (const PathRefused& refused) {
    answer.status = refused.status;
    answer.body_html =
        RefusalHtml(refused.what()) +
        "<p><a href=\"/files\">Back to the data directory</a></p>\n";
  } catch (const Failure& failure) {
    answer.status = 500;
    answer.body_html = "<div class=\"error\" id=\"result\">Not read</div>\n" +
                       ErrorHtml(failure.number, failure.source,
                                 WithShownPaths(failure.description,
                                                {{held_path, "/" + relative}}));
  }
  return answer;
}

}  // namespace corvane::web

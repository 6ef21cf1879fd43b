// SPDX-License-Identifier: Apache-2.0
#include "web/FilesPage.h"

#include <httplib.h>

#include <algorithm>
#include <map>

#include "frame/Component.h"
#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/RootedFileSystem.h"
#include "web/DataDirectory.h"
#include "web/FileFacts.h"
#include "web/FormFields.h"
#include "web/Html.h"
#include "web/UploadPage.h"

namespace corvane::web {
namespace {

constexpr int16_t kDirectoryBit = 16;

// Entries of a listing page; a folder of thousands is shown in pages.
constexpr size_t kEntriesPerPage = 200;

// The attributes a person acts on; "directory" shows in the name and
// "archive" is set on nearly every file.
constexpr std::pair<int, const char*> kAttributeNames[] = {
    {1, "read-only"},
    {2, "hidden"},
    {4, "system"},
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
  return "attachment; filename=\"" + AsciiFallback(name) +
         "\"; filename*=UTF-8''" + PercentEncoded(name);
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
  return OutcomeHtml(false, Escape(reason), "", "refusal");
}

// A result of the page's forms: one sentence, the numbers under Details.
std::string ResultHtml(bool succeeded, std::string_view sentence,
                       std::string_view details = {}) {
  return OutcomeHtml(succeeded, sentence, details, "result");
}

// "docs/a.txt" as a page shows it, escaped and marked as a name.
std::string NameHtml(std::string_view relative, bool directory = false) {
  return "<code>" + Escape(relative) + (directory ? "/" : "") + "</code>";
}

// One request's Vantry object and the data directory it works in. Vantry
// and the page's own file work go through a file system rooted in the data
// directory, with paths as the page shows them ("/docs/a.txt"), so that
// nothing they name reaches outside it and the component's texts name what
// the person sees.
class FilesWork {
 public:
  explicit FilesWork(PageCall& call)
      : data_(call.settings.data_directory),
        files_(data_.Root()),
        context_(HttpContext::New(call.request, call.server, {})),
        vantry_("Corvane.Vantry", context_) {}

  const DataDirectory& data() const { return data_; }
  platform::FileSystem& files() { return files_; }
  Dispatch& vantry() const { return *vantry_; }

  // Calls a member of Vantry with the rooted file system installed for
  // this thread.
  Variant Call(std::string_view member, std::vector<Variant> arguments = {}) {
    platform::ScopedThreadFileSystem rooted(files_);
    return vantry_->Call(member, std::move(arguments));
  }

  // "/docs/a.txt" for "docs/a.txt": a path of the rooted file system as the
  // page shows it; "/." for the data directory itself (Vantry takes no
  // directory of separators only).
  static std::string Seen(std::string_view relative) {
    return relative.empty() ? std::string("/.") : "/" + std::string(relative);
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
    return ErrorHtml(number, vantry_->Get("GetLastErrSource").ToText(),
                     vantry_->Get("GetLastErrDescription").ToText(),
                     LastSystemText(*vantry_));
  }

  // The same as one paragraph for a result's details.
  std::string ErrorDetailsHtml() const {
    std::string number;
    try {
      number = std::to_string(vantry_->Get("GetLastErrNum").ToInt32());
    } catch (const Failure&) {
      number = "(beyond 16 bits)";
    }
    return web::ErrorDetailsHtml(number,
                                 vantry_->Get("GetLastErrSource").ToText(),
                                 vantry_->Get("GetLastErrDescription").ToText(),
                                 LastSystemText(*vantry_));
  }

  // Whether the last call recorded a failure (the object is new per page).
  bool Failed() const {
    return !vantry_->Get("GetLastErrDescription").ToText().empty();
  }

 private:
  DataDirectory data_;
  platform::RootedFileSystem files_;
  std::shared_ptr<HttpContext> context_;
  PageObject vantry_;
};

// Whether anything is at `item` (a link that leads nowhere included), its
// parent held in `entry`.
bool EntryExists(FilesWork& work, const NamedEntry& entry,
                 const std::string& item) {
  if (entry.parent.IsLink(entry.name)) return true;
  try {
    return work.files().Stat(FilesWork::Seen(item)).has_value();
  } catch (const Failure&) {
    return true;  // there, but not to be looked at: Vantry says why
  }
}

std::string LinkOutNote() {
  return "<em>a symbolic link that leads out of the data directory: "
         "refused</em>";
}

// Why an entry is the console's own and may be neither deleted nor renamed;
// empty for any other entry.
std::string OwnFolderReason(std::string_view item) {
  if (item == ConsoleSettings::kUploadFolderName) {
    return "the Upload page stores its files there";
  }
  if (item == ConsoleSettings::kGatewayFolderName) {
    return "the Gateway page stores its files there";
  }
  return {};
}

void RefuseOwnFolder(const std::string& item, std::string_view what) {
  std::string reason = OwnFolderReason(item);
  if (reason.empty()) return;
  throw PathRefused(403, item +
                             "/ is one of the console's own folders and "
                             "cannot be " +
                             std::string(what) + ": " + reason + ".");
}

// What a request names, as the page shows it; "" for the data directory.
std::string Relative(std::string_view given) {
  return DataDirectory::Joined(DataDirectory::Levels(given));
}

// Whether the entry is a directory; a link counts as itself, never as what
// it points to.
bool IsDirectoryEntry(FilesWork& work, const NamedEntry& entry,
                      const std::string& item) {
  if (entry.parent.IsLink(entry.name)) return false;
  int16_t attributes =
      work.Call("GetFDAttr", {Variant(FilesWork::Seen(item))}).ToInt16();
  return attributes != -1 && (attributes & kDirectoryBit) != 0;
}

// The entry to delete or rename: it exists and is not the console's own.
NamedEntry HoldChangeable(FilesWork& work, const std::string& item,
                          std::string_view what) {
  RefuseOwnFolder(item, what);
  NamedEntry entry = work.data().HoldEntry(item);
  if (!EntryExists(work, entry, item)) {
    throw PathRefused(404, "No file or folder is named \"" + item +
                               "\" in the data directory.");
  }
  return entry;
}

std::string DeleteHtml(FilesWork& work, const std::string& given) {
  std::string item = Relative(given);
  NamedEntry entry = HoldChangeable(work, item, "deleted");
  bool directory = IsDirectoryEntry(work, entry, item);
  int16_t code = work.Call(directory ? "DeleteDir" : "DeleteFile",
                           {Variant(FilesWork::Seen(item))})
                     .ToInt16();
  if (code == 1) {
    return ResultHtml(true, NameHtml(item, directory) +
                                (directory ? " and everything in it were "
                                             "deleted."
                                           : " was deleted."));
  }
  if (code == 0) {
    return ResultHtml(false, "Nothing was deleted: " + NameHtml(item) +
                                 " is missing, hidden, read-only or in use.");
  }
  return ResultHtml(false,
                    "Not everything was deleted: something in " +
                        NameHtml(item, directory) +
                        " could not be removed (read-only, or in use).",
                    work.ErrorDetailsHtml());
}

std::string MakeDirHtml(FilesWork& work, const std::string& here,
                        const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    throw PathRefused(400, "A new folder needs a name without \"/\".");
  }
  std::string item = ChildOf(here, name);
  NamedEntry entry = work.data().HoldEntry(item);
  if (work.Call("MakeDir", {Variant(FilesWork::Seen(item))}).ToInt16() == 1) {
    return ResultHtml(true,
                      "The folder " + NameHtml(item, true) + " was made.");
  }
  return ResultHtml(
      false,
      "No folder was made: " + NameHtml(item) +
          (EntryExists(work, entry, item) ? " exists already."
                                          : " cannot be created here."),
      work.ErrorDetailsHtml());
}

std::string RenameHtml(FilesWork& work, const std::string& given,
                       const std::string& to_given) {
  std::string item = Relative(given);
  std::string to = Relative(to_given);
  if (to.empty()) throw PathRefused(400, "The new name is empty.");
  if (to == item) {
    throw PathRefused(400, "The new name is the name it has: nothing to do.");
  }
  if (to.starts_with(item + "/")) {
    throw PathRefused(400, "A folder cannot be moved into itself.");
  }
  NamedEntry entry = HoldChangeable(work, item, "renamed");
  NamedEntry target = work.data().HoldEntry(to);
  if (EntryExists(work, target, to)) {
    throw PathRefused(409, "Nothing was renamed: \"" + to +
                               "\" exists already; choose another name or "
                               "delete it first.");
  }
  int16_t code = work.Call("RenameDir", {Variant(FilesWork::Seen(item)),
                                         Variant(FilesWork::Seen(to))})
                     .ToInt16();
  if (code == 1) {
    return ResultHtml(true, NameHtml(item) + " is now " + NameHtml(to) + ".");
  }
  return ResultHtml(false,
                    "Nothing was renamed: " + NameHtml(item) +
                        " cannot be moved to " + NameHtml(to) + ".",
                    work.ErrorDetailsHtml());
}

// Refuses a copy whose pattern matches a link that leads out to a file:
// the copy would be asked to read the file it points to.
void RefuseLinksOut(FilesWork& work, const platform::HeldPath& source,
                    const std::string& from, const std::string& pattern) {
  for (const auto& found :
       work.files().Find(FilesWork::Seen(from) + "/" + pattern)) {
    // Only what the copy takes: neither hidden entries nor directories (a
    // link that leads out is listed as itself, so where it leads decides).
    if (found.attributes & (platform::kDirectory | platform::kHidden)) {
      continue;
    }
    if (source.IsLink(found.name) && !source.LinksToDirectory(found.name) &&
        work.data().LeadsOut(source, found.name)) {
      throw PathRefused(403, "Refused: \"" + ChildOf(from, found.name) +
                                 "\" is a symbolic link that leads out of "
                                 "the data directory.");
    }
  }
}

// The plain files of the folder that the pattern matches.
size_t MatchingFiles(FilesWork& work, const std::string& from,
                     const std::string& pattern) {
  size_t count = 0;
  for (const auto& found : work.files().Find(
           FilesWork::Seen(from) + "/" + (pattern.empty() ? "*" : pattern))) {
    if ((found.attributes &
         (platform::kDirectory | platform::kHidden | platform::kSystem)) == 0) {
      ++count;
    }
  }
  return count;
}

std::string FolderHtml(const std::string& relative) {
  return relative.empty() ? std::string("the data directory")
                          : NameHtml(relative, true);
}

std::string CopyHtml(FilesWork& work, const std::string& from,
                     const std::string& to, const std::string& pattern) {
  if (pattern.find('/') != std::string::npos ||
      pattern.find('\0') != std::string::npos) {
    throw PathRefused(400, "A pattern names files of one directory: no \"/\".");
  }
  std::string from_path = Relative(from);
  std::string to_path = Relative(to);
  platform::HeldPath source = work.data().HoldDirectory(from_path);
  work.data().HoldDirectory(to_path);
  RefuseLinksOut(work, source, from_path, pattern);
  std::string shown_pattern = pattern.empty() ? std::string("*") : pattern;
  size_t matching = MatchingFiles(work, from_path, pattern);
  if (matching == 0) {
    return ResultHtml(false, "Nothing was copied: no file in " +
                                 FolderHtml(from_path) + " matches " +
                                 NameHtml(shown_pattern) + ".");
  }
  int16_t code = work.Call("CopyFileEx", {Variant(FilesWork::Seen(from_path)),
                                          Variant(FilesWork::Seen(to_path)),
                                          Variant(pattern)})
                     .ToInt16();
  if (code == 1) {
    return ResultHtml(
        true, std::to_string(matching) + (matching == 1 ? " file" : " files") +
                  " matching " + NameHtml(shown_pattern) + " copied from " +
                  FolderHtml(from_path) + " to " + FolderHtml(to_path) + ".");
  }
  return ResultHtml(false,
                    "Not everything was copied from " + FolderHtml(from_path) +
                        " to " + FolderHtml(to_path) +
                        ": a file could not be read or written.",
                    work.ErrorDetailsHtml());
}

// A name of the folder `here` not taken yet: `name`, else "name (2)",
// "name (3)"...
std::string FreeName(FilesWork& work, const platform::HeldPath& folder,
                     const std::string& here, const std::string& name) {
  auto taken = [&](const std::string& candidate) {
    return folder.IsLink(candidate) ||
           work.files().Stat(FilesWork::Seen(ChildOf(here, candidate)));
  };
  std::string candidate = name;
  for (int number = 2; taken(candidate); ++number) {
    candidate = NumberedName(name, number);
  }
  return candidate;
}

// Files of a multipart POST stored by Cargane into a new hidden folder
// inside `here`, then moved in one by one: an existing name is replaced or
// kept with the new file under a numbered name, as the form chose. Cargane
// works through the rooted file system too.
std::string UploadHtml(PageCall& call, FilesWork& work,
                       const std::string& here) {
  platform::HeldPath folder = work.data().HoldDirectory(here);
  platform::FileSystem& files = work.files();
  std::string target = here.empty() ? std::string("/") : FilesWork::Seen(here);
  // A free name in the folder for the staging folder.
  std::string staged = files.TemporaryName(target, ".corvane-upload-");
  files.CreateDirectory(staged);
  auto context = call.Context();
  std::vector<std::string> stored;
  std::string details;
  int16_t code = 0;
  bool replace = false;
  {
    // Made before the rooted file system is installed: the class registry
    // lies outside the data directory.
    PageObject upload("Corvane.upload", context);
    platform::ScopedThreadFileSystem rooted(files);
    upload->Put("UpLoadPath", staged);
    ApplyUploadRules(*upload, call.settings);
    code = upload->Call("upload").ToInt16();
    if (code < 0) details = upload.ErrorDetailsHtml();
    for (const Variant& item :
         upload->Get("FormItems").ToObject()->Enumerate()) {
      auto record = item.ToObject();
      if (record->Get("Name").ToText() == "existing") {
        replace = record->Get("Value").ToText() == "replace";
      }
    }
  }
  std::vector<std::string> names;
  for (const auto& entry : files.Find(staged + "/*")) {
    if ((entry.attributes & platform::kDirectory) == 0) {
      names.push_back(entry.name);
    }
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    std::string from = staged;
    from.append("/").append(name);
    std::string to_name = name;
    try {
      bool link = folder.IsLink(name);
      auto existing = link ? std::nullopt
                           : files.Stat(FilesWork::Seen(ChildOf(here, name)));
      if (link || (existing && (!replace || (existing->attributes &
                                             platform::kDirectory)))) {
        to_name = FreeName(work, folder, here, name);
      }
      files.Rename(from, FilesWork::Seen(ChildOf(here, to_name)));
      stored.push_back(to_name);
    } catch (const Failure& failure) {
      files.Remove(from);
      details +=
          "<p>" + Escape(name) + ": " + Escape(failure.description) + "</p>";
    }
  }
  files.RemoveDirectory(staged);
  std::string where = FolderHtml(here);
  std::string list;
  for (const auto& name : stored) {
    list += (list.empty() ? ": " : ", ") + NameHtml(name);
  }
  if (code >= 0 && !stored.empty() && details.empty()) {
    return ResultHtml(true, std::to_string(stored.size()) +
                                (stored.size() == 1 ? " file" : " files") +
                                " stored in " + where + list + ".");
  }
  if (stored.empty()) {
    std::string why = code == -6   ? "its extension is not allowed"
                      : code == -4 ? "it is over the disk quota"
                      : code >= 0  ? "the form chose no file"
                                   : "the upload failed";
    return ResultHtml(
        false, "Nothing was stored in " + where + ": " + why + ".", details);
  }
  return ResultHtml(false,
                    "Only " + std::to_string(stored.size()) + " of the files " +
                        "were stored in " + where + list + ".",
                    details);
}

bool IsMultipart(const PageCall& call) {
  return web::ContentTypeOf(call.request).starts_with("multipart/form-data");
}

std::string ActionHtml(PageCall& call, FilesWork& work, const FormFields& form,
                       const std::string& here) {
  if (IsMultipart(call)) return UploadHtml(call, work, here);
  std::string action = form.Value("action");
  if (action == "delete") return DeleteHtml(work, form.Value("item"));
  if (action == "mkdir") return MakeDirHtml(work, here, form.Value("name"));
  if (action == "rename") {
    return RenameHtml(work, form.Value("item"), form.Value("to"));
  }
  if (action == "copy") {
    return CopyHtml(work, form.Value("from"), form.Value("to"),
                    form.Value("pattern"));
  }
  throw PathRefused(400, "The form asks for no known action.");
}

// How the listing is ordered and which page of it shows.
struct ListingView {
  SortKey key = SortKey::kName;
  bool descending = false;
  size_t page = 1;

  static ListingView Of(const httplib::Request& request) {
    ListingView view;
    view.key = SortKeyOf(request.get_param_value("sort"));
    view.descending = request.get_param_value("order") == "desc";
    std::string page = request.get_param_value("page");
    if (!page.empty() && page.size() < 9 &&
        std::all_of(page.begin(), page.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      view.page = std::max<size_t>(1, std::stoul(page));
    }
    return view;
  }

  std::string Href(const std::string& here, size_t to_page) const {
    return FilesHref(here) + "&sort=" + std::string(SortKeyText(key)) +
           "&order=" + (descending ? "desc" : "asc") +
           "&page=" + std::to_string(to_page);
  }
};

std::string ActionLink(const std::string& here, std::string_view what,
                       const std::string& item, std::string_view label) {
  return "<a class=\"" + std::string(what) + "\" href=\"" +
         Escape(FilesHref(here) + "&" + std::string(what) + "=" +
                PercentEncoded(item)) +
         "\" data-item=\"" + Escape(item) + "\">" + std::string(label) + "</a>";
}

struct Listed {
  ListedEntry facts;
  bool leads_out = false;
  int attributes = 0;
};

std::string RowHtml(const Listed& entry, const std::string& here) {
  const std::string& name = entry.facts.name;
  std::string child = ChildOf(here, name);
  std::string html = "<tr>";
  if (entry.leads_out) {
    return html + "<td>" + Escape(name) + (entry.facts.directory ? "/" : "") +
           "</td><td colspan=\"4\">" + LinkOutNote() + "</td></tr>\n";
  }
  if (entry.facts.directory) {
    html += "<td><a class=\"directory\" href=\"" + Escape(FilesHref(child)) +
            "\">" + Escape(name) + "/</a></td><td></td>";
  } else {
    html += "<td><span class=\"file\">" + Escape(name) +
            "</span></td><td class=\"size\" title=\"" +
            std::to_string(entry.facts.size) + " bytes\">" +
            HumanSize(entry.facts.size) + "</td>";
  }
  html += "<td class=\"time\">" + LocalTimeText(entry.facts.modified) +
          "</td><td>" + Escape(AttributeText(entry.attributes)) + "</td><td>";
  if (!entry.facts.directory) {
    html += "<a class=\"download\" href=\"/files/download?path=" +
            Escape(PercentEncoded(child)) + "\" data-item=\"" + Escape(child) +
            "\">Download</a> ";
  }
  if (OwnFolderReason(child).empty()) {
    html += ActionLink(here, "rename", child, "Rename") + " " +
            ActionLink(here, "delete", child, "Delete");
  } else {
    html += "<em>used by the console</em>";
  }
  return html + "</td></tr>\n";
}

std::string HeadingHtml(const std::string& here, const ListingView& view,
                        SortKey key, std::string_view label) {
  ListingView sorted = view;
  sorted.key = key;
  bool current = view.key == key;
  sorted.descending = current && !view.descending;
  std::string aria;
  if (current) {
    aria = view.descending ? " aria-sort=\"descending\""
                           : " aria-sort=\"ascending\"";
  }
  return "<th scope=\"col\"" + aria + "><a href=\"" +
         Escape(sorted.Href(here, 1)) + "\">" + std::string(label) +
         (current ? (view.descending ? " &#x25BC;" : " &#x25B2;") : "") +
         "</a></th>";
}

std::string PagesHtml(const std::string& here, const ListingView& view,
                      size_t pages) {
  if (pages <= 1) return {};
  std::string html =
      "<nav class=\"pages\" aria-label=\"Pages of this folder\">";
  if (view.page > 1) {
    html += "<a rel=\"prev\" href=\"" + Escape(view.Href(here, view.page - 1)) +
            "\">Previous</a> ";
  }
  for (size_t number = 1; number <= pages; ++number) {
    // The first, the last and those near the current page.
    bool near = number + 3 >= view.page && number <= view.page + 3;
    if (number != 1 && number != pages && !near) {
      if (number == 2 || number == view.page + 4) html += "&hellip; ";
      continue;
    }
    html += number == view.page
                ? "<a aria-current=\"page\" href=\"" +
                      Escape(view.Href(here, number)) + "\">" +
                      std::to_string(number) + "</a> "
                : "<a href=\"" + Escape(view.Href(here, number)) + "\">" +
                      std::to_string(number) + "</a> ";
  }
  if (view.page < pages) {
    html += "<a rel=\"next\" href=\"" + Escape(view.Href(here, view.page + 1)) +
            "\">Next</a>";
  }
  return html + "</nav>\n";
}

std::vector<Listed> ListedEntries(FilesWork& work,
                                  const platform::HeldPath& directory,
                                  const std::string& here) {
  std::vector<Listed> entries;
  for (const char* collection : {"SubDirs", "Files"}) {
    bool directories = std::string_view(collection) == "SubDirs";
    for (const Variant& item :
         work.vantry().Get(collection).ToObject()->Enumerate()) {
      auto record = item.ToObject();
      Listed entry;
      entry.facts.name = record->Get("Name").ToText();
      entry.facts.directory = directories;
      entry.attributes = record->Get("Attr").ToInt16();
      if (directory.IsLink(entry.facts.name) &&
          work.data().LeadsOut(directory, entry.facts.name)) {
        entry.leads_out = true;
      } else {
        std::optional<platform::FileInfo> info;
        try {
          info = work.files().Stat(
              FilesWork::Seen(ChildOf(here, entry.facts.name)));
        } catch (const Failure&) {
          // A link to something the rooted file system does not open (a
          // FIFO, a device) is listed without its size and time.
        }
        if (info) {
          entry.facts.size = info->size;
          entry.facts.modified = info->last_write_time;
        }
      }
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

std::string ListingTableHtml(FilesWork& work,
                             const platform::HeldPath& directory,
                             const std::string& here, ListingView view) {
  std::vector<Listed> entries = ListedEntries(work, directory, here);
  if (entries.empty()) return "<p id=\"empty\">This folder is empty.</p>\n";
  std::vector<ListedEntry> facts;
  facts.reserve(entries.size());
  for (const auto& entry : entries) facts.push_back(entry.facts);
  SortEntries(facts, view.key, view.descending);
  std::map<std::pair<bool, std::string>, const Listed*> by_name;
  for (const auto& entry : entries) {
    by_name[{entry.facts.directory, entry.facts.name}] = &entry;
  }
  size_t pages = PageCount(facts.size(), kEntriesPerPage);
  view.page = std::min(view.page, pages);
  size_t first = (view.page - 1) * kEntriesPerPage;
  size_t last = std::min(facts.size(), first + kEntriesPerPage);
  std::string html = "<p id=\"count\">" + std::to_string(facts.size()) +
                     (facts.size() == 1 ? " entry" : " entries");
  if (pages > 1) {
    html += ", " + std::to_string(first + 1) + " to " + std::to_string(last) +
            " shown";
  }
  html += ".</p>\n" + PagesHtml(here, view, pages) +
          "<table id=\"listing\"><tr>" +
          HeadingHtml(here, view, SortKey::kName, "Name") +
          HeadingHtml(here, view, SortKey::kSize, "Size") +
          HeadingHtml(here, view, SortKey::kTime, "Modified") +
          "<th scope=\"col\">Attributes</th><th scope=\"col\">Actions</th>"
          "</tr>\n";
  for (size_t at = first; at < last; ++at) {
    html += RowHtml(*by_name[{facts[at].directory, facts[at].name}], here);
  }
  return html + "</table>\n" + PagesHtml(here, view, pages);
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

std::string TextField(std::string_view label, std::string_view name,
                      std::string_view value, std::string_view extra = {}) {
  return "<label><span>" + std::string(label) +
         "</span><input type=\"text\" name=\"" + std::string(name) +
         "\" id=\"" + std::string(name) + "\" value=\"" + Escape(value) + "\"" +
         std::string(extra) + "></label>";
}

// The forms under the listing; after a failed action its form shows the
// values that were sent.
std::string FormsHtml(const std::string& here, const FormFields& sent) {
  std::string action = sent.Value("action");
  auto kept = [&](std::string_view form, const std::string& name,
                  std::string fallback = {}) {
    return action == form ? sent.Value(name) : fallback;
  };
  return "<form method=\"post\" action=\"" + Escape(FilesHref(here)) +
         "\" enctype=\"multipart/form-data\" id=\"upload\" data-upload>"
         "<label><span>Upload into " +
         (here.empty() ? std::string("the data directory")
                       : Escape(here) + "/") +
         "</span><input type=\"file\" name=\"files\" id=\"upload-files\" "
         "multiple></label><fieldset><legend>When a name exists "
         "already</legend><label><input type=\"radio\" name=\"existing\" "
         "value=\"keep\" checked> keep both (the new file gets a numbered "
         "name)</label><label><input type=\"radio\" name=\"existing\" "
         "value=\"replace\"> replace the existing file</label></fieldset>"
         "<button type=\"submit\">Upload</button></form>\n"
         "<form method=\"post\" action=\"/files\" id=\"mkdir\">" +
         HiddenField("action", "mkdir") + HiddenField("path", here) +
         TextField("New folder", "name", kept("mkdir", "name")) +
         "<button type=\"submit\">Make folder</button></form>\n"
         "<form method=\"post\" action=\"/files\" id=\"copy\">" +
         HiddenField("action", "copy") + HiddenField("path", here) +
         TextField("Copy files matching", "pattern", kept("copy", "pattern"),
                   " placeholder=\"*.txt\"") +
         TextField("from", "from", kept("copy", "from", here)) +
         TextField("to", "to", kept("copy", "to")) +
         "<p>Folders are relative to the data directory; <code>*</code> and "
         "<code>?</code> are wildcards, an empty pattern copies every file. "
         "Subfolders are not copied.</p><button type=\"submit\">Copy</button>"
         "</form>\n";
}

// The page that asks before a delete; only its form's POST deletes.
std::string DeleteQuestionHtml(FilesWork& work, const std::string& here,
                               const std::string& given) {
  std::string item = Relative(given);
  NamedEntry entry = HoldChangeable(work, item, "deleted");
  bool directory = IsDirectoryEntry(work, entry, item);
  std::string question =
      directory
          ? "Delete the folder " + NameHtml(item, true) +
                " and everything in it? Its files and folders go "
                "with it; this cannot be undone."
          : "Delete the file " + NameHtml(item) + "? This cannot be undone.";
  return "<form method=\"post\" action=\"/files\" id=\"confirm\">"
         "<p id=\"question\">" +
         question + "</p>" + HiddenField("action", "delete") +
         HiddenField("path", here) + HiddenField("item", item) +
         "<button type=\"submit\" class=\"delete\">Delete</button> <a href=\"" +
         Escape(FilesHref(here)) + "\" id=\"cancel\">Cancel</a></form>\n";
}

// The form that renames or moves an entry; `to` is what it shows.
std::string RenameFormHtml(const std::string& here, const std::string& item,
                           const std::string& to) {
  return "<form method=\"post\" action=\"/files\" id=\"rename\">"
         "<p>Rename or move " +
         NameHtml(item) + ": give its new path in the data directory.</p>" +
         HiddenField("action", "rename") + HiddenField("path", here) +
         HiddenField("item", item) + TextField("New path", "to", to) +
         "<button type=\"submit\">Rename</button> <a href=\"" +
         Escape(FilesHref(here)) + "\" id=\"cancel\">Cancel</a></form>\n";
}

std::string RenameQuestionHtml(FilesWork& work, const std::string& here,
                               const std::string& given) {
  std::string item = Relative(given);
  HoldChangeable(work, item, "renamed");
  return RenameFormHtml(here, item, item);
}

std::string ListingHtml(FilesWork& work, const std::string& here,
                        const ListingView& view) {
  platform::HeldPath directory = work.data().HoldDirectory(here);
  std::string html = TrailHtml(here);
  int16_t code =
      work.Call("ReadDir", {Variant(FilesWork::Seen(here))}).ToInt16();
  if (code != 1) return html + work.ErrorTripleHtml();
  return html + ListingTableHtml(work, directory, here, view);
}

}  // namespace

PageAnswer FilesPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Files";
  FormFields form;
  std::string here;
  std::string result;
  try {
    if (call.IsPost() && !IsMultipart(call)) {
      form = FormFields::Parse(call.body);
      here = form.Value("path");
    } else {
      here = call.request.get_param_value("path");
    }
    here = Relative(here);
  } catch (const PathRefused& refused) {
    answer.status = refused.status;
    result = RefusalHtml(refused.what());
    here.clear();
  }
  try {
    FilesWork work(call);
    std::string question;
    if (call.IsPost() && answer.status == 200) {
      try {
        result = ActionHtml(call, work, form, here);
        if (result.find("class=\"ok\"") != std::string::npos) {
          form = FormFields();  // done: the forms start empty again
        }
      } catch (const PathRefused& refused) {
        answer.status = refused.status;
        result = RefusalHtml(refused.what());
      }
      if (form.Value("action") == "rename" && !form.Value("item").empty() &&
          answer.status < 500) {
        // A failed rename asks again, with the path that was typed.
        question = RenameFormHtml(here, form.Value("item"), form.Value("to"));
      }
    } else if (!call.IsPost() && answer.status == 200) {
      try {
        if (call.request.has_param("delete")) {
          question = DeleteQuestionHtml(work, here,
                                        call.request.get_param_value("delete"));
        } else if (call.request.has_param("rename")) {
          question = RenameQuestionHtml(work, here,
                                        call.request.get_param_value("rename"));
        }
      } catch (const PathRefused& refused) {
        answer.status = refused.status;
        result = RefusalHtml(refused.what());
      }
    }
    if (!question.empty()) {
      answer.body_html = result + question;
      return answer;
    }
    ListingView view = ListingView::Of(call.request);
    std::string listing;
    try {
      listing = ListingHtml(work, here, view);
    } catch (const PathRefused& refused) {
      answer.status = refused.status;
      result += RefusalHtml(refused.what());
      here.clear();
      listing = ListingHtml(work, here, view);
    }
    answer.body_html = result + listing + FormsHtml(here, form);
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
  try {
    FilesWork work(call);
    platform::HeldPath file = work.data().Hold(relative);
    std::string path = DataDirectory::Joined(DataDirectory::Levels(relative));
    if (file.IsDirectory()) {
      throw PathRefused(400, "\"" + path + "\" is a directory, not a file.");
    }
    // Sent in pieces through the rooted file system, not read whole
    // through Vantry: a download of any size keeps the memory flat.
    auto info = work.files().Stat(FilesWork::Seen(path));
    if (!info) throw PathRefused(404, "\"" + path + "\" is gone.");
    FileBody body{work.files().OpenReader(FilesWork::Seen(path)), info->size,
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
    answer.body_html =
        ResultHtml(false, NameHtml(relative) + " could not be read.",
                   "<p>Error " + std::to_string(failure.number) + " from " +
                       Escape(failure.source) + ": " +
                       Escape(failure.description) + "</p>");
  }
  return answer;
}

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
#include "python/WsgiHost.h"

#include <algorithm>

#include "frame/Registry.h"
#include "frame/Text.h"
#include "platform/Process.h"
#include "python/Objects.h"
#include "python/Values.h"

namespace corvane::python {
namespace {

struct CaseBlindLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return LowerCase(a) < LowerCase(b);
  }
};

using Variables = std::map<std::string, std::string, CaseBlindLess>;

class WsgiResponse : public Response {
 public:
  void Write(const Variant& text) override { output += text.ToText(); }
  std::string output;
  std::string status = "200 OK";
};

class WsgiRequest : public Request {
 public:
  WsgiRequest(Variables variables, py::object input, int64_t max_body_bytes,
              WsgiResponse& response)
      : variables_(std::move(variables)),
        input_(std::move(input)),
        max_body_bytes_(max_body_bytes),
        response_(response) {}

  // The page may end on a thread that does not hold the interpreter's lock
  // (a component released inside a call).
  ~WsgiRequest() override {
    try {
      py::gil_scoped_acquire acquire;
      input_ = py::object();
    } catch (...) {
      // Only when the interpreter is gone, and the stream with it.
    }
  }

  int32_t TotalBytes() override {
    return static_cast<int32_t>(std::min<int64_t>(ClaimedLength(), INT32_MAX));
  }

  // Each call delivers the next bytes of the body, up to `count`, read from
  // wsgi.input in pieces of at most kPieceBytes and never beyond
  // CONTENT_LENGTH; the buffer grows with what arrives, not with the claim.
  Variant BinaryRead(Variant& count) override {
    RefuseAboveLimit();
    int64_t left = ClaimedLength() - bytes_read_;
    auto wanted = static_cast<size_t>(
        std::clamp<int64_t>(count.ToInt32(), 0, std::max<int64_t>(left, 0)));
    std::string bytes;
    while (bytes.size() < wanted) {
      if (!ReadPiece(std::min(kPieceBytes, wanted - bytes.size()), bytes)) {
        break;
      }
    }
    bytes_read_ += static_cast<int64_t>(bytes.size());
    count = static_cast<int32_t>(bytes.size());
    return Bytes{std::move(bytes)};
  }

  std::string ServerVariables(std::string_view name) override {
    auto found = variables_.find(std::string(name));
    return found == variables_.end() ? std::string() : found->second;
  }

  std::string QueryString() override { return ServerVariables("QUERY_STRING"); }

  int64_t BytesRead() const { return bytes_read_; }

 private:
  // Appends one read of at most `size` bytes; false at the end of the
  // input (a client that sent less than it claimed).
  bool ReadPiece(size_t size, std::string& bytes) {
    py::gil_scoped_acquire acquire;
    if (!input_ || input_.is_none()) return false;
    try {
      py::object piece = input_.attr("read")(size);
      if (!PyBytes_Check(piece.ptr())) {
        throw Failure(
            kTypeMismatch, "",
            "wsgi.input.read gave a " +
                std::string(py::str(piece.get_type().attr("__name__"))) +
                ", not bytes");
      }
      auto length = static_cast<size_t>(PyBytes_GET_SIZE(piece.ptr()));
      if (length == 0) return false;
      bytes.append(PyBytes_AS_STRING(piece.ptr()), std::min(length, size));
      return true;
    } catch (py::error_already_set& error) {
      throw Failure(
          kDeviceIoError, "",
          std::string("Reading the request body failed: ") + error.what());
    }
  }

  int64_t ClaimedLength() {
    auto length =
        platform::ParseContentLength(ServerVariables("CONTENT_LENGTH"));
    if (length) return *length;
    response_.status = "400 Bad Request";
    throw MalformedContentLength(ServerVariables("CONTENT_LENGTH"));
  }

  void RefuseAboveLimit() {
    int64_t claimed = ClaimedLength();
    if (claimed <= max_body_bytes_) return;
    response_.status = "413 Payload Too Large";
    throw BodyAboveLimit(claimed, max_body_bytes_);
  }

  Variables variables_;
  py::object input_;
  int64_t max_body_bytes_;
  WsgiResponse& response_;
  int64_t bytes_read_ = 0;
};

// A native str of the environ as the bytes it stands for: WSGI decodes
// headers as Latin-1; a dict made by hand may hold any text (UTF-8 then).
std::string EnvironText(py::handle text) {
  PyObject* latin1 = PyUnicode_AsLatin1String(text.ptr());
  if (latin1 == nullptr) {
    PyErr_Clear();
    return TextFromPython(text);
  }
  auto bytes = py::reinterpret_steal<py::bytes>(latin1);
  return std::string(bytes);
}

Variables ServerVariablesOf(const py::object& environ) {
  Variables variables;
  for (py::handle item : environ.attr("items")()) {
    py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
    if (!PyUnicode_Check(pair[0].ptr()) || !PyUnicode_Check(pair[1].ptr())) {
      continue;  // wsgi.input, wsgi.errors and their kin are no text
    }
    variables[EnvironText(pair[0])] = EnvironText(pair[1]);
  }
  return variables;
}

WsgiRequest& RequestOf(const std::shared_ptr<corvane::Request>& request) {
  return static_cast<WsgiRequest&>(*request);
}

WsgiResponse& ResponseOf(const std::shared_ptr<corvane::Response>& response) {
  return static_cast<WsgiResponse&>(*response);
}

}  // namespace

WsgiContext::WsgiContext(const py::object& environ, int64_t max_body_bytes) {
  auto response = std::make_shared<WsgiResponse>();
  py::object input = environ.attr("get")("wsgi.input");
  request_ = std::make_shared<WsgiRequest>(
      ServerVariablesOf(environ), std::move(input), max_body_bytes, *response);
  response_ = std::move(response);
}

WsgiContext::~WsgiContext() = default;

const std::string& WsgiContext::Output() const {
  return ResponseOf(response_).output;
}

const std::string& WsgiContext::Status() const {
  return ResponseOf(response_).status;
}

int64_t WsgiContext::BytesRead() const {
  return RequestOf(request_).BytesRead();
}

std::string WsgiContext::ServerVariable(const std::string& name) const {
  return RequestOf(request_).ServerVariables(name);
}

void WsgiContext::Bind(const std::shared_ptr<Dispatch>& object) {
  // Objects released during the page are forgotten now and then, so that a
  // long page that makes many holds no more than those alive.
  if (bound_.size() >= prune_at_) {
    std::erase_if(bound_, [](const auto& weak) { return weak.expired(); });
    prune_at_ = std::max<size_t>(16, 2 * bound_.size());
  }
  bound_.push_back(object);
  if (object->Class().Find("OnStartPage") < 0) return;
  Arguments args{Variant(shared_from_this())};
  object->Call("OnStartPage", args);
}

void WsgiContext::End() {
  std::vector<std::weak_ptr<Dispatch>> bound = std::move(bound_);
  bound_.clear();
  for (const auto& weak : bound) {
    auto object = weak.lock();
    if (!object || object->Class().Find("OnEndPage") < 0) continue;
    try {
      object->Call("OnEndPage");
    } catch (...) {
      // The page is over whatever the object says; it drops the page when
      // it is released.
    }
  }
}

std::shared_ptr<Dispatch> Created(const std::string& progid,
                                  const std::shared_ptr<WsgiContext>& page) {
  std::shared_ptr<Dispatch> object;
  {
    // Loading a component library may read the disk.
    py::gil_scoped_release released;
    object = CreateObject(progid);
  }
  if (page) page->Bind(object);
  return object;
}

void DefineWsgiPage(py::module_& module) {
  py::class_<WsgiContext, Dispatch, std::shared_ptr<WsgiContext>>(
      module, "WsgiPage",
      "The page of one WSGI request: components created with create() "
      "read the request from `environ` (its body from wsgi.input, in "
      "pieces, only when they ask) and write to `output`. end(), or leaving "
      "a `with` block, ends the page for the components bound to it.")
      .def(py::init([](const py::object& environ, int64_t max_body_bytes) {
             return std::make_shared<WsgiContext>(environ, max_body_bytes);
           }),
           py::arg("environ"), py::arg("max_body_bytes") = kDefaultMaxBodyBytes)
      .def(
          "create",
          [](const std::shared_ptr<WsgiContext>& page,
             const std::string& progid) { return Wrap(Created(progid, page)); },
          py::arg("progid"),
          "A new component bound to this page (see corvane.create).")
      .def_property_readonly(
          "output",
          [](const WsgiContext& page) { return TextToPython(page.Output()); },
          "What the components wrote to the page (HTML), as str.")
      .def_property_readonly(
          "status", [](const WsgiContext& page) { return page.Status(); },
          "The status line to answer with: \"200 OK\" unless the body was "
          "refused (\"413 Payload Too Large\", \"400 Bad Request\").")
      .def_property_readonly(
          "status_code",
          [](const WsgiContext& page) { return std::stoi(page.Status()); },
          "The status as a number.")
      .def_property_readonly("bytes_read", &WsgiContext::BytesRead,
                             "The body bytes read from wsgi.input so far.")
      .def_property_readonly(
          "query_string",
          [](const WsgiContext& page) {
            return TextToPython(page.ServerVariable("QUERY_STRING"));
          },
          "The query string of the page address.")
      .def(
          "server_variable",
          [](const WsgiContext& page, const std::string& name) {
            return TextToPython(page.ServerVariable(name));
          },
          py::arg("name"),
          "A server variable (CONTENT_TYPE, HTTP_USER_AGENT, ...); \"\" when "
          "unset. Names are matched without regard to case.")
      .def_property_readonly(
          "cookies",
          [](const WsgiContext& page) {
            py::object jar =
                py::module_::import("http.cookies").attr("SimpleCookie")();
            jar.attr("load")(TextToPython(page.ServerVariable("HTTP_COOKIE")));
            py::dict cookies;
            for (py::handle name : jar) cookies[name] = jar[name].attr("value");
            return cookies;
          },
          "The request's cookies, name to value.")
      .def("end", &WsgiContext::End,
           "Ends the page: OnEndPage on every component bound to it.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](WsgiContext& page, const py::args&) {
        page.End();
        return false;
      });
}

}  // namespace corvane::python

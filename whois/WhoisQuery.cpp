#include "whois/WhoisQuery.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "net/WSKSOCK.h"
#include "net/modNetwork.h"
#include "whois/EmailAddresses.h"

namespace corvane::namewell {
namespace {

constexpr int32_t kMessageTooLong = 10040;

[[noreturn]] void Raise(int32_t number, std::string description) {
  throw Failure(number, kSource, std::move(description));
}

// The failure of a step that failed on a socket: its message followed
// directly by the text of the last socket error.
[[noreturn]] void RaiseSocketFailure(int32_t number, const char* message) {
  Raise(number, message + net::GetSocketErrorText(net::LastSocketError()));
}

// The query line: the text without leading and trailing spaces, then CR LF.
std::string QueryLine(std::string_view query) {
  size_t first = query.find_first_not_of(' ');
  if (first == std::string_view::npos) return "\r\n";
  size_t last = query.find_last_not_of(' ');
  return std::string(query.substr(first, last - first + 1)) + "\r\n";
}

}  // namespace

ClassInfo WhoisQuery::Members() {
  using T = WhoisQuery;
  return ClassBuilder<T>("WhoisQuery")
      .Let("WhoisServer", [](T& o, std::string_view v) { o.WhoisServer(v); })
      .Get("gethostname", [](T& o) { return o.gethostname(); })
      .Get("GetCoordinator", [](T& o) { return o.GetCoordinator(); })
      .Get("GetRegistrant", [](T& o) { return o.GetRegistrant(); })
      .Get("GetDomainName", [](T& o) { return o.GetDomainName(); })
      .Get("GetAdministrativeEmail",
           [](T& o) { return o.GetAdministrativeEmail(); })
      .Get("GetTechnicalEmail", [](T& o) { return o.GetTechnicalEmail(); })
      .Get("GetZoneEmail", [](T& o) { return o.GetZoneEmail(); })
      .Get("GetbillingEmail", [](T& o) { return o.GetbillingEmail(); })
      .Get("GetRecordLastUpdateTime",
           [](T& o) { return o.GetRecordLastUpdateTime(); })
      .Get("GetRecordCreateTime", [](T& o) { return o.GetRecordCreateTime(); })
      .Get("GetDatabaseLastUpdateTime",
           [](T& o) { return o.GetDatabaseLastUpdateTime(); })
      .Get("GetDomainServers", [](T& o) { return o.GetDomainServers(); })
      .Get("IsRecordFound", [](T& o) { return o.IsRecordFound(); })
      .Get("GetAdministrativeContact",
           [](T& o) { return o.GetAdministrativeContact(); })
      .Get("GetTechnicalContact", [](T& o) { return o.GetTechnicalContact(); })
      .Get("GetZoneContact", [](T& o) { return o.GetZoneContact(); })
      .Get("GetBillingContact", [](T& o) { return o.GetBillingContact(); })
      .Get("GetResponse", [](T& o) { return o.GetResponse(); })
      .Get("GetLastErrNum", [](T& o) { return o.GetLastErrNum(); })
      .Get("GetLastErrSource", [](T& o) { return o.GetLastErrSource(); })
      .Get("GetLastErrDescription",
           [](T& o) { return o.GetLastErrDescription(); })
      .Method("OnStartPage",
              [](T& o, const Variant& theScriptingContext) {
                o.OnStartPage(theScriptingContext);
              })
      .Method("OnEndPage", [](T& o) { o.OnEndPage(); })
      .Method(
          "SendQuery",
          [](T& o, std::string_view strQuery) { return o.SendQuery(strQuery); })
      .Method("ExtractEmail",
              [](T& o, std::string_view sContact) {
                return o.ExtractEmail(sContact);
              })
      .Method(
          "ValidateEmail",
          [](T& o, std::string_view sEmail) { return o.ValidateEmail(sEmail); })
      .Property(
          "Timeout", [](T& o) { return o.Timeout(); },
          [](T& o, int32_t seconds) { o.Timeout(seconds); })
      .Build();
}

WhoisQuery::~WhoisQuery() {
  CloseConnection();
  context_.reset();
}

std::string WhoisQuery::FirstEmail(const std::string& contact) const {
  std::vector<std::string> addresses = namewell::ExtractEmail(contact);
  return addresses.empty() ? std::string() : addresses.front();
}

std::string WhoisQuery::GetAdministrativeEmail() const {
  return FirstEmail(record_.administrative_contact);
}

std::string WhoisQuery::GetTechnicalEmail() const {
  return FirstEmail(record_.technical_contact);
}

std::string WhoisQuery::GetZoneEmail() const {
  return FirstEmail(record_.zone_contact);
}

std::string WhoisQuery::GetbillingEmail() const {
  return FirstEmail(record_.billing_contact);
}

void WhoisQuery::OnStartPage(const Variant& theScriptingContext) {
  try {
    context_ = ContextFrom(theScriptingContext);
  } catch (...) {
  }
}

void WhoisQuery::OnEndPage() {
  try {
    CloseConnection();
    context_.reset();
  } catch (...) {
  }
}

bool WhoisQuery::SendQuery(std::string_view strQuery) {
  try {
    winsock_started_ = false;
    PrepareQuery();
    Exchange(strQuery);
    ParseResponse();
    return true;
  } catch (...) {
    Failure failure = CurrentFailure(kSource);
    SaveLastError(failure);
    WriteToPage(failure.description);
    CloseConnection();
    return false;
  }
}

std::shared_ptr<Collection> WhoisQuery::ExtractEmail(
    std::string_view sContact) const {
  auto found = Collection::New();
  for (auto& address : namewell::ExtractEmail(sContact)) {
    found->Add(Variant(std::move(address)));
  }
  return found;
}

bool WhoisQuery::ValidateEmail(std::string_view sEmail) const {
  try {
    return namewell::ValidateEmail(sEmail);
  } catch (...) {
    return false;
  }
}

int32_t WhoisQuery::Timeout() const {
  return timeout_seconds_ > 0 ? timeout_seconds_
                              : net::kDefaultReplyTimeoutMs / 1000;
}

int WhoisQuery::ConnectTimeoutMs() const {
  if (timeout_seconds_ <= 0) return net::kDefaultConnectTimeoutMs;
  return std::min(timeout_seconds_, INT32_MAX / 1000) * 1000;
}

int WhoisQuery::ReplyTimeoutMs() const {
  if (timeout_seconds_ <= 0) return net::kDefaultReplyTimeoutMs;
  return ConnectTimeoutMs();
}

void WhoisQuery::PrepareQuery() {
  if (whois_server_.empty()) whois_server_ = kDefaultWhoisServer;
  record_ = WhoisRecord{};
}

// Steps 4 to 11 of a query: start the socket library, connect, send the
// line, read the whole reply, close.
void WhoisQuery::Exchange(std::string_view query) {
  std::string description;
  winsock_started_ = net::StartWinsock(description);
  if (!winsock_started_) Raise(kStartupFailed, "Unable to start up Winsock.");

  socket_ = net::CreateSocket();
  if (socket_ == -1) {
    RaiseSocketFailure(kSocketFailed, "Unable to create a Socket. ");
  }
  if (!net::ConnectSocket(socket_, whois_server_, net::kWhoisPort,
                          ConnectTimeoutMs())) {
    RaiseSocketFailure(kConnectFailed,
                       "Unable to establish connection with Whois Server. ");
  }

  std::string line = QueryLine(query);
  if (net::SendData(socket_, line) != static_cast<int32_t>(line.size())) {
    Raise(kWriteFailed, "Network Error: Unable to write.");
  }

  response_ = net::ReceiveAll(
      socket_, {.max_bytes = kReplyLimit, .timeout_ms = ReplyTimeoutMs()});
  if (int32_t error = net::LastSocketError(); error != 0) {
    if (error == kMessageTooLong) {
      Raise(kReadFailed,
            "Network Error: Unable to read. The reply is longer than " +
                std::to_string(kReplyLimit) + " bytes.");
    }
    RaiseSocketFailure(kReadFailed, "Network Error: Unable to read. ");
  }
  CloseConnection();
}

// Closes the socket of the query and ends this object's start of the
// socket library; the handle is forgotten so that it is never closed twice.
void WhoisQuery::CloseConnection() {
  net::CloseSocket(socket_);
  socket_ = 0;
  if (winsock_started_) {
    winsock_started_ = false;
    net::EndWinsock();
  }
}

}  // namespace corvane::namewell

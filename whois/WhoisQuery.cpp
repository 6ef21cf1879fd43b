#include "whois/WhoisQuery.h"

#include <cstdint>
#include <string>

#include "frame/Text.h"
#include "net/WSKSOCK.h"
#include "platform/Sockets.h"
#include "whois/EmailAddresses.h"

namespace corvane::namewell {
namespace {

[[noreturn]] void Raise(int32_t number, std::string description) {
  throw Failure(number, std::string(kSource), std::move(description));
}

// The failure of a step that failed on a socket: its message followed
// directly by the text of the last socket error.
[[noreturn]] void RaiseSocketFailure(int32_t number, const char* message) {
  Raise(number, message + net::GetSocketErrorText(net::LastSocketError()));
}

// The query line: the text without leading and trailing spaces, then CR LF.
std::string QueryLine(std::string_view query) {
  return std::string(TrimSpaces(query)) + "\r\n";
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
      .ErrorMembers()
      .PageMembers()
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

WhoisQuery::~WhoisQuery() { CloseConnection(); }

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

void WhoisQuery::OnEndPage() {
  CloseConnection();
  Component::OnEndPage();
}

bool WhoisQuery::SendQuery(std::string_view strQuery) {
  return Guarded(
      [&] {
        PrepareQuery();
        Exchange(strQuery);
        ParseResponse();
        return true;
      },
      [&](const Failure& failure) {
        WriteToPage(failure.description);
        CloseConnection();
        return false;
      });
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

void WhoisQuery::PrepareQuery() {
  if (whois_server_.empty()) whois_server_ = kDefaultWhoisServer;
  record_ = WhoisRecord{};
}

// Steps 4 to 11 of a query: start the socket library, connect, send the
// line, read the whole reply, close.
void WhoisQuery::Exchange(std::string_view query) {
  if (!connection_.Start()) {
    Raise(kStartupFailed, "Unable to start up Winsock.");
  }
  if (!connection_.Open()) {
    RaiseSocketFailure(kSocketFailed, "Unable to create a Socket. ");
  }
  const int32_t socket = connection_.socket();
  if (!net::ConnectSocket(socket, whois_server_, net::kWhoisPort,
                          timeout_.ConnectMs())) {
    RaiseSocketFailure(kConnectFailed,
                       "Unable to establish connection with Whois Server. ");
  }

  std::string line = QueryLine(query);
  if (net::SendData(socket, line, timeout_.ReplyMs()) !=
      static_cast<int32_t>(line.size())) {
    Raise(kWriteFailed, "Network Error: Unable to write.");
  }

  response_ = net::ReceiveAll(
      socket, {.max_bytes = kReplyLimit, .timeout_ms = timeout_.ReplyMs()});
  if (int32_t error = net::LastSocketError(); error != 0) {
    if (error == platform::kSocketMessageTooLong) {
      Raise(kReadFailed,
            "Network Error: Unable to read. The reply is longer than " +
                std::to_string(kReplyLimit) + " bytes.");
    }
    RaiseSocketFailure(kReadFailed, "Network Error: Unable to read. ");
  }
  CloseConnection();
}

void WhoisQuery::CloseConnection() { connection_.Close(); }

}  // namespace corvane::namewell

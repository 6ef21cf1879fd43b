#include "whois/WhoisQuery.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "frame/Text.h"
#include "net/WSKSOCK.h"
#include "platform/Sockets.h"
#include "whois/EmailAddresses.h"
#include "whois/QueryName.h"
#include "whois/ServerTable.h"

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
      .Get("GetRegistrar", [](T& o) { return o.GetRegistrar(); })
      .Get("GetExpiryTime", [](T& o) { return o.GetExpiryTime(); })
      .Get("GetDomainStatus", [](T& o) { return o.GetDomainStatus(); })
      .Property(
          "FollowReferral", [](T& o) { return o.FollowReferral(); },
          [](T& o, bool value) { o.FollowReferral(value); })
      .Get("GetReferralChain", [](T& o) { return o.GetReferralChain(); })
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
        QueryText query = PrepareQueryText(strQuery);
        if (!query.problem.empty()) Raise(kQueryRefused, query.problem);
        AskServers(query.text);
        return true;
      },
      [&](const Failure& failure) {
        WriteToPage(failure.description);
        CloseConnection();
        return false;
      });
}

std::string WhoisQuery::GetReferralChain() const {
  std::string chain;
  for (const std::string& server : asked_) {
    if (!chain.empty()) chain += '\n';
    chain += server;
  }
  return chain;
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
  record_ = WhoisRecord{};
  answers_.clear();
  asked_.clear();
}

// The first server is the one set, else the table's for the query's
// top-level domain, else IANA's, whose referral is followed even without
// FollowReferral. A failure of the first exchange fails the query.
void WhoisQuery::AskServers(const std::string& query) {
  std::string server = whois_server_;
  int referrals = follow_referral_ ? kMaxReferrals : 0;
  if (server.empty()) server = ServerForName(query);
  if (server.empty()) {
    server = kDefaultWhoisServer;
    referrals = std::max(referrals, 1);
  }
  asked_.push_back(server);
  Exchange(server, query, response_);
  answers_.push_back({server, response_, ReadReply(response_)});
  while (referrals-- > 0 && FollowOnce(query)) {
  }
  ParseResponse();
}

// Asks the server that the last answer names. False when it names none or
// one already asked, or when the exchange fails: that failure is recorded
// and the answers so far stay.
bool WhoisQuery::FollowOnce(const std::string& query) {
  std::string server = answers_.back().parsed.referral.server;
  if (server.empty() || AlreadyAsked(server)) return false;
  asked_.push_back(server);
  std::string reply;
  try {
    Exchange(server, query, reply);
  } catch (const Failure& failure) {
    SaveLastError(failure);
    CloseConnection();
    return false;
  }
  ParsedReply parsed = ReadReply(reply);
  answers_.push_back({server, std::move(reply), std::move(parsed)});
  return true;
}

bool WhoisQuery::AlreadyAsked(const std::string& server) const {
  net::ServerAddress wanted = net::SplitServer(server, net::kWhoisPort);
  return std::any_of(asked_.begin(), asked_.end(), [&](const auto& asked) {
    net::ServerAddress known = net::SplitServer(asked, net::kWhoisPort);
    return known.port == wanted.port &&
           EqualsIgnoringCase(known.host, wanted.host);
  });
}

// Each field comes from the most specific answer that has it (the
// registrar's over the registry's); an answer that only points onwards
// counts only when nothing followed it. With several answers the response
// holds each reply after a line naming its server.
void WhoisQuery::ParseResponse() {
  record_ = WhoisRecord{};
  bool found = false;
  for (size_t i = answers_.size(); i-- > 0;) {
    const ParsedReply& parsed = answers_[i].parsed;
    if (parsed.referral.pointer_only && i + 1 != answers_.size()) continue;
    FillEmptyFields(record_, parsed.record);
    found = found || parsed.record.record_found;
  }
  record_.record_found = found;
  if (answers_.size() < 2) return;
  response_.clear();
  for (const Answer& answer : answers_) {
    response_ += "% Answer from " + answer.server + "\n" + answer.reply;
    if (!answer.reply.empty() && answer.reply.back() != '\n') {
      response_ += '\n';
    }
  }
}

// One exchange: start the socket library, connect, send the line, read the
// whole reply into `reply`, close.
void WhoisQuery::Exchange(const std::string& server, const std::string& query,
                          std::string& reply) {
  if (!connection_.Start()) {
    Raise(kStartupFailed, "Unable to start up Winsock.");
  }
  if (!connection_.Open()) {
    RaiseSocketFailure(kSocketFailed, "Unable to create a Socket. ");
  }
  const int32_t socket = connection_.socket();
  if (!net::ConnectSocket(socket, server, net::kWhoisPort,
                          timeout_.ConnectMs())) {
    RaiseSocketFailure(kConnectFailed,
                       "Unable to establish connection with Whois Server. ");
  }

  std::string line = query + "\r\n";
  if (net::SendData(socket, line, timeout_.ReplyMs()) !=
      static_cast<int32_t>(line.size())) {
    Raise(kWriteFailed, "Network Error: Unable to write.");
  }

  reply = net::ReceiveAll(
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

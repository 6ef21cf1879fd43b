// SPDX-License-Identifier: Apache-2.0
#include "whois/WhoisQuery.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "frame/Text.h"
#include "net/WSKSOCK.h"
#include "platform/AddressScope.h"
#include "platform/FileSystem.h"
#include "platform/Sockets.h"
#include "whois/EmailAddresses.h"
#include "whois/QueryName.h"
#include "whois/RdapBootstrap.h"
#include "whois/RdapFetch.h"
#include "whois/RdapReply.h"
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

std::string WithFullStop(std::string text) {
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

// Renews the registry's cached bootstrap before a lookup when it is stale.
void RenewBeforeLookup(Registry registry, const std::string& base_url,
                       int timeout_ms) {
  try {
    (void)RefreshBootstrap(registry, base_url, false, timeout_ms);
  } catch (const Failure&) {
    // The copy stays as it was and the lookup reads it, or the shipped or
    // override table; a failed fetch is not tried again for a while.
  }
}

// The wait a limited server asked for, as a sentence; empty when none.
std::string WaitText(int32_t seconds) {
  return seconds > 0 ? " Wait " + std::to_string(seconds) + " seconds." : "";
}

// An RDAP error answer: its status, the error object's title and
// description when it has them, and the URL. A 429 is the rate limit's
// failure, with the wait the answer asked for.
[[noreturn]] void RaiseRdapError(const FetchedAnswer& fetched,
                                 const RdapReply& read) {
  bool limited = fetched.status == 429;
  std::string text = (limited ? "Rate limited: the RDAP server answered "
                              : "The RDAP server answered ") +
                     std::to_string(fetched.status);
  if (!read.error_title.empty()) text += ": " + read.error_title;
  if (!read.error_description.empty()) {
    text = WithFullStop(std::move(text)) + " " + read.error_description;
  }
  text = WithFullStop(std::move(text));
  if (limited) text += WaitText(fetched.retry_after);
  Raise(limited ? kThrottled : kReadFailed, text + " URL: " + fetched.url);
}

// A whois server's rate-limit notice as the query's failure.
[[noreturn]] void RaiseThrottled(const Throttle& throttle) {
  Raise(kThrottled,
        "Rate limited by the whois server: " + WithFullStop(throttle.notice) +
            WaitText(throttle.wait_seconds));
}

Registry RegistryOf(QueryKind kind) {
  switch (kind) {
    case QueryKind::kIpv4:
      return Registry::kIpv4;
    case QueryKind::kIpv6:
      return Registry::kIpv6;
    case QueryKind::kAsn:
      return Registry::kAsn;
    case QueryKind::kName:
      break;
  }
  return Registry::kDns;
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
      .Property(
          "Protocol", [](T& o) { return o.Protocol(); },
          [](T& o, std::string_view v) { o.Protocol(v); })
      .Property(
          "RdapServer", [](T& o) { return o.RdapServer(); },
          [](T& o, std::string_view v) { o.RdapServer(v); })
      .Get("GetRetryAfter", [](T& o) { return o.GetRetryAfter(); })
      .Get("GetRedactedFields", [](T& o) { return o.GetRedactedFields(); })
      .Property(
          "BootstrapUrl", [](T& o) { return o.BootstrapUrl(); },
          [](T& o, std::string_view v) { o.BootstrapUrl(v); })
      .Property(
          "RefreshBootstrap", [](T& o) { return o.RefreshBootstrap(); },
          [](T& o, bool value) { o.RefreshBootstrap(value); })
      .Method("UpdateBootstrap", [](T& o) { return o.UpdateBootstrap(); })
      .Get("GetBootstrapStatus", [](T& o) { return o.GetBootstrapStatus(); })
      .Get("GetNetworkRange", [](T& o) { return o.GetNetworkRange(); })
      .Get("GetNetworkName", [](T& o) { return o.GetNetworkName(); })
      .Get("GetCountry", [](T& o) { return o.GetCountry(); })
      .Get("GetAbuseEmail", [](T& o) { return o.GetAbuseEmail(); })
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
        std::string query;
        try {
          query = PrepareQueryText(strQuery);
        } catch (const Failure& refused) {
          Raise(kQueryRefused, refused.description);
        }
        network_ = ClassifyQuery(query);
        std::string base = RdapBase(query);
        base.empty() ? AskServers(query) : AskRdap(base, query);
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

// Without WhoisServer, a plain query asks the default server and keeps it
// for later queries; a lookup across servers chooses one per query.
void WhoisQuery::PrepareQuery() {
  if (whois_server_.empty() && !AsksAcrossServers()) {
    whois_server_ = kDefaultWhoisServer;
  }
  record_ = WhoisRecord{};
  answers_.clear();
  asked_.clear();
  rdap_ = false;
  first_internal_ = true;
  retry_after_ = 0;
  network_ = {};
}

// Whether the caller asked for a lookup that may go from server to server.
bool WhoisQuery::AsksAcrossServers() const {
  return follow_referral_ || EqualsIgnoringCase(TrimSpaces(protocol_), "auto");
}

// The RDAP base URL the query goes to; empty when it goes to whois.
std::string WhoisQuery::RdapBase(const std::string& query) const {
  std::string_view protocol = TrimSpaces(protocol_);
  if (protocol.empty() || EqualsIgnoringCase(protocol, "whois")) return {};
  bool automatic = EqualsIgnoringCase(protocol, "auto");
  if (!automatic && !EqualsIgnoringCase(protocol, "rdap")) {
    Raise(kQueryRefused,
          "Protocol must be \"whois\", \"rdap\" or \"auto\"; nothing was "
          "sent.");
  }
  if (query.empty()) {
    if (automatic) return {};
    Raise(kQueryRefused,
          "The query is empty: an RDAP server is asked for a domain name; "
          "nothing was sent.");
  }
  if (std::string base(TrimSpaces(rdap_server_)); !base.empty()) {
    if (base.back() != '/') base += '/';
    return base;
  }
  if (network_.kind != QueryKind::kName) {
    std::string base = NetworkRdapBase();
    if (!base.empty() || automatic) return base;
    Raise(kQueryRefused, "No RDAP server is known for " + query +
                             " (RDAP bootstrap file " +
                             CachedBootstrapPath(RegistryOf(network_.kind)) +
                             "); nothing was sent.");
  }
  if (refresh_bootstrap_) {
    RenewBeforeLookup(Registry::kDns, bootstrap_url_, timeout_.ConnectMs());
  }
  std::string base;
  try {
    base = RdapBaseFor(LoadRegistry(Registry::kDns), query);
  } catch (const Failure& failure) {
    // Without a domain table "auto" asks whois instead; "rdap" is refused
    // with the reason.
    if (automatic) return {};
    Raise(kQueryRefused, failure.description);
  }
  if (!base.empty() || automatic) return base;
  std::string cached = CachedBootstrapPath(Registry::kDns);
  Raise(kQueryRefused,
        "No RDAP server is known for the top-level domain \"" +
            TopLevelLabel(query) + "\" (RDAP bootstrap file " +
            (platform::PathEntryExists(cached) ? cached : BootstrapPath()) +
            "); nothing was sent.");
}

// The RDAP base URL for an address or AS number by its bootstrap (renewed
// first with RefreshBootstrap); empty when none is known.
std::string WhoisQuery::NetworkRdapBase() const {
  Registry registry = RegistryOf(network_.kind);
  if (refresh_bootstrap_) {
    RenewBeforeLookup(registry, bootstrap_url_, timeout_.ConnectMs());
  }
  RdapBootstrap table;
  try {
    table = LoadRegistry(registry);
  } catch (const Failure&) {
    // No copy of the registry's file yet: the override's entries alone
    // serve, and a network they do not list is refused by the caller with
    // the copy's path.
    table = OverrideTable();
  }
  return network_.kind == QueryKind::kAsn
             ? RdapBaseForAsn(table, network_.number)
             : RdapBaseForAddress(table, network_.text);
}

void WhoisQuery::BootstrapUrl(std::string_view value) {
  bootstrap_url_ = TrimSpaces(value);
  if (bootstrap_url_.empty()) bootstrap_url_ = DefaultBootstrapUrl();
}

bool WhoisQuery::UpdateBootstrap() {
  return Guarded(
      [&] {
        bootstrap_status_.clear();
        std::string problems;
        for (Registry registry : {Registry::kDns, Registry::kIpv4,
                                  Registry::kIpv6, Registry::kAsn}) {
          std::string line = std::string(RegistryFile(registry)) + ": ";
          try {
            RefreshResult result = namewell::RefreshBootstrap(
                registry, bootstrap_url_, true, timeout_.ReplyMs());
            switch (result.outcome) {
              case RefreshResult::Outcome::kFetched:
                line += "fetched (" +
                        std::to_string(result.bootstrap.servers.size()) +
                        " entries, published " + result.bootstrap.publication +
                        ") into " + result.path;
                break;
              case RefreshResult::Outcome::kNotModified:
              case RefreshResult::Outcome::kFresh:
                line += "unchanged, " + result.path;
                break;
            }
          } catch (const Failure& failure) {
            // The other registries are still fetched; the failures are
            // raised together below.
            line += "not updated: " + failure.description;
            if (!problems.empty()) problems += ' ';
            problems += WithFullStop(failure.description);
          }
          if (!bootstrap_status_.empty()) bootstrap_status_ += '\n';
          bootstrap_status_ += line;
        }
        if (!problems.empty()) {
          Raise(kReadFailed, "The RDAP bootstrap was not updated: " + problems);
        }
        return true;
      },
      [&](const Failure&) { return false; });
}

// Asks the RDAP server at `base` for the domain, then, with FollowReferral,
// the registrar's server that its answer links to, as whois referrals are
// followed.
void WhoisQuery::AskRdap(const std::string& base, const std::string& query) {
  rdap_ = true;
  // A fully qualified name's final dot is no part of the domain's name.
  std::string_view name = query;
  while (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  std::string url;
  switch (network_.kind) {
    case QueryKind::kName:
      url = base + "domain/" + PathSegment(name);
      break;
    case QueryKind::kIpv4:
    case QueryKind::kIpv6:
      // An address and prefix length are the path's last two segments.
      url = base + "ip/" + network_.text;
      break;
    case QueryKind::kAsn:
      url = base + "autnum/" + network_.text;
      break;
  }
  asked_.push_back(url);
  answers_.push_back(AskRdapServer(url, response_, false));
  int referrals = follow_referral_ ? kMaxReferrals : 0;
  while (referrals-- > 0 && FollowOnce(query)) {
  }
  ParseResponse();
}

// One RDAP server's answer, its body also in `reply`: a 404 is a record
// not found, an error answer or one that is no JSON object a failure. A
// referral to a loopback or private address is refused unless the first
// server had one.
WhoisQuery::Answer WhoisQuery::AskRdapServer(const std::string& url,
                                             std::string& reply,
                                             bool referral) {
  FetchedAnswer fetched;
  try {
    fetched = FetchRdap(url, {.connect_ms = timeout_.ConnectMs(),
                              .total_ms = timeout_.ReplyMs(),
                              .max_bytes = kReplyLimit,
                              .refuse_internal = referral && !first_internal_});
  } catch (const Failure& failure) {
    // As with whois: a failure while reading leaves no reply behind.
    if (failure.number == kReadFailed) reply.clear();
    throw;
  }
  reply = fetched.body;
  if (!referral) first_internal_ = fetched.first_internal;
  if (fetched.status == 429) retry_after_ = fetched.retry_after;
  Answer answer{url, fetched.body, {}};
  if (fetched.status == 404) return answer;
  RdapReply read = ReadRdapReply(fetched.body);
  if (fetched.status < 200 || fetched.status > 299 || read.error_object) {
    RaiseRdapError(fetched, read);
  }
  if (!read.readable) {
    Raise(kReadFailed,
          "Network Error: Unable to read. The answer is not an RDAP JSON "
          "object. URL: " +
              fetched.url);
  }
  answer.parsed.record = std::move(read.record);
  answer.parsed.referral.server = std::move(read.related);
  return answer;
}

// The first server is the one set (PrepareQuery sets the default unless
// the lookup goes across servers), else the table's for the query's
// top-level domain, else the root's, whose referral is followed. A failure
// of the first exchange fails the query.
void WhoisQuery::AskServers(const std::string& query) {
  std::string server = whois_server_;
  int referrals = follow_referral_ ? kMaxReferrals : 0;
  if (server.empty() && network_.kind != QueryKind::kName) {
    server = kNetworkWhoisServer;
    referrals = std::max(referrals, 1);
  }
  if (server.empty()) server = ServerForName(query);
  if (server.empty()) {
    server = kRootWhoisServer;
    referrals = std::max(referrals, 1);
  }
  asked_.push_back(server);
  Exchange(server, query, response_, false);
  answers_.push_back({server, response_, ReadReply(response_)});
  if (const Throttle& throttle = answers_.back().parsed.throttle;
      throttle.throttled) {
    retry_after_ = throttle.wait_seconds;
    RaiseThrottled(throttle);
  }
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
    if (rdap_) {
      answers_.push_back(AskRdapServer(server, reply, true));
      return true;
    }
    Exchange(server, query, reply, true);
  } catch (const Failure& failure) {
    SaveLastError(failure);
    CloseConnection();
    return false;
  }
  ParsedReply parsed = ReadReply(reply);
  Throttle throttle = parsed.throttle;
  answers_.push_back({server, std::move(reply), std::move(parsed)});
  if (throttle.throttled) {
    // The answers so far stay; the limit is recorded as a referral's
    // failure.
    retry_after_ = throttle.wait_seconds;
    try {
      RaiseThrottled(throttle);
    } catch (const Failure& failure) {
      SaveLastError(failure);
    }
    return false;
  }
  return true;
}

bool WhoisQuery::AlreadyAsked(const std::string& server) const {
  if (rdap_) {
    return std::any_of(asked_.begin(), asked_.end(), [&](const auto& asked) {
      return EqualsIgnoringCase(asked, server);
    });
  }
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
    WhoisRecord fields = parsed.record;
    if (!rdap_ && network_.kind != QueryKind::kName) {
      ReadNetworkFields(answers_[i].reply, fields);
    }
    FillEmptyFields(record_, std::move(fields));
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
// whole reply into `reply`, close. A referral that resolves to a loopback
// or private address is refused unless the first server had one.
void WhoisQuery::Exchange(const std::string& server, const std::string& query,
                          std::string& reply, bool referral) {
  if (!connection_.Start()) {
    Raise(kStartupFailed, "Unable to start up Winsock.");
  }
  if (!connection_.Open()) {
    RaiseSocketFailure(kSocketFailed, "Unable to create a Socket. ");
  }
  const int32_t socket = connection_.socket();
  constexpr char kConnectText[] =
      "Unable to establish connection with Whois Server. ";
  net::ServerAddress target = net::SplitServer(server, net::kWhoisPort);
  uint32_t address = net::GetHostAddress(target.host);
  if (address == net::kAddressNone) {
    RaiseSocketFailure(kConnectFailed, kConnectText);
  }
  bool internal = platform::IsInternalAddress(address);
  if (!referral) {
    first_internal_ = internal;
  } else if (internal && !first_internal_) {
    Raise(kQueryRefused, "The referral to " + server +
                             " was not followed: it resolves to a loopback "
                             "or private address.");
  }
  if (!platform::Network().Connect(socket, address, target.port,
                                   timeout_.ConnectMs())) {
    RaiseSocketFailure(kConnectFailed, kConnectText);
  }

  std::string line = WhoisLineFor(server, network_, query) + "\r\n";
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

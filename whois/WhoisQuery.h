// SPDX-License-Identifier: Apache-2.0
// The whois component's one public class: sends one query to a whois
// server, keeps the whole reply and its parsed fields, and offers the
// e-mail routines to page scripts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Collection.h"
#include "frame/Component.h"
#include "net/Connection.h"
#include "whois/BootstrapCache.h"
#include "whois/KeyValueReply.h"
#include "whois/NetworkQuery.h"
#include "whois/ReplyParser.h"

namespace corvane::namewell {

// Source of every failure the component records.
inline constexpr std::string_view kSource = "Namewell";

// The server a query asks when WhoisServer is empty and the caller asked
// for no lookup across servers; it is then kept in WhoisServer.
inline constexpr char kDefaultWhoisServer[] = "whois.verisign-grs.com";

// The server asked in a lookup across servers (FollowReferral True, or
// Protocol "auto" falling back to whois) when WhoisServer is empty and the
// server table lists none for the query's top-level domain; its referral
// is followed.
inline constexpr char kRootWhoisServer[] = "whois.iana.org";

// Further servers a query follows at most when FollowReferral is set.
inline constexpr int kMaxReferrals = 3;

// Failure numbers of SendQuery.
inline constexpr int32_t kQueryRefused = kComponentErrorBase + 1;
inline constexpr int32_t kStartupFailed = kComponentErrorBase + 2;
inline constexpr int32_t kSocketFailed = kComponentErrorBase + 3;
inline constexpr int32_t kConnectFailed = kComponentErrorBase + 4;
inline constexpr int32_t kReadFailed = kComponentErrorBase + 5;
inline constexpr int32_t kWriteFailed = kComponentErrorBase + 6;
// The server limits the rate of queries and answered with a notice (whois)
// or 429 (RDAP) instead of the record.
inline constexpr int32_t kThrottled = kComponentErrorBase + 7;

// Largest reply accepted; a longer one fails the query (kReadFailed).
inline constexpr size_t kReplyLimit = 8 * 1024 * 1024;

class WhoisQuery : public ComponentClass<WhoisQuery> {
 public:
  static ClassInfo Members();
  WhoisQuery() : ComponentClass(kSource) {}
  ~WhoisQuery() override;
  WhoisQuery(const WhoisQuery&) = delete;
  WhoisQuery& operator=(const WhoisQuery&) = delete;

  // The server's name or dotted address, optionally with ":port".
  void WhoisServer(std::string_view value) { whois_server_ = value; }

  // Parsed fields of the last query; empty when the reply lacks them.
  std::string gethostname() const { return record_.host_name; }
  std::string GetCoordinator() const { return record_.coordinator; }
  std::string GetRegistrant() const { return record_.registrant; }
  std::string GetDomainName() const { return record_.domain_name; }
  // The first acceptable address of a contact; empty when it has none.
  std::string GetAdministrativeEmail() const;
  std::string GetTechnicalEmail() const;
  std::string GetZoneEmail() const;
  std::string GetbillingEmail() const;
  std::string GetRecordLastUpdateTime() const { return record_.record_updated; }
  std::string GetRecordCreateTime() const { return record_.record_created; }
  std::string GetDatabaseLastUpdateTime() const {
    return record_.database_updated;
  }
  std::string GetDomainServers() const { return record_.domain_servers; }
  bool IsRecordFound() const { return record_.record_found; }
  std::string GetAdministrativeContact() const {
    return record_.administrative_contact;
  }
  std::string GetTechnicalContact() const { return record_.technical_contact; }
  std::string GetZoneContact() const { return record_.zone_contact; }
  std::string GetBillingContact() const { return record_.billing_contact; }
  // The whole reply of the last query that reached its receive step.
  std::string GetResponse() const { return response_; }

  // Closes what a query left open and drops the context; never fails.
  void OnEndPage() override;
  // One whole exchange with the server, then the parse; false on failure,
  // with the last-error triple set and the description written to the page.
  [[nodiscard]] bool SendQuery(std::string_view strQuery);
  // Every acceptable address of the text; an empty collection when none.
  std::shared_ptr<Collection> ExtractEmail(std::string_view sContact) const;
  // Whether the text passes the address check; false, never a failure.
  bool ValidateEmail(std::string_view sEmail) const;

  // Seconds allowed for the connection and for the whole reply; 0 or below
  // restores the defaults (30 s to connect, 60 s for the reply), and the
  // property then reads 60.
  int32_t Timeout() const { return timeout_.Seconds(); }
  void Timeout(int32_t seconds) { timeout_.seconds = seconds; }

  // The sponsoring registrar; empty when the reply names none.
  std::string GetRegistrar() const { return record_.registrar; }
  // The registration's expiry date as the reply writes it; empty when none.
  std::string GetExpiryTime() const { return record_.expiry_time; }
  // The domain's statuses, one a line; empty when the reply lists none.
  std::string GetDomainStatus() const { return record_.domain_status; }
  // Whether SendQuery follows a reply that names another server (at most
  // three further servers, none twice). A server or link that resolves to
  // a loopback or private address is not followed unless the first server
  // asked was one too (the failure is recorded, the answers so far stay).
  bool FollowReferral() const { return follow_referral_; }
  void FollowReferral(bool value) { follow_referral_ = value; }
  // The servers the last query asked, one a line, in order; empty before
  // the first query.
  std::string GetReferralChain() const;

  // How SendQuery asks: "whois" (the initial value; empty means it too),
  // "rdap", or "auto" (RDAP when RdapServer is set or the bootstrap lists a
  // server for the query's domain, else whois), without regard to case.
  // Read back as set. Any other value makes SendQuery fail (kQueryRefused)
  // without sending anything.
  std::string Protocol() const { return protocol_; }
  void Protocol(std::string_view value) { protocol_ = value; }
  // The RDAP base URL asked instead of the bootstrap's ("https://host/path/");
  // empty (the initial value) means the bootstrap's.
  std::string RdapServer() const { return rdap_server_; }
  void RdapServer(std::string_view value) { rdap_server_ = value; }

  // The seconds a server that limits the rate of queries asked to wait
  // (its notice, or RDAP's Retry-After) in the last query; 0 when it named
  // none or the last query was not limited.
  int32_t GetRetryAfter() const { return retry_after_; }
  // The fields the reply withheld ("Registrant Name" for "REDACTED FOR
  // PRIVACY", RDAP's redacted members), one a line; empty when none.
  std::string GetRedactedFields() const { return record_.redacted_fields; }

  // The folder URL the RDAP bootstrap files (dns.json, ipv4.json, ipv6.json,
  // asn.json) are fetched from; initially $CORVANE_RDAP_BOOTSTRAP_URL, else
  // the registry's. Empty restores that.
  std::string BootstrapUrl() const { return bootstrap_url_; }
  void BootstrapUrl(std::string_view value);
  // Whether an RDAP lookup first renews the cached bootstrap it uses when
  // its HTTP caching says it is stale (False, the initial value: the copy
  // is used as it is, and only UpdateBootstrap fetches). A failed renewal
  // leaves the copy, or the shipped table, in use and fails nothing.
  bool RefreshBootstrap() const { return refresh_bootstrap_; }
  void RefreshBootstrap(bool value) { refresh_bootstrap_ = value; }
  // Fetches the four bootstrap files now (conditionally on the cached
  // copies), each replacing its copy only when it is a bootstrap. False
  // when any fetch failed or was refused, with the last-error triple set;
  // the copies then in place stay.
  [[nodiscard]] bool UpdateBootstrap();
  // What the last UpdateBootstrap did, one line per file; empty before it.
  std::string GetBootstrapStatus() const { return bootstrap_status_; }

  // The fields of an IP address or AS number query (empty for names): the
  // range, the network's or AS's name, its country code and the address
  // for abuse reports.
  std::string GetNetworkRange() const { return record_.network_range; }
  std::string GetNetworkName() const { return record_.network_name; }
  std::string GetCountry() const { return record_.country; }
  std::string GetAbuseEmail() const { return record_.abuse_email; }

 private:
  // One server's answer within a query.
  struct Answer {
    std::string server;
    std::string reply;
    ParsedReply parsed;
  };

  void PrepareQuery();
  [[nodiscard]] bool AsksAcrossServers() const;
  void AskServers(const std::string& query);
  [[nodiscard]] bool FollowOnce(const std::string& query);
  void Exchange(const std::string& server, const std::string& query,
                std::string& reply, bool referral);
  void ParseResponse();
  bool AlreadyAsked(const std::string& server) const;
  void CloseConnection();
  [[nodiscard]] std::string RdapBase(const std::string& query) const;
  [[nodiscard]] std::string NetworkRdapBase() const;
  void AskRdap(const std::string& base, const std::string& query);
  Answer AskRdapServer(const std::string& url, std::string& reply,
                       bool referral);
  std::string FirstEmail(const std::string& contact) const;

  net::Connection connection_;
  std::string whois_server_;
  WhoisRecord record_;
  std::string response_;
  net::TimeoutSetting timeout_;
  bool follow_referral_ = false;
  std::vector<Answer> answers_;
  std::vector<std::string> asked_;
  std::string protocol_ = "whois";
  std::string rdap_server_;
  bool rdap_ = false;  // the current query asks RDAP servers
  // The first server of the current query has a loopback or private
  // address, so its referrals may lead to such addresses too.
  bool first_internal_ = true;
  int32_t retry_after_ = 0;
  std::string bootstrap_url_ = DefaultBootstrapUrl();
  bool refresh_bootstrap_ = false;
  std::string bootstrap_status_;
  NetworkQuery network_;  // what the current query asks for
};

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
// Speed of the whois component's text work: parsing replies of growing
// size in the record format and in the key-value form of today's
// registrars, reading RDAP's JSON answers, extracting addresses from long
// contact texts, and a whole query whose reply is gathered up to the 8 MiB
// bound.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "net/tests/FakeSockets.h"
#include "whois/EmailAddresses.h"
#include "whois/KeyValueReply.h"
#include "whois/RdapReply.h"
#include "whois/ReplyParser.h"
#include "whois/WhoisQuery.h"

namespace corvane::namewell {
namespace {

const std::string kDomainReply =
    "Registrant:\nWidget Works (WIDGET-DOM)\n   1 Main Street\n\n"
    "   Domain Name: WIDGET.ZZ\n\n"
    "   Administrative Contact, Technical Contact, Zone Contact:\n"
    "      Doe, Jan  (JD1)  jan@widget.zz\n      555 0100\n"
    "   Billing Contact:\n      Roe, Kim  (KR2)  kim@widget.zz\n\n"
    "   Record last updated on 01-Oct-98.\n"
    "   Record created on 15-Mar-95.\n"
    "   Database last updated on 5-Dec-98 15:40:41 EST.\n\n"
    "   Domain servers in listed order:\n\n"
    "   NS1.WIDGET.ZZ   10.0.0.1\n   NS2.WIDGET.ZZ   10.0.0.2\n\n";

// A domain reply whose registrant block is padded to about `size` bytes.
std::string LargeReply(size_t size) {
  std::string reply = "Registrant:\n";
  while (reply.size() < size) reply += "   a line of the registrant block\n";
  return reply + kDomainReply.substr(kDomainReply.find("\n\n"));
}

void BM_ParseDomainReply(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseResponse(kDomainReply));
  state.SetBytesProcessed(state.iterations() * kDomainReply.size());
}
BENCHMARK(BM_ParseDomainReply);

void BM_ParseLargeReply(benchmark::State& state) {
  std::string reply = LargeReply(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseResponse(reply));
  state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_ParseLargeReply)->Range(64 << 10, 8 << 20);

// A registrar's reply in the ICANN format, its notice grown to `size`
// bytes with further name servers and notice lines.
std::string RegistrarReply(size_t size) {
  std::ifstream file(CORVANE_WHOIS_REPLIES "/icann-registrar.txt",
                     std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  std::string reply = text.str();
  for (size_t line = 0; reply.size() < size; ++line) {
    reply +=
        line % 4 == 0
            ? "Name Server: NS" + std::to_string(line) + ".EXAMPLE.NET\n"
            : "registration record. By submitting a WHOIS query, you agree "
              "that\n";
  }
  return reply;
}

void BM_KeyValueRegistrarReply(benchmark::State& state) {
  std::string reply = RegistrarReply(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadKeyValues(reply));
  state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_KeyValueRegistrarReply)->Arg(4 << 10)->Range(64 << 10, 8 << 20);

// The record-format parser over the same replies, for comparison.
void BM_LegacyRegistrarReply(benchmark::State& state) {
  std::string reply = RegistrarReply(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseResponse(reply));
  state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_LegacyRegistrarReply)->Arg(4 << 10)->Range(64 << 10, 8 << 20);

// Both, as a query reads a reply.
void BM_ReadRegistrarReply(benchmark::State& state) {
  std::string reply = RegistrarReply(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadReply(reply));
  state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_ReadRegistrarReply)->Arg(4 << 10)->Arg(8 << 20);

// Older and country layouts as a query reads them: an older registrar's
// reply whose contact sections end early, and .it's indented blocks, each
// grown to `size` bytes with further name servers and notice lines.
std::string GrownReply(const char* file, size_t size) {
  std::ifstream in(std::string(CORVANE_WHOIS_REPLIES "/") + file,
                   std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string reply = text.str();
  for (size_t line = 0; reply.size() < size; ++line) {
    reply += line % 4 == 0 ? "  ns" + std::to_string(line) + ".example.it\n"
                           : "registration record. By submitting a WHOIS "
                             "query, you agree that\n";
  }
  return reply;
}

void BM_ReadOlderLayouts(benchmark::State& state) {
  const char* files[] = {"legacy-registrar-no-zone.txt", "it-nic.txt",
                         "legacy-1996.txt"};
  std::string reply =
      GrownReply(files[state.range(1)], static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadReply(reply));
  state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_ReadOlderLayouts)
    ->ArgsProduct({{64 << 10, 1 << 20, 8 << 20}, {0, 1, 2}});

// An RDAP answer with a registrant and an administrative contact, grown to
// about `size` bytes with further name servers and contact entities.
std::string RdapAnswer(size_t size) {
  const std::string contact =
      R"({"roles":["administrative"],"vcardArray":["vcard",[)"
      R"(["fn",{},"text","Kim Roe"],["adr",{},"text",["","",)"
      R"(["1 Main Street","Suite 4"],"Springfield","XX","00000","ZZ"]],)"
      R"(["email",{},"text","kim@widget.zz"]]]})";
  std::string answer =
      R"({"objectClassName":"domain","ldhName":"WIDGET.ZZ","entities":[)" +
      contact;
  std::string servers;
  for (size_t i = 0; answer.size() + servers.size() < size; ++i) {
    if (i % 4 == 0) {
      answer += "," + contact;
    } else {
      servers += R"({"ldhName":"NS)" + std::to_string(i) + R"(.WIDGET.ZZ"},)";
    }
  }
  return answer + R"(],"nameservers":[)" + servers +
         R"({"ldhName":"NS.WIDGET.ZZ"}],"status":["active"]})";
}

// compare.py builds the same answers and times Python's json.loads and
// the same extraction on them; "answer_bytes" lets it check the sizes.
void BM_ReadRdapAnswer(benchmark::State& state) {
  std::string answer = RdapAnswer(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadRdapReply(answer));
  state.SetBytesProcessed(state.iterations() * answer.size());
  state.counters["answer_bytes"] = static_cast<double>(answer.size());
}
BENCHMARK(BM_ReadRdapAnswer)
    ->Arg(4 << 10)
    ->Arg(30 << 10)
    ->Range(64 << 10, 8 << 20);

void BM_ExtractEmail(benchmark::State& state) {
  std::string text;
  while (text.size() < static_cast<size_t>(state.range(0))) {
    text += "Doe, Jan (JD1) jan.doe@widget.zz, 555 0100 (x@y) ";
  }
  for (auto _ : state) benchmark::DoNotOptimize(ExtractEmail(text));
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ExtractEmail)->Range(1 << 10, 1 << 20);

// A whole query against an in-process peer that sends 8 MiB in 1024-byte
// pieces: the cost of gathering a reply at the bound.
void BM_QueryAtTheBound(benchmark::State& state) {
  const std::string piece(1024, 'x');
  for (auto _ : state) {
    state.PauseTiming();
    net::testing::FakeSockets peer;
    for (size_t sent = 0; sent < kReplyLimit; sent += piece.size()) {
      peer.chunks.push_back(piece);
    }
    WhoisQuery query;
    query.WhoisServer("127.0.0.1");
    state.ResumeTiming();
    benchmark::DoNotOptimize(query.SendQuery("widget.zz"));
  }
  state.SetBytesProcessed(state.iterations() * kReplyLimit);
}
BENCHMARK(BM_QueryAtTheBound)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane::namewell

BENCHMARK_MAIN();

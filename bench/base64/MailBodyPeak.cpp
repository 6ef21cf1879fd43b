// SPDX-License-Identifier: Apache-2.0
// The peak memory of building one message with a 64 MiB attachment, against
// the size of its encoded text. Prints the figures and exits non-zero when
// the peak exceeds 2.5 times the encoded size.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "mail/clsMail.h"
#include "mail/modGlobal.h"

namespace {

// A field of /proc/self/status in bytes (VmRSS, VmHWM).
uint64_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
  }
  return 0;
}

void WriteRandomFile(const std::string& path, size_t size) {
  std::ofstream file(path, std::ios::binary);
  std::mt19937_64 random(7);
  std::string block(1 << 20, '\0');
  for (size_t written = 0; written < size; written += block.size()) {
    for (char& c : block) c = static_cast<char>(random());
    file.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

double MiB(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

}  // namespace

int main() {
  using namespace corvane;
  constexpr size_t kFileSize = size_t{64} << 20;
  std::string path =
      (std::filesystem::temp_directory_path() /
       ("mailbody-peak-" + std::to_string(std::random_device{}()) + ".bin"))
          .string();
  WriteRandomFile(path, kFileSize);
  uint64_t before = StatusBytes("VmRSS");
  size_t message_size = 0;
  try {
    penrill::clsMail mail;
    auto to = Collection::New();
    to->Add("someone@example.org");
    auto attach = Collection::New();
    attach->Add(path);
    mail.MailFrom("bench@example.org");
    mail.MailTo(to);
    mail.MailSubject("64 MiB attachment");
    mail.MailContent("See the attachment.\r\n");
    mail.Attach(attach);
    message_size = mail.GetMailBody().size();
  } catch (const Failure& failure) {
    std::cerr << "GetMailBody failed: " << failure.description << "\n";
    std::filesystem::remove(path);
    return 1;
  }
  uint64_t peak = StatusBytes("VmHWM") - before;
  std::filesystem::remove(path);
  auto encoded = static_cast<uint64_t>(
      penrill::GetEncodedLength(static_cast<int64_t>(kFileSize)));
  double ratio = static_cast<double>(peak) / static_cast<double>(encoded);
  std::cout << "GetMailBody with a 64 MiB attachment: encoded " << MiB(encoded)
            << " MiB, message " << MiB(message_size) << " MiB, peak memory "
            << MiB(peak) << " MiB = " << ratio
            << " x encoded (target <= 2.5)\n";
  return ratio <= 2.5 ? 0 : 1;
}

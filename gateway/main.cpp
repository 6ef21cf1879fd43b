// SPDX-License-Identifier: Apache-2.0
// The wharfpost program: a web server starts it once per upload request.
#include "gateway/Wharfpost.h"
#include "platform/Process.h"

int main() {
  corvane::platform::KeepStandardDescriptors();
  return corvane::wharfpost::RunWharfpost();
}

// SPDX-License-Identifier: Apache-2.0
// The wharfpost program: a web server starts it once per upload request.
#include "gateway/Wharfpost.h"

int main() { return corvane::wharfpost::RunWharfpost(); }

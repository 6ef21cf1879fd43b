// SPDX-License-Identifier: Apache-2.0
// A loader audit module for tests (LD_AUDIT): every library whose file name
// begins with $CORVANE_TEST_HIDE is not found, wherever it lies (beside the
// program, on LD_LIBRARY_PATH, in the loader's cache or in /usr/lib). A
// test that needs a library to be missing then holds on any machine,
// whether or not the library is installed.
#define _GNU_SOURCE
#include <link.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

unsigned int la_version(unsigned int version) {
  (void)version;
  return LAV_CURRENT;
}

char* la_objsearch(const char* name, uintptr_t* cookie, unsigned int flag) {
  (void)cookie;
  (void)flag;
  const char* hidden = getenv("CORVANE_TEST_HIDE");
  if (hidden == NULL || *hidden == '\0') return (char*)name;
  const char* slash = strrchr(name, '/');
  const char* file_name = slash ? slash + 1 : name;
  if (strncmp(file_name, hidden, strlen(hidden)) == 0) return NULL;
  return (char*)name;
}

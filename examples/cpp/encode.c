// SPDX-License-Identifier: Apache-2.0
/* Prints the Base64 text of each argument, one a line, with Tallowin's two
 * encoders: the line-broken one into a buffer the caller sizes, and the
 * one-line one into a buffer the library allocates. Exit status 1 when the
 * library cannot allocate. */
#include <Tallowin.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const unsigned char* bytes = (const unsigned char*)argv[i];
    int32_t count = (int32_t)strlen(argv[i]);

    int64_t length = Base64EncodeLength(count);
    char* text = malloc((size_t)length + 1);
    if (text == NULL) return 1;
    Base64Encode(bytes, count, text);
    text[length] = '\0';

    char* line = EncodeBase64Buffer(bytes, count);
    if (line == NULL) {
      free(text);
      return 1;
    }
    printf("%s %s\n", text, line);
    ReleaseBase64Buffer(line);
    free(text);
  }
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// A fast local SMTP sink for the benchmark: it answers every command at
// once with a fixed reply, offers PIPELINING, counts nothing and keeps
// nothing, so that a client's rate against it measures the client rather
// than the server. It prints its port and stops when its standard input
// closes. Each read's complete lines are answered in one write, as a
// server that takes pipelined groups does.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

enum { kMaxClients = 64, kBufferSize = 1 << 16 };

struct client {
  int fd;
  int in_data;  // between DATA's 354 and the lone "."
  size_t used;
  char buffer[kBufferSize];
};

static struct client* clients[kMaxClients];

static int send_all(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t sent = send(fd, text, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return -1;
    text += sent;
    length -= (size_t)sent;
  }
  return 0;
}

static const char* reply_to(const char* line, size_t length, int* in_data,
                            int* quit) {
  if (*in_data) {
    if (length == 1 && line[0] == '.') {
      *in_data = 0;
      return "250 2.0.0 OK\r\n";
    }
    return NULL;
  }
  if (length >= 4 && strncasecmp(line, "EHLO", 4) == 0)
    return "250-sink.localhost\r\n250-PIPELINING\r\n250-8BITMIME\r\n"
           "250 SIZE 104857600\r\n";
  if (length >= 4 && strncasecmp(line, "HELO", 4) == 0)
    return "250 sink.localhost\r\n";
  if (length >= 4 && strncasecmp(line, "DATA", 4) == 0) {
    *in_data = 1;
    return "354 End data with <CR><LF>.<CR><LF>\r\n";
  }
  if (length >= 4 && strncasecmp(line, "QUIT", 4) == 0) {
    *quit = 1;
    return "221 2.0.0 Bye\r\n";
  }
  return "250 2.0.0 OK\r\n";
}

// Answers the complete lines of the client's buffer; -1 when the client is
// done (QUIT or a failed write).
static int serve(struct client* c) {
  static char out[kBufferSize];
  size_t out_used = 0, start = 0;
  int quit = 0;
  for (;;) {
    char* end = memchr(c->buffer + start, '\n', c->used - start);
    if (end == NULL) break;
    size_t length = (size_t)(end - (c->buffer + start));
    if (length > 0 && c->buffer[start + length - 1] == '\r') --length;
    const char* reply = reply_to(c->buffer + start, length, &c->in_data, &quit);
    start = (size_t)(end - c->buffer) + 1;
    if (reply == NULL) continue;
    size_t reply_length = strlen(reply);
    if (out_used + reply_length > sizeof out) {
      if (send_all(c->fd, out, out_used) < 0) return -1;
      out_used = 0;
    }
    memcpy(out + out_used, reply, reply_length);
    out_used += reply_length;
    if (quit) break;
  }
  memmove(c->buffer, c->buffer + start, c->used - start);
  c->used -= start;
  if (out_used > 0 && send_all(c->fd, out, out_used) < 0) return -1;
  return quit ? -1 : 0;
}

int main(void) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {.sin_family = AF_INET,
                                .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, (void*)&address, size) < 0 ||
      listen(listener, 64) < 0 ||
      getsockname(listener, (void*)&address, &size) < 0) {
    perror("sink");
    return 1;
  }
  printf("%d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    struct pollfd polled[kMaxClients + 2];
    int slot_of[kMaxClients + 2];
    nfds_t count = 0;
    polled[count++] = (struct pollfd){.fd = STDIN_FILENO, .events = POLLIN};
    polled[count++] = (struct pollfd){.fd = listener, .events = POLLIN};
    for (int i = 0; i < kMaxClients; ++i) {
      if (clients[i] == NULL) continue;
      slot_of[count] = i;
      polled[count++] = (struct pollfd){.fd = clients[i]->fd, .events = POLLIN};
    }
    if (poll(polled, count, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (polled[0].revents) {
      char ignored[256];
      if (read(STDIN_FILENO, ignored, sizeof ignored) <= 0) return 0;
    }
    if (polled[1].revents & POLLIN) {
      int fd = accept(listener, NULL, NULL);
      int slot = 0;
      while (slot < kMaxClients && clients[slot] != NULL) ++slot;
      if (fd >= 0 && slot < kMaxClients) {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        clients[slot] = calloc(1, sizeof(struct client));
        clients[slot]->fd = fd;
        static const char greeting[] = "220 sink.localhost ESMTP\r\n";
        send_all(fd, greeting, sizeof greeting - 1);
      } else if (fd >= 0) {
        close(fd);
      }
    }
    for (nfds_t i = 2; i < count; ++i) {
      if (polled[i].revents == 0) continue;
      struct client* c = clients[slot_of[i]];
      ssize_t got =
          recv(c->fd, c->buffer + c->used, sizeof c->buffer - c->used, 0);
      if (got > 0) c->used += (size_t)got;
      int done = got <= 0 || serve(c) < 0;
      // A line longer than the buffer is not a command: passed over whole.
      if (c->used == sizeof c->buffer) c->used = 0;
      if (done) {
        close(c->fd);
        free(c);
        clients[slot_of[i]] = NULL;
      }
    }
  }
}

#include "cgi/body.h"

#include "platform/platform.h"

// Leading white space, one sign, digits up to the first other byte, as the C
// runtime reads a decimal; negative or no digits is 0. Saturates at kDrainMax.
static uint64_t length_value(const char* s) {
  if (s == nullptr) return 0;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
  bool neg = *s == '-';
  if (*s == '+' || *s == '-') s++;
  uint64_t v = 0;
  for (; *s >= '0' && *s <= '9'; s++) v = v >= kDrainMax ? kDrainMax : v * 10 + (*s - '0');
  if (neg) return 0;
  return v > kDrainMax ? kDrainMax : v;
}

request_body body_announced() {
  return request_body{length_value(env_get("CONTENT_LENGTH")), 0, false};
}

size_t body_read(request_body* body, char* dst, size_t len) {
  uint64_t left = body->announced - body->consumed;
  if (len > left) len = static_cast<size_t>(left);
  size_t got = len == 0 ? 0 : stdin_read(dst, len, kDrainMillis);
  body->consumed += got;
  if (got < len) body->stalled = true;
  return got;
}

void body_drain(request_body* body) {
  if (body->consumed >= body->announced || body->stalled) return;
  body->consumed += stdin_discard(body->announced - body->consumed, kDrainMillis);
}
